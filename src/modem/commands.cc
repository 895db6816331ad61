// Modem-level commands: channel open and close, the RAT capability query, the standby switch.
#include "modem/commands.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"
#include "platform/text.h"

namespace {

constexpr int kCapabilityAttempts = 3;
constexpr uint64_t kCapabilityRetryUs = 200000;
constexpr char kDmccPrefix[] = "^DMCC: ";
constexpr size_t kDmccPrefixLength = sizeof(kDmccPrefix) - 1;
constexpr int kDmccLeadingNumbers = 3;
constexpr int kStandbyCommandSize = 20;

// The three leading numbers are only used to tell whether the record was filled.
bool capabilityKnown(const ModemCapability& capability) {
  return capability.dmccValue1 > 0 && capability.modemStandbyCount > 0 && capability.dmccValue3 > 0;
}

}  // namespace

bool parseCapability(const AtResponse& response, ModemCapability& capability) {
  const char* found = strstr(response.text, kDmccPrefix);
  if (found == nullptr) return false;
  int32_t* const fields[] = {
      &capability.dmccValue1,       &capability.modemStandbyCount, &capability.dmccValue3,
      &capability.standbyRatCap[0], &capability.standbyRatCap[1],  &capability.standbyRatCap[2],
      &capability.standbyRatCap[3], &capability.standbyRatCap[4],
  };
  int stored = 0;
  const char* cursor = found + kDmccPrefixLength;
  size_t length = 0;
  while (stored < static_cast<int>(sizeof fields / sizeof fields[0])) {
    const char* token = nextToken(&cursor, &length);
    if (token == nullptr) break;
    *fields[stored++] = atoi(token);  // the number ends at its first non-digit
  }
  return stored > kDmccLeadingNumbers;
}

void openModemChannel(ModemLink& link) {
  if (!link.isOpen()) openModemLine(link);
}

bool queryModemCapability(ModemLink& link, bool force) {
  if (!force && capabilityKnown(link.capability)) return true;
  AtResponse response = {};
  for (int attempt = 0; attempt < kCapabilityAttempts; attempt++) {
    if (sendAtSyncOk(link, "AT^DMCC?\r", &response).succeeded() &&
        parseCapability(response, link.capability)) {
      return true;
    }
    platformSleepUs(kCapabilityRetryUs);
  }
  return false;
}

bool switchToStandby(ModemLink& link, int standby) {
  // A channel closed after use passes here and is refused by the exchange.
  if (link.neverOpened() || standby < 0) {
    LOGE("%s() parameter error: %d, %d", __func__, link.neverOpened(), standby < 0);
    return false;
  }
  if (standby == link.currentStandby) return true;
  char cmd[kStandbyCommandSize];
  // Standbys are single digits; an absurd one would be sent cut to the buffer.
  if (snprintf(cmd, sizeof cmd, "AT^DMPCHN=%d\r", standby) < 0) return false;
  if (!sendAtSyncOk(link, cmd).succeeded()) return false;
  link.currentStandby = standby;
  return true;
}

void closeModemChannel(ModemLink& link, bool keepStandby) {
  if (!link.isOpen()) return;
  // Leave the modem on standby 0 for whoever opens the channel next.
  if (!keepStandby) switchToStandby(link, 0);
  closeLine(link.line);
  // A late answer does not outlive the channel.
  link.lateAnswerPending = false;
  link.carried[0] = '\0';
}
