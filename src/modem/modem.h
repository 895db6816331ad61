// The modem: its AT channel, the modem-level commands and the NVRAM swap.
#pragma once

#include "modem/capability.h"
#include "modem/channel.h"

// ---- Modem commands -----------------------------------------------------------------------------

// Opens the device node (unless open) and unlocks the channel with "AT^DLKS=0".
void openModemChannel(ModemLink& link);
// Fills link.capability from "AT^DMCC?" (three attempts); without force a filled record is kept.
// True when it holds a parsed answer.
bool queryModemCapability(ModemLink& link, bool force);
// Points the channel at a standby ("AT^DMPCHN"), unless it is there already. True when it is.
bool switchToStandby(ModemLink& link, int standby);
// Closes the channel, first switching it back to standby 0 unless keepStandby.
void closeModemChannel(ModemLink& link, bool keepStandby);

// ---- NVRAM swap ---------------------------------------------------------------------------------

// "1" while the NVRAM is swapped, "0" once a check kept it.
constexpr char kSwapNvramProperty[] = "sys.vx.swap.nvram.standby";

// The modem's NVRAM stays: announced in kSwapNvramProperty.
void keepModemNvram();
// Swaps the modem's NVRAM by resetting it ("AT^DSRST"), with the persistent reset flags raised
// around the reset; leaves the channel closed.
void swapModemNvram(ModemLink& link);
// Puts the reset flags back when the last run died during a swap (its record is on the data
// partition until both are back).
void restoreInterruptedSwap();
