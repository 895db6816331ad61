// What the modem reports of itself: the RATs each of its standbys supports.
#pragma once

#include <stdint.h>

// Standbys are the modem's protocol stacks; each is served by one rild instance.
constexpr int MAX_STANDBY = 5;

// The modem's answer to "AT^DMCC?": three leading numbers and one RAT mask per standby.
struct ModemCapability {
  int32_t dmccValue1;
  int32_t modemStandbyCount;
  int32_t dmccValue3;
  int32_t standbyRatCap[MAX_STANDBY];
};

// Until the modem answers, every standby is assumed to support GSM only.
constexpr ModemCapability kInitialModemCapability = {0, 0, 0, {1, 1, 1, 1, 1}};
