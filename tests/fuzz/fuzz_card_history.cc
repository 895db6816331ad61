// The card history file as found on the phone, then an update with the cards of this boot.
//
// Input: a flags byte (bits 0-2: simCount - 1, so -1..6; bit 7: no history file at all), then for
// each of the MAX_SIM slots a selector byte (status bits 0-1, type bits 2-3, locale bits 4-6),
// an IMSI (length byte, bytes) and an identity (length byte, bytes); the rest is the history
// file, byte for byte.
#include "fuzz_support.h"

namespace {

bool ringHolds(const saved_card_info_st& history, const char (&id)[CARD_ID_SIZE]) {
  for (const CardInfo& entry : history.m_history) {
    if (strncmp(entry.m_cardID, id, CARD_ID_SIZE) == 0) return true;
  }
  return false;
}

// After the update each slot names its card (or nothing); the ring changed only by taking in
// cards of this boot, and the last fully known card is in it (an earlier one may have been the
// oldest entry, replaced by a later slot's new card).
void checkUpdate(const Cards& cards, int32_t simCount, const saved_card_info_st& before) {
  const saved_card_info_st& after = cards.savedCardInfo;
  const CardInfo* lastKnown = nullptr;
  int slots = simCount < MAX_SIM ? simCount : MAX_SIM;
  for (int slot = 0; slot < slots; slot++) {
    const CardInfo& card = cards.cardInfo[slot];
    bool named = isPresent(card) && card.m_cardID[0] != '\0';
    FUZZ_CHECK(fuzz::terminated(after.m_slotCardID[slot]));
    FUZZ_CHECK(strcmp(after.m_slotCardID[slot], named ? card.m_cardID : "") == 0);
    if (named && card.m_cardType != CardType::kUnknown &&
        card.m_cardLocale != CardLocale::kUnknown && card.m_cardIMSI[0] != '\0') {
      lastKnown = &card;
    }
  }
  if (lastKnown != nullptr) FUZZ_CHECK(ringHolds(after, lastKnown->m_cardID));
  for (int i = 0; i < CARD_HISTORY_ENTRIES; i++) {
    const CardInfo& entry = after.m_history[i];
    bool fromThisBoot = memcmp(&entry, &before.m_history[i], sizeof entry) == 0;
    for (int slot = 0; slot < slots; slot++) {
      fromThisBoot = fromThisBoot || memcmp(&entry, &cards.cardInfo[slot], sizeof entry) == 0;
    }
    FUZZ_CHECK(fromThisBoot);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fixture::Daemon d;
  Cards& cards = d.state.cards;
  fuzz::Reader in(data, size);
  uint8_t flags = in.byte();
  int32_t simCount = (flags & 7) - 1;
  for (CardInfo& card : cards.cardInfo) {
    uint8_t selector = in.byte();
    std::string imsi = in.bytes(in.byte());
    card = fuzz::pickCard(selector, imsi, in.bytes(in.byte()));
  }
  std::string file = in.rest(), path = memory::path(kCardHistoryPath, true);
  bool exists = (flags & 0x80) == 0;
  if (exists) fixture::writeFile(path, file);

  bool read = readSavedCardInfo(cards.savedCardInfo);
  FUZZ_CHECK(read == (exists && file.size() >= sizeof(saved_card_info_st)));
  // What a complete file holds is taken as it is, byte for byte.
  if (read) FUZZ_CHECK(memcmp(&cards.savedCardInfo, file.data(), sizeof(saved_card_info_st)) == 0);

  saved_card_info_st before = cards.savedCardInfo, readBack;
  updateSavedCardInfo(cards.savedCardInfo, cards.cardInfo, simCount);
  checkUpdate(cards, simCount, before);

  FUZZ_CHECK(writeSavedCardInfo(cards.savedCardInfo));
  FUZZ_CHECK(fixture::readFile(path).size() == sizeof(saved_card_info_st));
  FUZZ_CHECK(readSavedCardInfo(readBack));
  FUZZ_CHECK(memcmp(&readBack, &cards.savedCardInfo, sizeof readBack) == 0);
  return 0;
}
