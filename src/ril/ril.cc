// rild configuration files and the start or restart of the rild instances.
#include "ril/ril.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/log_lines.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "ril/rild_file.h"

namespace {

constexpr size_t kPathSize = kFilePathSize - 16;
// rild reads its file as the daemon's user or through the group the data directory is shared with.
constexpr mode_t kRildConfigMode = 0640;
constexpr int kOldLineSize = 100;
constexpr size_t kRildFileSize = 512;  // every key with the longest values fits
constexpr int kInitRequestTries = 5;
constexpr uint64_t kInitRequestPauseUs = 100000;

// Trims leading and trailing white space in place and returns the start of the text.
char* trimmed(char* text) {
  while (isspace(static_cast<unsigned char>(*text))) text++;
  size_t n = strlen(text);
  while (n > 0 && isspace(static_cast<unsigned char>(text[n - 1]))) text[--n] = '\0';
  return text;
}

// Compares the DSTMEX lines of the standby's old file with the new text. Any difference,
// including an old text that merely continues the new one, means the standby's RATs changed.
bool dstmexChanged(int standby, const char* dstmex, const char* path) {
  FILE* file = openForReading(path);
  if (file == nullptr) return false;
  bool restartRIL = false;
  char line[kOldLineSize] = {};
  while (fgets(line, kOldLineSize - 1, file) != nullptr) {
    char* key = strstr(line, "DSTMEX");
    char* eq = key == nullptr ? nullptr : strchr(key, '=');
    if (eq != nullptr) {
      const char* oldDstmex = trimmed(eq + 1);
      if (strcmp(oldDstmex, dstmex) != 0) restartRIL = true;
      LOGI(logline::kOldDstmex, standby, oldDstmex, dstmex, restartRIL);
    }
    memset(line, 0, sizeof line);
  }
  fclose(file);
  return restartRIL;
}

// rild reads the file at any time: it is replaced whole, never seen half-written.
void writeRildConfig(const RildConfig& config, const char* path) {
  char text[kRildFileSize];
  int length = formatRildConfig(config, text, sizeof text);
  if (length > 0 && fileHolds(path, kRildConfigMode, text, static_cast<size_t>(length))) return;
  Replacement replacement;
  if (length > 0 && beginReplacement(replacement, path, kRildConfigMode)) {
    if (fwrite(text, 1, length, replacement.file) == static_cast<size_t>(length) &&
        commitReplacement(replacement)) {
      return;
    }
    abandonReplacement(replacement);
  }
  LOGE("write RILD config file \"%s\" failed.", path);
}

// Where standby's file lives; false when its path does not fit.
bool rildPath(int standby, char (&path)[kFilePathSize]) {
  char base[kPathSize];
  path[0] = '\0';
  if (platformPath(kRildConfigBasePath, base, sizeof base) != 0) return false;
  snprintf(path, sizeof path, "%s%d", base, standby);
  return true;
}

void requestRild(int standby, bool restartRIL, bool isSwitchModem) {
  char service[32], state[PROPERTY_VALUE_SIZE];
  formatName(kRildService.name, standby, service, sizeof service);
  getProp(prop::kRildState, standby, state, "stopped");
  RildRequest request = rildRequest(state, restartRIL, isSwitchModem);
  if (request == RildRequest::kNone) return;
  LOGE(logline::kRildRequest, service);
  setProp(request == RildRequest::kStart ? prop::kStart : prop::kRestart, service,
          kInitRequestTries);
  platformSleepUs(kInitRequestPauseUs);
}

}  // namespace

RildRequest rildRequest(const char* serviceState, bool restartRIL, bool isSwitchModem) {
  if (strcmp(serviceState, "stopped") == 0) return RildRequest::kStart;
  return restartRIL && !isSwitchModem ? RildRequest::kRestart : RildRequest::kNone;
}

void startRildService(const ProjectProfile& profile, const CardInfo (&cards)[MAX_SIM],
                      const RadioPlan& plan, bool isSwitchModem, int hotplug_sim) {
  LOGI(logline::kRildRound, isSwitchModem, hotplug_sim);
  for (int standby = 0; standby < profile.standbyCount && standby < MAX_STANDBY; standby++) {
    char path[kFilePathSize];
    rildPath(standby, path);
    const char* dstmex = plan.standbyDSTMEX[standby];
    bool restartRIL = !isSwitchModem && dstmexChanged(standby, dstmex, path);
    writeRildConfig(rildConfigFor(profile, cards, plan, standby), path);
    if (standby == hotplug_sim) {
      LOGE(logline::kRildHotplugRestart, 1, hotplug_sim);
      restartRIL = true;
    }
    requestRild(standby, restartRIL, isSwitchModem);
  }
}

bool rildFileCardID(int standby, char (&cardID)[CARD_ID_SIZE]) {
  char path[kFilePathSize], text[kRildFileSize];
  RildConfig config;
  const char* badKey = nullptr;
  ssize_t length = rildPath(standby, path) ? readRegularFile(path, text, sizeof text) : -1;
  if (length < 0 || !parseRildConfig(text, static_cast<size_t>(length), config, &badKey)) {
    return false;
  }
  copyText(cardID, config.cardID);
  return true;
}
