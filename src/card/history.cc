// The card history: a ring of the last 20 cards seen and the identity that stood in each slot at
// the last update, kept in "/data/vantorel/radio/radio.cfg" as the memory image of
// saved_card_info_st with little-endian numbers.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "card/card.h"
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

// File numbers are little-endian whatever the host; the conversion is its own inverse.
int32_t swapToLittleEndian(int32_t value) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return static_cast<int32_t>(__builtin_bswap32(static_cast<uint32_t>(value)));
#else
  return value;
#endif
}

template <typename Enum>
Enum swapToLittleEndian(Enum value) {
  return static_cast<Enum>(swapToLittleEndian(static_cast<int32_t>(value)));
}

void convertNumbers(saved_card_info_st& info) {
  info.m_reserved = swapToLittleEndian(info.m_reserved);
  info.m_nextIndex = swapToLittleEndian(info.m_nextIndex);
  for (CardInfo& entry : info.m_history) {
    entry.m_cardStatus = swapToLittleEndian(entry.m_cardStatus);
    entry.m_cardType = swapToLittleEndian(entry.m_cardType);
    entry.m_cardLocale = swapToLittleEndian(entry.m_cardLocale);
  }
}

// Where the history lives; false (logged) when its path does not fit.
bool historyPath(char (&path)[kFilePathSize]) {
  if (platformPath(kCardHistoryPath, path, sizeof path) == 0) return true;
  LOGE("%s() path too long: %s", "historyPath", kCardHistoryPath);
  return false;
}

void logOpenFailure(const char* path) {
  LOGE("open \"%s\" fail: %d - %s", path, errno, strerror(errno));
}

bool sameCardID(const char (&a)[CARD_ID_SIZE], const char (&b)[CARD_ID_SIZE]) {
  return strncmp(a, b, CARD_ID_SIZE) == 0;
}

bool ringHolds(const saved_card_info_st& info, const CardInfo& card) {
  for (const CardInfo& entry : info.m_history) {
    if (sameCardID(entry.m_cardID, card.m_cardID)) return true;
  }
  return false;
}

// Stores a card never seen before at m_nextIndex, which a damaged file may have left out of range.
void addToRing(saved_card_info_st& info, const CardInfo& card) {
  if (info.m_nextIndex < 0 || info.m_nextIndex >= CARD_HISTORY_ENTRIES) info.m_nextIndex = 0;
  info.m_history[info.m_nextIndex] = card;
  info.m_nextIndex = (info.m_nextIndex + 1) % CARD_HISTORY_ENTRIES;
}

void updateSlot(saved_card_info_st& info, int slot, const CardInfo& card) {
  memset(info.m_slotCardID[slot], 0, CARD_ID_SIZE);
  if (!isPresent(card) || card.m_cardID[0] == '\0') return;
  copyText(info.m_slotCardID[slot], card.m_cardID, fieldLength(card.m_cardID));
  // A card whose IMSI or type is unknown (a PIN-locked one) is named in its slot only.
  if (card.m_cardType == CardType::kUnknown || card.m_cardLocale == CardLocale::kUnknown ||
      card.m_cardIMSI[0] == '\0') {
    return;
  }
  if (ringHolds(info, card)) return;
  addToRing(info, card);
}

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
  char* image = reinterpret_cast<char*>(&info);
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
  convertNumbers(info);
  return result;
}

bool writeSavedCardInfo(const saved_card_info_st& info) {
  saved_card_info_st fileImage = info;
  convertNumbers(fileImage);
  char path[kFilePathSize];
  if (!historyPath(path)) return false;
  // Replaced whole: a crash or a full disk leaves the old history, never a part of the new one.
  Replacement replacement;
  if (!beginReplacement(replacement, path, kHistoryMode)) {
    logOpenFailure(path);
    return false;
  }
  // Unbuffered, so that a full disk fails the piece being written.
  setvbuf(replacement.file, nullptr, _IONBF, 0);
  const char* image = reinterpret_cast<const char*>(&fileImage);
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

void updateSavedCardInfo(saved_card_info_st& info, const CardInfo (&cards)[MAX_SIM],
                         int32_t simCount) {
  int slots = simCount < MAX_SIM ? simCount : MAX_SIM;
  for (int slot = 0; slot < slots; slot++) updateSlot(info, slot, cards[slot]);
}
