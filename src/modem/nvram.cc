// The NVRAM swap: when a standby wants RATs its modem stack does not offer, the modem's
// per-standby NVRAM is swapped by resetting it.
#include "modem/nvram.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "modem/commands.h"
#include "platform/files.h"
#include "platform/log_lines.h"
#include "platform/platform.h"

namespace {

constexpr int kResetPropertyTries = 10;
constexpr int kPromptClearTries = 3;  // the prompt is cleared with fewer tries than it is put back
constexpr uint64_t kAfterResetPauseUs = 1000000;
// The reset is over when the modem reports it, after at most 10 reads, or at the first 5 s without
// a word: 50 s in all.
constexpr int64_t kResetSilenceUs = 5000000;
constexpr int kResetReads = 10;
constexpr ReportWait kResetWait = {kResetReads * kResetSilenceUs, kResetSilenceUs, kResetReads};
constexpr const char* kResetReports[] = {"^DMRST"};

// The values the reset properties go back to after the swap, kept on the data partition from
// before the first of them is changed until both are back: a crash in between must not leave
// them changed for good. The record holds one line per changed property, in this order, and
// nothing else: anything else found there was not written by the daemon and is not applied.
constexpr mode_t kRestoreRecordMode = 0600;
struct RestoreLine {
  const Property& property;
  const char* value;  // what it goes back to
};
enum RestoreIndex : size_t { kReset, kPrompt };
constexpr RestoreLine kRestoreLines[] = {{prop::kModemReset, "0"}, {prop::kModemResetPrompt, "1"}};
constexpr size_t kRestoreLineCount = sizeof kRestoreLines / sizeof kRestoreLines[0];
constexpr size_t kRecordSize = 128;  // both lines with room to spare

// Which properties the swap changed (indexes of kRestoreLines).
struct ResetRestore {
  bool changed[kRestoreLineCount];
};

bool recordPath(char (&path)[kFilePathSize]) {
  return platformPath(kRestoreRecordPath, path, sizeof path) == 0;
}

// The record's text for the changed properties; its length.
int recordText(const ResetRestore& restore, char (&text)[kRecordSize]) {
  int length = 0;
  for (size_t i = 0; i < kRestoreLineCount; i++) {
    if (!restore.changed[i]) continue;
    length += snprintf(text + length, sizeof text - length, "%s=%s\n",
                       kRestoreLines[i].property.name, kRestoreLines[i].value);
  }
  return length;
}

// Writes the record whole and durably; false (logged) when it cannot be.
bool writeRestoreRecord(const ResetRestore& restore) {
  char path[kFilePathSize], text[kRecordSize];
  int length = recordText(restore, text);
  Replacement record;
  if (recordPath(path) && beginReplacement(record, path, kRestoreRecordMode)) {
    if (fwrite(text, 1, length, record.file) == static_cast<size_t>(length) &&
        commitReplacement(record)) {
      return true;
    }
    abandonReplacement(record);
  }
  LOGE("write \"%s\" fail: %d - %s", kRestoreRecordPath, errno, strerror(errno));
  return false;
}

void removeRestoreRecord(const char* path) {
  if (unlink(path) != 0 && errno == EISDIR) rmdir(path);
}

// Changes one reset property for the reset, but only once the record says how to put it back:
// without the record a crash would leave it changed for good, so the reset then goes ahead with
// the property as it is.
void changeForReset(ResetRestore& restore, size_t line, const char* value, int tries) {
  restore.changed[line] = true;
  if (writeRestoreRecord(restore)) {
    setProp(kRestoreLines[line].property, value, tries);
    return;
  }
  restore.changed[line] = false;
  LOGE("%s left as it is for the reset: what restores it could not be recorded",
       kRestoreLines[line].property.name);
}

// Which changed properties a record's text names: exactly what recordText writes for some set of
// them, or nothing.
bool parseRecord(const char* text, size_t length, ResetRestore& restore) {
  for (unsigned set = 1; set < (1u << kRestoreLineCount); set++) {
    ResetRestore candidate = {};
    for (size_t i = 0; i < kRestoreLineCount; i++) candidate.changed[i] = (set >> i) & 1;
    char expected[kRecordSize];
    int expectedLength = recordText(candidate, expected);
    if (static_cast<size_t>(expectedLength) == length && memcmp(expected, text, length) == 0) {
      restore = candidate;
      return true;
    }
  }
  return false;
}

// The record a crash left, or a swap whose flags could not all be put back. One the daemon did not
// write is removed unapplied.
enum class RecordFound { kNone, kValid, kForeign };
RecordFound readRestoreRecord(const char* path, ResetRestore& restore) {
  char text[kRecordSize];
  ssize_t length = readRegularFile(path, text, sizeof text);
  if (length < 0 && errno == ENOENT) return RecordFound::kNone;
  if (length >= 0 && parseRecord(text, static_cast<size_t>(length), restore)) {
    return RecordFound::kValid;
  }
  LOGE("\"%s\" is not a record this daemon wrote (%s): nothing of it applied, removed", path,
       length < 0 ? strerror(errno) : "unknown content");
  removeRestoreRecord(path);
  return RecordFound::kForeign;
}

// Puts every changed property back; the record goes only once all of them are back, so that a
// refused write is tried again at the next start rather than lost.
void putBack(const ResetRestore& restore, const char* path) {
  bool allBack = true;
  for (size_t i = 0; i < kRestoreLineCount; i++) {
    if (restore.changed[i] &&
        setProp(kRestoreLines[i].property, kRestoreLines[i].value, kResetPropertyTries) != 0) {
      allBack = false;
    }
  }
  if (allBack) {
    removeRestoreRecord(path);
  } else {
    LOGE("the modem reset properties are not all back: \"%s\" kept for the next start", path);
  }
}

}  // namespace

void keepModemNvram() {
  LOGD(logline::kSwitchNvram, "false");
  setProp(prop::kSwapNvram, "0", kResetPropertyTries);
}

void swapModemNvram(ModemLink& link) {
  LOGD(logline::kSwitchNvram, "true");
  setProp(prop::kSwapNvram, "1", kResetPropertyTries);
  // A record an earlier swap of this run could not clear still names what it changed: kept in
  // this one, so that a new record never drops it.
  ResetRestore restore = {};
  char path[kFilePathSize];
  bool recordable = recordPath(path);
  if (recordable) readRestoreRecord(path, restore);
  char value[PROPERTY_VALUE_SIZE];
  getProp(prop::kModemReset, value, "1");
  if (value[0] == '0') changeForReset(restore, kReset, "1", kResetPropertyTries);
  getProp(prop::kModemResetPrompt, value, "0");
  if (value[0] != '0') changeForReset(restore, kPrompt, "0", kPromptClearTries);

  sendAtSyncOk(link, modemCommand(ModemCommand::kLock));
  if (writeAtCommand(link, modemCommand(ModemCommand::kReset)) == 0) {
    waitForReport(link, kResetReports, 1, kResetWait);
  }
  platformSleepUs(kAfterResetPauseUs);
  closeModemChannel(link, true);

  if (recordable && (restore.changed[kReset] || restore.changed[kPrompt])) putBack(restore, path);
}

void restoreInterruptedSwap() {
  char path[kFilePathSize];
  ResetRestore restore = {};
  if (!recordPath(path)) return;
  if (readRestoreRecord(path, restore) != RecordFound::kValid) return;
  LOGE("an NVRAM swap was interrupted: restoring the modem reset properties");
  putBack(restore, path);
}
