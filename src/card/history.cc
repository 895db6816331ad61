// The card history: a ring of the last 20 cards seen and the identity that stood in each slot at
// the last update. The file is the memory image of saved_card_info_st with little-endian numbers.
#include "card/history.h"

#include <string.h>

#include "platform/text.h"

namespace {

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

void encodeHistory(const saved_card_info_st& info, unsigned char (&bytes)[kHistoryFileSize]) {
  saved_card_info_st image = info;
  convertNumbers(image);
  memcpy(bytes, &image, sizeof image);
}

saved_card_info_st decodeHistory(const unsigned char* bytes, size_t length) {
  saved_card_info_st info;
  memset(&info, 0, sizeof info);
  memcpy(&info, bytes, length < sizeof info ? length : sizeof info);
  convertNumbers(info);
  return info;
}

void updateSavedCardInfo(saved_card_info_st& info, const CardInfo (&cards)[MAX_SIM],
                         int32_t simCount) {
  int slots = simCount < MAX_SIM ? simCount : MAX_SIM;
  for (int slot = 0; slot < slots; slot++) updateSlot(info, slot, cards[slot]);
}
