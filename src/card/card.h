// SIM cards: the per-slot card records, the card history file, the card-info query and the IMEI
// check.
#pragma once

#include "card/record.h"
#include "modem/modem.h"
#include "profile/profile.h"

// Everything known of the cards: one record per slot, which slots hold a card, and the history.
struct Cards {
  CardInfo cardInfo[MAX_SIM] = {CARD_INFO_RESET, CARD_INFO_RESET, CARD_INFO_RESET, CARD_INFO_RESET,
                                CARD_INFO_RESET};
  uint32_t dual_sim_online = 0;  // bit i: slot i holds a card
  saved_card_info_st savedCardInfo = {};
};

// ---- Card history ---------------------------------------------------------------------------

// True when the whole file was read; otherwise the record holds what was read and zeros.
bool readSavedCardInfo(saved_card_info_st& info);
bool writeSavedCardInfo(const saved_card_info_st& info);
// Brings the history up to date from the first simCount card records.
void updateSavedCardInfo(saved_card_info_st& info, const CardInfo (&cards)[MAX_SIM],
                         int32_t simCount);

// ---- Card-info query ----------------------------------------------------------------------------

// Fills one slot's record from the modem: presence, identity, IMSI and type (the latter two from
// the history when it knows the card), and the home-network class under the profile's target.
void queryCardInfo(ModemLink& link, int slot, CardInfo& card, const ProjectProfile& profile,
                   const saved_card_info_st& history);
bool queryCardInfoStatus(ModemLink& link, CardInfo& card);
void queryCardInfoID(ModemLink& link, CardInfo& card);
void queryCardInfoIMSI(ModemLink& link, CardInfo& card);
void queryCardInfoType(ModemLink& link, CardInfo& card);

// ---- IMEI check ---------------------------------------------------------------------------------

// On request ("persist.sys.vx.check.imei"), gives standby 1 the IMEI of standby 0 when its own is
// missing or zero.
void checkIMEI(ModemLink& link, int32_t simCount);
