// The card history file as found on the phone, then an update with the cards of this boot.
//
// Input: a flags byte (bits 0-2: simCount - 1, so -1..6; bit 7: no history file at all), then for
// each of the MAX_SIM slots a selector byte (status bits 0-1, type bits 2-3, locale bits 4-6),
// an IMSI (length byte, bytes) and an identity (length byte, bytes); the rest is the history
// file, byte for byte.
#include "fuzz_support.h"

namespace {

std::string historyPath() { return fake::path(kCardHistoryPath, true); }

void setUpCards(fuzz::Reader& in) {
  for (CardInfo& card : g_cardInfo) {
    uint8_t selector = in.byte();
    card = {fuzz::pickStatus(selector),
            fuzz::pickType(selector >> 2),
            fuzz::pickLocale(selector >> 4),
            {},
            {}};
    fuzz::setField(card.m_cardIMSI, in.bytes(in.byte()));
    fuzz::setField(card.m_cardID, in.bytes(in.byte()));
  }
}

bool ringHolds(const char (&id)[CARD_ID_SIZE]) {
  for (const CardInfo& entry : g_savedCardInfo.m_history) {
    if (strncmp(entry.m_cardID, id, CARD_ID_SIZE) == 0) return true;
  }
  return false;
}

// After the update each slot names its card (or nothing); the ring changed only by taking in
// cards of this boot, and the last fully known card is in it (an earlier one may have been the
// oldest entry, replaced by a later slot's new card).
void checkUpdate(int32_t simCount, const saved_card_info_st& before) {
  const CardInfo* lastKnown = nullptr;
  for (int slot = 0; slot < MAX_SIM && slot < simCount; slot++) {
    const CardInfo& card = g_cardInfo[slot];
    const char* named = g_savedCardInfo.m_slotCardID[slot];
    FUZZ_CHECK(fuzz::terminated(g_savedCardInfo.m_slotCardID[slot]));
    bool present = card.m_cardStatus == 1 && card.m_cardID[0] != '\0';
    FUZZ_CHECK(strcmp(named, present ? card.m_cardID : "") == 0);
    if (present && card.m_cardType != CARD_UNKNOWN && card.m_cardLocale != CARD_UNKNOWN &&
        card.m_cardIMSI[0] != '\0') {
      lastKnown = &card;
    }
  }
  if (lastKnown != nullptr) FUZZ_CHECK(ringHolds(lastKnown->m_cardID));
  for (int i = 0; i < CARD_HISTORY_ENTRIES; i++) {
    const CardInfo& entry = g_savedCardInfo.m_history[i];
    if (memcmp(&entry, &before.m_history[i], sizeof entry) == 0) continue;
    bool fromThisBoot = false;
    for (int slot = 0; slot < MAX_SIM && slot < simCount; slot++) {
      fromThisBoot = fromThisBoot || memcmp(&entry, &g_cardInfo[slot], sizeof entry) == 0;
    }
    FUZZ_CHECK(fromThisBoot);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::resetDaemon();
  fuzz::Reader in(data, size);
  uint8_t flags = in.byte();
  g_projectProfile.simCount = (flags & 7) - 1;
  setUpCards(in);
  std::string file = in.rest();
  std::string path = historyPath();
  if ((flags & 0x80) == 0) fuzz::writeFile(path, file);

  int readResult = readSavedCardInfo(&g_savedCardInfo);
  FUZZ_CHECK(readResult == ((flags & 0x80) == 0 && file.size() >= sizeof g_savedCardInfo ? 0 : -1));
  // What a complete file holds is taken as it is, byte for byte.
  if (readResult == 0)
    FUZZ_CHECK(memcmp(&g_savedCardInfo, file.data(), sizeof g_savedCardInfo) == 0);

  saved_card_info_st before = g_savedCardInfo;
  FUZZ_CHECK(updateSavedCardInfo() == 0);
  checkUpdate(g_projectProfile.simCount, before);

  FUZZ_CHECK(writeSavedCardInfo(&g_savedCardInfo) == 0);
  FUZZ_CHECK(fuzz::readFile(path).size() == sizeof(saved_card_info_st));
  saved_card_info_st readBack;
  FUZZ_CHECK(readSavedCardInfo(&readBack) == 0);
  FUZZ_CHECK(memcmp(&readBack, &g_savedCardInfo, sizeof readBack) == 0);
  return 0;
}
