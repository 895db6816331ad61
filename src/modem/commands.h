// Modem-level commands on the AT channel: opening and closing it, the modem's RAT capability and
// the standby switch.
#pragma once

#include "modem/exchange.h"
#include "modem/modem_capability.h"

// Opens the device node (unless open) and unlocks the channel with "AT^DLKS=0".
void openModemChannel(ModemLink& link);
// Fills link.capability from "AT^DMCC?" (three attempts); without force a filled record is kept.
// True when it holds a parsed answer.
bool queryModemCapability(ModemLink& link, bool force);
// Reads an "AT^DMCC?" answer: the numbers after "^DMCC: " in order, extra ones skipped; what a
// short answer stored stays. True once the first standby's RAT mask is stored.
bool parseCapability(const AtResponse& response, ModemCapability& capability);
// Points the channel at a standby ("AT^DMPCHN"), unless it is there already. True when it is.
bool switchToStandby(ModemLink& link, int standby);
// Closes the channel, first switching it back to standby 0 unless keepStandby.
void closeModemChannel(ModemLink& link, bool keepStandby);
