// The card history file, "/data/vantorel/radio/radio.cfg": read and written in four pieces, the
// file replaced whole so that a crash or a full disk never leaves a part of a new history.
#include "card/history_file.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "platform/files.h"
#include "platform/log_lines.h"
#include "platform/platform.h"

namespace {

// Only the daemon reads its history: it names the cards and their IMSIs.
constexpr mode_t kHistoryMode = 0600;

// The file is read and written in these four blocks, in this order.
struct FilePiece {
  size_t offset;
  size_t itemSize;
  size_t itemCount;
};
constexpr FilePiece kFilePieces[] = {
    {offsetof(saved_card_info_st, m_reserved), sizeof(int32_t), 1},
    {offsetof(saved_card_info_st, m_slotCardID), CARD_ID_SIZE, MAX_SIM},
    {offsetof(saved_card_info_st, m_nextIndex), sizeof(int32_t), 1},
    {offsetof(saved_card_info_st, m_history), sizeof(CardInfo), CARD_HISTORY_ENTRIES},
};

static_assert(sizeof(kFilePieces) / sizeof(kFilePieces[0]) == 4 &&
                  offsetof(saved_card_info_st, m_history) +
                          sizeof(CardInfo) * CARD_HISTORY_ENTRIES ==
                      kHistoryFileSize,
              "the pieces cover the file");

// Where the history lives; false (logged) when its path does not fit.
bool historyPath(char (&path)[kFilePathSize]) {
  if (platformPath(kCardHistoryPath, path, sizeof path) == 0) return true;
  LOGE("%s() path too long: %s", "historyPath", kCardHistoryPath);
  return false;
}

void logOpenFailure(const char* path) { LOGE(logline::kOpenFailed, path, errno, strerror(errno)); }

}  // namespace

bool readSavedCardInfo(saved_card_info_st& info) {
  info = {};
  char path[kFilePathSize];
  if (!historyPath(path)) return false;
  FILE* file = openForReading(path);
  if (file == nullptr) {
    logOpenFailure(path);
    return false;
  }
  unsigned char image[kHistoryFileSize] = {};
  bool result = true;
  for (const FilePiece& piece : kFilePieces) {
    errno = 0;  // a short read at the end of the file sets none
    size_t got = fread(image + piece.offset, piece.itemSize, piece.itemCount, file);
    if (got != piece.itemCount) {
      LOGE("fread() fail: return %d != %d, %d - %s", static_cast<int>(got),
           static_cast<int>(piece.itemCount), errno, strerror(errno));
      result = false;
      break;
    }
  }
  fclose(file);
  info = decodeHistory(image, sizeof image);
  return result;
}

bool writeSavedCardInfo(const saved_card_info_st& info) {
  unsigned char image[kHistoryFileSize];
  encodeHistory(info, image);
  char path[kFilePathSize];
  if (!historyPath(path)) return false;
  if (fileHolds(path, kHistoryMode, image, sizeof image)) return true;
  // Replaced whole: a crash or a full disk leaves the old history, never a part of the new one.
  Replacement replacement;
  if (!beginReplacement(replacement, path, kHistoryMode)) {
    logOpenFailure(path);
    return false;
  }
  // Unbuffered, so that a full disk fails the piece being written.
  setvbuf(replacement.file, nullptr, _IONBF, 0);
  for (const FilePiece& piece : kFilePieces) {
    errno = 0;
    size_t put = fwrite(image + piece.offset, piece.itemSize, piece.itemCount, replacement.file);
    if (put != piece.itemCount) {
      LOGE("fwrite() fail: return %d != %d, %d - %s", static_cast<int>(put),
           static_cast<int>(piece.itemCount), errno, strerror(errno));
      abandonReplacement(replacement);
      return false;
    }
  }
  if (!commitReplacement(replacement)) {
    LOGE("replace \"%s\" fail: %d - %s", path, errno, strerror(errno));
    return false;
  }
  return true;
}
