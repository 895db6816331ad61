// The NVRAM swap: when a standby wants RATs its modem stack does not offer, the modem's
// per-standby NVRAM is swapped by resetting it.
#include <string.h>

#include "modem/modem.h"
#include "platform/platform.h"

namespace {

constexpr char kSwapStandby[] = "sys.vx.swap.nvram.standby";
constexpr char kModemReset[] = "persist.sys.modem.reset";
constexpr char kModemResetPrompt[] = "persist.sys.modem.reset.prompt";
constexpr int kResetPropertyTries = 10;
constexpr int kResetChunkLimitS = 5;
constexpr int kResetChunks = 10;
constexpr uint64_t kAfterResetPauseUs = 1000000;

void waitForModemReset(ModemLink& link) {
  char chunk[AT_CHUNK_SIZE];
  for (int i = 0; i < kResetChunks; i++) {
    if (readAtWithTimeout(link, chunk, kResetChunkLimitS) != 0) return;
    if (strstr(chunk, "^DMRST") != nullptr) return;
  }
}

}  // namespace

void keepModemNvram() {
  LOGD("is switch nvram(%s)", "false");
  setProp(kSwapStandby, "0", kResetPropertyTries);
}

void swapModemNvram(ModemLink& link) {
  char value[PROPERTY_VALUE_SIZE];
  LOGD("is switch nvram(%s)", "true");
  setProp(kSwapStandby, "1", kResetPropertyTries);
  getProp(kModemReset, value, "1");
  bool resetRaised = value[0] == '0';
  if (resetRaised) setProp(kModemReset, "1", kResetPropertyTries);
  getProp(kModemResetPrompt, value, "0");
  bool promptLowered = value[0] != '0';
  if (promptLowered) setProp(kModemResetPrompt, "0", 3);

  sendAtSyncOk(link, "AT^DLKS=1\r");
  if (writeAtCommand(link, "AT^DSRST\r") == 0) waitForModemReset(link);
  platformSleepUs(kAfterResetPauseUs);
  closeModemChannel(link, true);

  if (resetRaised) setProp(kModemReset, "0", kResetPropertyTries);
  if (promptLowered) setProp(kModemResetPrompt, "1", kResetPropertyTries);
}
