// Modem-level commands on the AT channel: opening and closing it, the modem's RAT capability and
// the standby switch; and the table of every command the modem folder sends.
#pragma once

#include "modem/exchange.h"
#include "modem/modem_capability.h"

// The modem folder's commands, one row each: text, information-line prefix, report asked for,
// attempts, pause after a failed attempt, bound on each exchange, whether it concerns the current
// standby. Readers: "AT^DMCC?" is read by parseCapability; the rest are judged by their code.
enum class ModemCommand { kUnlock, kLock, kCapability, kSwitch, kReset };
constexpr AtCommand kModemCommands[] = {
    {"AT^DLKS=0", nullptr, nullptr, 1, 0, kAtExchangeBoundUs, false},
    {"AT^DLKS=1", nullptr, nullptr, 1, 0, kAtExchangeBoundUs, false},
    {"AT^DMCC?", "^DMCC: ", nullptr, kAtRetryAttempts, 200000, kAtExchangeBoundUs, false},
    {"AT^DMPCHN=%s", nullptr, nullptr, 1, 0, kAtExchangeBoundUs, false},
    // Written only: the reset's end is a report (waitForReport), not a final result code.
    {"AT^DSRST", nullptr, nullptr, 1, 0, 0, false},
};
constexpr const AtCommand& modemCommand(ModemCommand c) {
  return kModemCommands[static_cast<int>(c)];
}

// Opens the device node (unless open) and unlocks the channel with "AT^DLKS=0".
void openModemChannel(ModemLink& link);
// Fills link.capability from "AT^DMCC?" (its attempts); without force a filled record is kept.
// True when it holds a parsed answer.
bool queryModemCapability(ModemLink& link, bool force);
// Reads an "AT^DMCC?" answer: the numbers of its "^DMCC: " line in order, extra ones skipped; what
// a short answer stored stays. True once the first standby's RAT mask is stored.
bool parseCapability(const AtAnswer& answer, ModemCapability& capability);
// Points the channel at a standby ("AT^DMPCHN"), unless it is known to be there already. True
// when it is.
bool switchToStandby(ModemLink& link, int standby);
// Closes the channel, first switching it back to standby 0 unless keepStandby.
void closeModemChannel(ModemLink& link, bool keepStandby);
