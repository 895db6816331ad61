// Card history: the ring of cards seen, the slot identities and the 1648-byte file behind them.
// The file's layout on a first start is checked end to end (test_startup.py).
#include <gtest/gtest.h>
#include <string.h>

#include <fstream>
#include <sstream>
#include <string>

#include "card/card.h"
#include "platform/fake_platform.h"
#include "profile/profile.h"

namespace {

// Offsets of the file layout, written out here so that the file is checked independently.
constexpr size_t kNextIndexAt = 204, kRingAt = 208;

std::string historyPath() { return fake::path("/data/vantorel/radio/radio.cfg", true); }

int32_t le32(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; i--) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
  return static_cast<int32_t>(v);
}

void putLe32(std::string* bytes, size_t at, int32_t value) {
  for (int i = 0; i < 4; i++) (*bytes)[at + i] = static_cast<char>((value >> (8 * i)) & 0xff);
}

CardInfo card(const std::string& id, const std::string& imsi = "460001234567890", int type = 2,
              int locale = 1) {
  CardInfo c = {1, type, locale, {}, {}};
  snprintf(c.m_cardIMSI, sizeof c.m_cardIMSI, "%s", imsi.c_str());
  snprintf(c.m_cardID, sizeof c.m_cardID, "%s", id.c_str());
  return c;
}

class CardHistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    memset(&g_savedCardInfo, 0, sizeof g_savedCardInfo);
    for (CardInfo& c : g_cardInfo) c = CARD_INFO_RESET;
    g_projectProfile.simCount = 2;
    historyPath();  // the data directory exists on a phone
  }
  // The daemon's own pass: cards queried, update, write.
  void runPass(const CardInfo& slot0, const CardInfo& slot1) {
    g_cardInfo[0] = slot0;
    g_cardInfo[1] = slot1;
    updateSavedCardInfo();
    ASSERT_EQ(0, writeSavedCardInfo(&g_savedCardInfo));
  }
};

TEST_F(CardHistoryTest, KnownCardIsNotRewrittenAndLockedOrEmptySlotsStayOutOfTheRing) {
  runPass(card("ID-A", "460001111111111", 2, 1), CARD_INFO_RESET);
  runPass(card("ID-LOCKED", "", CARD_UNKNOWN, CARD_UNKNOWN), card("ID-A", "460009999999999", 1, 2));
  EXPECT_STREQ("ID-LOCKED", g_savedCardInfo.m_slotCardID[0]);
  EXPECT_STREQ("ID-A", g_savedCardInfo.m_slotCardID[1]);
  EXPECT_EQ(1, g_savedCardInfo.m_nextIndex);
  EXPECT_STREQ("460001111111111", g_savedCardInfo.m_history[0].m_cardIMSI);
  EXPECT_EQ(2, g_savedCardInfo.m_history[0].m_cardType);

  runPass(CARD_INFO_RESET, CARD_INFO_RESET);
  EXPECT_EQ(std::string(40, '\0'), std::string(g_savedCardInfo.m_slotCardID[0], 40));
}

TEST_F(CardHistoryTest, TwentyFirstNewCardReplacesTheOldest) {
  g_projectProfile.simCount = 1;
  for (int i = 0; i < 21; i++) runPass(card("CARD-" + std::to_string(i)), CARD_INFO_RESET);
  EXPECT_STREQ("CARD-20", g_savedCardInfo.m_history[0].m_cardID);
  EXPECT_STREQ("CARD-1", g_savedCardInfo.m_history[1].m_cardID);
  EXPECT_EQ(1, g_savedCardInfo.m_nextIndex);
}

TEST_F(CardHistoryTest, BadNextIndexIsRepairedOnlyByAnAdditionAndReservedIsKept) {
  const struct {
    int32_t storedIndex;
    bool newCard;
    int32_t indexInFile;
  } cases[] = {{25, true, 1}, {20, true, 1}, {-1, true, 1}, {25, false, 25}, {-1, false, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.storedIndex);
    SetUp();
    std::string bytes(1648, '\0');
    putLe32(&bytes, 0, 7);
    putLe32(&bytes, kNextIndexAt, c.storedIndex);
    std::ofstream(historyPath(), std::ios::binary) << bytes;
    ASSERT_EQ(0, readSavedCardInfo(&g_savedCardInfo));

    runPass(c.newCard ? card("NEW") : CARD_INFO_RESET, CARD_INFO_RESET);

    std::stringstream file;
    file << std::ifstream(historyPath(), std::ios::binary).rdbuf();
    bytes = file.str();
    EXPECT_EQ(7, le32(bytes, 0));
    EXPECT_EQ(c.indexInFile, le32(bytes, kNextIndexAt));
    EXPECT_EQ(c.newCard ? "NEW" : "", std::string(bytes.c_str() + kRingAt + 32));
  }
}

}  // namespace
