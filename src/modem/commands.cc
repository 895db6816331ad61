// Modem-level commands: channel open and close, the RAT capability query, the standby switch.
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "modem/modem.h"
#include "platform/platform.h"

ModemCapability g_modemCapability = kInitialModemCapability;

namespace {

constexpr int kOpenAttempts = 100;
constexpr int kCapabilityAttempts = 3;
constexpr uint64_t kCapabilityRetryUs = 200000;
constexpr char kDmccPrefix[] = "^DMCC: ";
constexpr size_t kDmccPrefixLength = sizeof(kDmccPrefix) - 1;
constexpr int kDmccLeadingNumbers = 3;
constexpr int kStandbyCommandSize = 20;

// The three leading numbers are only used to tell whether the record was filled.
bool capabilityKnown() {
  return g_modemCapability.dmccValue1 > 0 && g_modemCapability.modemStandbyCount > 0 &&
         g_modemCapability.dmccValue3 > 0;
}

// Stores the numbers after "^DMCC: " in order, extra ones skipped; what a short answer stored
// stays. True once the first standby's RAT mask is stored.
bool parseCapability(const char* response) {
  const char* found = strstr(response, kDmccPrefix);
  if (found == nullptr) return false;
  int32_t* const fields[] = {
      &g_modemCapability.dmccValue1,       &g_modemCapability.modemStandbyCount,
      &g_modemCapability.dmccValue3,       &g_modemCapability.standbyRatCap[0],
      &g_modemCapability.standbyRatCap[1], &g_modemCapability.standbyRatCap[2],
      &g_modemCapability.standbyRatCap[3], &g_modemCapability.standbyRatCap[4],
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

}  // namespace

int openModemChannel() {
  if (modemFd > 0) return 0;
  char path[PATH_MAX];
  // An unmappable path is left empty, so tryOpenDevice refuses it with its own message.
  if (platformPath(kModemDevicePath, path, sizeof path) != 0) path[0] = '\0';
  modemFd = tryOpenDevice(path, O_RDWR, kOpenAttempts);
  if (modemFd < 1) return -1;
  int isOk = 0;
  sendAtSyncOk(modemFd, "AT^DLKS=0\r", &isOk, nullptr, 0);
  return 0;
}

int queryModemCapability(int force) {
  if (force == 0 && capabilityKnown()) return 0;
  char response[AT_CHUNK_SIZE] = {};
  for (int attempt = 0; attempt < kCapabilityAttempts; attempt++) {
    int isOk = 0;
    if (sendAtSyncOk(modemFd, "AT^DMCC?\r", &isOk, response, sizeof response) == 0 && isOk == 1 &&
        parseCapability(response)) {
      return 0;
    }
    platformSleepUs(kCapabilityRetryUs);
  }
  return -1;
}

int switchToStandby(int fd, int standby) {
  if (fd < 0 || standby < 0) {
    LOGE("%s() parameter error: %d, %d", __func__, fd < 0, standby < 0);
    return -1;
  }
  if (standby == g_currentStandby) return 0;
  char cmd[kStandbyCommandSize];
  // Standbys are single digits; an absurd one is sent cut to the buffer.
  if (snprintf(cmd, sizeof cmd, "AT^DMPCHN=%d\r", standby) < 0) return -1;
  int isOk = 0;
  if (sendAtSyncOk(fd, cmd, &isOk, nullptr, 0) != 0 || isOk != 1) return -1;
  g_currentStandby = standby;
  return 0;
}

int closeModemChannel(int keepStandby) {
  if (modemFd <= 0) return 0;
  // Leave the modem on standby 0 for whoever opens the channel next.
  if (keepStandby != 1) switchToStandby(modemFd, 0);
  close(modemFd);
  modemFd = 0;
  forgetTimedOutExchange();
  return 0;
}
