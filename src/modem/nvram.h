// The NVRAM swap: the modem's per-standby NVRAM swapped by resetting it, with the persistent reset
// flags raised around the reset and put back after it, even across a crash.
#pragma once

#include "modem/exchange.h"

// The modem's NVRAM stays: announced in "sys.vx.swap.nvram.standby".
void keepModemNvram();
// Swaps the modem's NVRAM by resetting it ("AT^DSRST"), with the persistent reset flags raised
// around the reset; leaves the channel closed.
void swapModemNvram(ModemLink& link);
// Puts the reset flags back when the last run died during a swap (its record is on the data
// partition until both are back).
void restoreInterruptedSwap();
