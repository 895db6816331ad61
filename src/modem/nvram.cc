// The NVRAM swap: when a standby wants RATs its modem stack does not offer, the modem's
// per-standby NVRAM is swapped by resetting it.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "modem/modem.h"
#include "platform/platform.h"

namespace {

constexpr char kModemReset[] = "persist.sys.modem.reset";
constexpr char kModemResetPrompt[] = "persist.sys.modem.reset.prompt";
constexpr int kResetPropertyTries = 10;
constexpr int kPromptClearTries = 3;  // the prompt is cleared with fewer tries than it is put back
constexpr int kResetChunkLimitS = 5;
constexpr int kResetChunks = 10;
constexpr uint64_t kAfterResetPauseUs = 1000000;
// The values the reset properties go back to after the swap, kept on the data partition from
// before the first of them is changed until both are back: a crash in between must not leave
// them changed for good.
constexpr char kRestoreRecordPath[] = "/data/vantorel/radio/modem_reset.restore";
constexpr mode_t kRestoreRecordMode = 0600;
constexpr const char* kRestorable[] = {kModemReset, kModemResetPrompt};

struct ResetRestore {
  bool reset;   // "persist.sys.modem.reset" goes back to "0"
  bool prompt;  // "persist.sys.modem.reset.prompt" goes back to "1"
};

bool recordPath(char (&path)[kFilePathSize]) {
  return platformPath(kRestoreRecordPath, path, sizeof path) == 0;
}

// Writes the record whole before a property it names is changed; logged when it cannot.
void writeRestoreRecord(const ResetRestore& restore) {
  char path[kFilePathSize];
  Replacement record;
  if (recordPath(path) && beginReplacement(record, path, kRestoreRecordMode)) {
    if (restore.reset) fprintf(record.file, "%s=0\n", kModemReset);
    if (restore.prompt) fprintf(record.file, "%s=1\n", kModemResetPrompt);
    if (commitReplacement(record)) return;
  }
  LOGE("write \"%s\" fail: %d - %s", kRestoreRecordPath, errno, strerror(errno));
}

void removeRestoreRecord() {
  char path[kFilePathSize];
  if (recordPath(path)) unlink(path);
}

// A record line naming one of the reset properties and the value it goes back to.
bool restorable(const char* line, const char** name, const char** value) {
  for (const char* known : kRestorable) {
    size_t length = strlen(known);
    if (strncmp(line, known, length) == 0 && line[length] == '=') {
      *name = known;
      *value = line + length + 1;
      return true;
    }
  }
  return false;
}

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
  setProp(kSwapNvramProperty, "0", kResetPropertyTries);
}

void swapModemNvram(ModemLink& link) {
  char value[PROPERTY_VALUE_SIZE];
  LOGD("is switch nvram(%s)", "true");
  setProp(kSwapNvramProperty, "1", kResetPropertyTries);
  ResetRestore restore = {false, false};
  getProp(kModemReset, value, "1");
  restore.reset = value[0] == '0';
  if (restore.reset) {
    writeRestoreRecord(restore);
    setProp(kModemReset, "1", kResetPropertyTries);
  }
  getProp(kModemResetPrompt, value, "0");
  restore.prompt = value[0] != '0';
  if (restore.prompt) {
    writeRestoreRecord(restore);
    setProp(kModemResetPrompt, "0", kPromptClearTries);
  }

  sendAtSyncOk(link, "AT^DLKS=1\r");
  if (writeAtCommand(link, "AT^DSRST\r") == 0) waitForModemReset(link);
  platformSleepUs(kAfterResetPauseUs);
  closeModemChannel(link, true);

  if (restore.reset) setProp(kModemReset, "0", kResetPropertyTries);
  if (restore.prompt) setProp(kModemResetPrompt, "1", kResetPropertyTries);
  if (restore.reset || restore.prompt) removeRestoreRecord();
}

void restoreInterruptedSwap() {
  char path[kFilePathSize];
  if (!recordPath(path)) return;
  FILE* file = openForReading(path);
  if (file == nullptr) return;
  LOGE("an NVRAM swap was interrupted: restoring the modem reset properties");
  char line[PROPERTY_VALUE_SIZE * 2];
  while (fgets(line, sizeof line, file) != nullptr) {
    line[strcspn(line, "\n")] = '\0';
    const char *name, *value;
    if (restorable(line, &name, &value)) setProp(name, value, kResetPropertyTries);
  }
  fclose(file);
  unlink(path);
}
