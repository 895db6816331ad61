// IMEI consistency check.
#pragma once

#include <stdint.h>

#include "modem/exchange.h"

// On request ("persist.sys.vx.check.imei"), gives standby 1 the IMEI of standby 0 when its own is
// missing or zero.
void checkIMEI(ModemLink& link, int32_t simCount);
