// The card-info query: presence, identity, IMSI, type and home-network class of one slot's card,
// asked of the modem.
#pragma once

#include "card/record.h"
#include "modem/exchange.h"
#include "profile/profile.h"

// Fills one slot's record from the modem: presence, identity, IMSI and type (the latter two from
// the history when it knows the card), and the home-network class under the profile's target.
void queryCardInfo(ModemLink& link, int slot, CardInfo& card, const ProjectProfile& profile,
                   const saved_card_info_st& history);
bool queryCardInfoStatus(ModemLink& link, CardInfo& card);
void queryCardInfoID(ModemLink& link, CardInfo& card);
void queryCardInfoIMSI(ModemLink& link, CardInfo& card);
void queryCardInfoType(ModemLink& link, CardInfo& card);
