// Modem capability check and NVRAM swap: when a standby wants RATs its modem stack does not
// offer, the modem's per-standby NVRAM is swapped by resetting it.
#include <stdint.h>
#include <string.h>

#include "modem/modem.h"
#include "platform/platform.h"
#include "profile/profile.h"
#include "rat/rat.h"

int g_isSwitchModem = 0;

namespace {

constexpr char kSwapStandby[] = "sys.vx.swap.nvram.standby";
constexpr char kModemReset[] = "persist.sys.modem.reset";
constexpr char kModemResetPrompt[] = "persist.sys.modem.reset.prompt";
constexpr int kResetPropertyTries = 10;
constexpr int kResetChunkLimitS = 5;
constexpr int kResetChunks = 10;
constexpr uint64_t kAfterResetPauseUs = 1000000;

bool offers(int standby, RatMask wanted) {
  RatMask capability = static_cast<RatMask>(g_modemCapability.standbyRatCap[standby]);
  return (capability & wanted) == wanted;
}

int checkedStandbys() {
  return g_projectProfile.standbyCount < MAX_STANDBY ? g_projectProfile.standbyCount : MAX_STANDBY;
}

// True when every standby's wanted RATs are offered by the modem's same standby. Otherwise it
// reports a wanted set that no standby of the modem offers at all.
bool everyStandbyServed() {
  int count = checkedStandbys();
  for (int i = 0; i < count; i++) {
    if (offers(i, g_standbyRat[i])) continue;
    bool offeredElsewhere = false;
    for (int j = 0; j < count && !offeredElsewhere; j++)
      offeredElsewhere = offers(j, g_standbyRat[i]);
    if (!offeredElsewhere) {
      LOGE(
          "ERROR: AP and Modem are unmatched since Modem does not support the RAT that AP "
          "expected.");
    }
    return false;
  }
  return true;
}

void waitForModemReset() {
  char chunk[AT_CHUNK_SIZE];
  for (int i = 0; i < kResetChunks; i++) {
    if (readAtWithTimeout(modemFd, chunk, kResetChunkLimitS) != 0) return;
    if (strstr(chunk, "^DMRST") != nullptr) return;
  }
}

void keepNvram() {
  LOGD("is switch nvram(%s)", "false");
  setProp(kSwapStandby, "0", kResetPropertyTries);
  g_isSwitchModem = 0;
}

void swapNvram() {
  char value[PROPERTY_VALUE_SIZE];
  LOGD("is switch nvram(%s)", "true");
  g_isSwitchModem = 1;
  setProp(kSwapStandby, "1", kResetPropertyTries);
  getProp(kModemReset, value, "1");
  bool resetRaised = value[0] == '0';
  if (resetRaised) setProp(kModemReset, "1", kResetPropertyTries);
  getProp(kModemResetPrompt, value, "0");
  bool promptLowered = value[0] != '0';
  if (promptLowered) setProp(kModemResetPrompt, "0", 3);

  int isOk = 0;
  sendAtSyncOk(modemFd, "AT^DLKS=1\r", &isOk, nullptr, 0);
  if (writeAtCommand(modemFd, "AT^DSRST\r") == 0) waitForModemReset();
  platformSleepUs(kAfterResetPauseUs);
  closeModemChannel(1);

  if (resetRaised) setProp(kModemReset, "0", kResetPropertyTries);
  if (promptLowered) setProp(kModemResetPrompt, "1", kResetPropertyTries);
}

}  // namespace

int switchModemNvram(int force) {
  if (g_projectProfile.manualRatMask != NO_MANUAL_RAT_MASK) return 0;
  switchToStandby(modemFd, 0);
  bool keep =
      queryModemCapability(force) != 0 || g_projectProfile.standbyCount < 1 || everyStandbyServed();
  if (keep) {
    keepNvram();
  } else {
    swapNvram();
  }
  return 0;
}
