// Cards: given a scripted modem and a card history, the commands the query sends and the record
// it leaves; the history ring and its file; the IMEI check.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "daemon_fixture.h"

namespace {

using fixture::card;
using fixture::Daemon;
using fixture::kOk;
using fixture::lineOk;

const std::string kStatusWait = "AT^DLKS=1|AT^DUSIMR=1|AT^DLKS=0|AT^DUSIMR=0|";
// The report arrives in a later chunk, after unrelated text.
const std::vector<std::string> kCardPresent = {kOk, kOk, "\r\n+CREG: 1\r\n", "\r\n^DUSIMU: 1\r\n",
                                               kOk, kOk};

struct CardQuery : Daemon {
  CardQuery() : Daemon() {
    state.link.currentStandby = 0;  // already on the slot's standby: no switch command
    remember(0, "KNOWN", "460011234567890", CardType::kUsim);
    remember(1, "SHORT", "4600", CardType::kUsim);
    remember(2, "UNTYPED", "460011234567890", CardType::kUnknown);
  }
  void remember(int entry, const char* id, const char* imsi, CardType type) {
    state.cards.savedCardInfo.m_history[entry] = card(type, static_cast<CardLocale>(9), imsi, id);
  }
  // script: the answers after the status wait.
  const CardInfo& query(const std::vector<std::string>& script,
                        const std::vector<std::string>& status = kCardPresent) {
    answer(status);
    answer(script);
    CardInfo& slot = state.cards.cardInfo[0];
    slot = {CardStatus::kUnknown, CardType::kSim, CardLocale::kOpen, "junk", "junk"};
    queryCardInfo(state.link, 0, slot, state.profile, state.cards.savedCardInfo);
    return slot;
  }
};

// A record as "status,type,locale,IMSI,identity".
std::string described(const CardInfo& c) {
  return std::to_string(static_cast<int>(c.m_cardStatus)) + "," +
         std::to_string(static_cast<int>(c.m_cardType)) + "," +
         std::to_string(static_cast<int>(c.m_cardLocale)) + "," + c.m_cardIMSI + "," + c.m_cardID;
}

TEST(CardQueryTest, ScenariosFromStatusToLocale) {
  const std::string kFullQuery = "AT^DCID|AT+CIMI|AT^DTOC|";
  const struct {
    const char* name;
    std::vector<std::string> script;  // after the card-present report
    std::string sent;                 // after the status wait
    std::string record;
  } scenarios[] = {
      {"new card, long texts cut",
       {lineOk("^DCID: " + std::string(45, 'I')), lineOk("+CIMI: 4600012345678901234567"),
        lineOk("^DTOC: 2")},
       kFullQuery,
       "1,2,1,4600012345678901234," + std::string(39, 'I')},
      {"stray line breaks end the texts",
       {lineOk("^DCID: 8986\nrild.simSlot = 7"), lineOk("+CIMI: 460001234567890\rX"),
        lineOk("^DTOC: 2")},
       kFullQuery,
       "1,2,1,460001234567890,8986"},
      // A PIN-locked card, no card, a known card and a card status never reported are golden runs.
      {"PUK-locked card: one AT+CIMI",
       {lineOk("^DCID: LOCKED"), "\r\n+CME ERROR: 12\r\n", lineOk("^DTOC: 1")},
       kFullQuery,
       "1,1,255,,LOCKED"},
      {"known card with a short IMSI",
       {lineOk("^DCID: SHORT"), lineOk("+CIMI: 460071234567890"), lineOk("^DTOC: 1")},
       kFullQuery,
       "1,1,1,460071234567890,SHORT"},
      {"known card of unknown type",
       {lineOk("^DCID: UNTYPED"), lineOk("+CIMI: 310150123456789"), lineOk("^DTOC: 1")},
       kFullQuery,
       "1,1,3,310150123456789,UNTYPED"},
  };
  for (const auto& s : scenarios) {
    SCOPED_TRACE(s.name);
    CardQuery q;
    EXPECT_EQ(s.record, described(q.query(s.script)));
    EXPECT_EQ(kStatusWait + s.sent, q.sent());
    EXPECT_EQ(s.record.find("SHORT") != std::string::npos ||
                  s.record.find("UNTYPED") != std::string::npos,
              memory::logHas("Found a saved (U)SIM card info", LOG_PRIO_INFO));
    EXPECT_TRUE(memory::sleeps().empty());
  }
  // A refused status request: the slot counts as empty and nothing more is asked.
  CardQuery q;
  EXPECT_EQ("0,255,255,,", described(q.query({}, {kOk, "\r\nERROR\r\n", kOk, kOk})));
  EXPECT_EQ(kStatusWait, q.sent());
}

// The wait for the card-status report: 60 s in all whatever else the modem says meanwhile, the
// report found however the reads cut it, and a read showing both reports counts as no card.
TEST(CardQueryTest, StatusWaitEndsWithinItsBoundAndFindsTheReportAcrossReads) {
  const std::string kReport = "\r\n^DUSIMU: 1\r\n", kSignal = "\r\n+CSQ: 20,99\r\n";
  using Timed = std::vector<std::pair<int, std::string>>;  // reads at seconds into the wait
  struct Case {
    std::string name;
    std::vector<std::string> chunks;  // reads right after the answer
    Timed later;
    int status;                    // -1: no report within the bound (the slot counts as empty)
    int tookS;                     // on the virtual clock
    std::string lockAnswer = kOk;  // to "AT^DLKS=1", before the report is asked for
  };
  Timed signalEvery30s;
  for (int s = 30; s <= 600; s += 30) signalEvery30s.push_back({s, kSignal});
  std::vector<Case> cases = {
      {"a signal report every 30 s, no card report", {}, signalEvery30s, -1, 60},
      {"a signal report, then the card's", {}, {{30, kSignal}, {45, kReport}}, 1, 45},
      {"both reports in one read", {kReport + "\r\n^DUSIMU: 0\r\n"}, {}, 0, 0},
      // A report set aside before the command that asks for it answers nothing.
      {"no card said before the report was asked for",
       {},
       {{5, kReport}},
       1,
       5,
       "\r\n^DUSIMU: 0\r\n" + kOk},
      {"one byte a read", {}, {}, 1, 0},
  };
  for (char c : kReport) cases.back().chunks.push_back(std::string(1, c));
  for (size_t cut = 1; cut < kReport.size(); cut++) {
    cases.push_back({"cut after byte " + std::to_string(cut),
                     {kReport.substr(0, cut), kReport.substr(cut)},
                     {},
                     1,
                     0});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CardQuery q;
    uint64_t start = memory::nowUs();
    q.answer({c.lockAnswer, kOk});  // "AT^DLKS=1", and "AT^DUSIMR=1" without the report
    q.answer(c.chunks);
    for (const auto& [s, chunk] : c.later) {
      memory::at(start + s * 1000000ull, [&q, chunk = chunk] { q.modem.send(chunk); });
    }
    // The answers to the commands after the wait come once it has ended.
    memory::at(start + c.tookS * 1000000ull, [&q] { q.answer({kOk, kOk}); });
    CardInfo card = CARD_INFO_RESET;
    EXPECT_EQ(c.status >= 0, queryCardInfoStatus(q.state.link, card));
    EXPECT_EQ(c.status == 1, isPresent(card));
    EXPECT_EQ(c.tookS * 1000000ull, memory::nowUs() - start);
    EXPECT_EQ(kStatusWait, q.sent());
  }
}

TEST(CardQueryTest, LineThatHangsUpInTheWaitIsOpenedAgainWithinItsBounds) {
  CardQuery q;
  const CardInfo& c = q.query({}, {kOk, kOk, ""});  // no node comes back: the channel stays shut
  EXPECT_EQ("AT^DLKS=1|AT^DUSIMR=1|", q.sent());
  EXPECT_TRUE(memory::logHas("read() fail: end of file", LOG_PRIO_ERROR));
  EXPECT_TRUE(memory::logHas(
      fixture::logged(logline::kLineLost, memory::path(kModemDevicePath).c_str()), LOG_PRIO_ERROR));
  EXPECT_EQ(100u, memory::sleeps().size());  // the open's own bound: 100 attempts a second apart
  EXPECT_TRUE(q.state.link.neverOpened());
  EXPECT_EQ(CardStatus::kAbsent, c.m_cardStatus);
  EXPECT_TRUE(memory::logHas("sendAtSyncOk() parameter error: 1, 0, 0", LOG_PRIO_ERROR));
}

TEST(CardQueryTest, UnknownTypeReportIsTriedFiveTimesWithPauses) {
  CardQuery q;
  for (int i = 0; i < 5; i++) q.answer({lineOk("^DTOC: 3")});
  CardInfo& c = q.state.cards.cardInfo[0];
  c.m_cardType = CardType::kSim;
  queryCardInfoType(q.state.link, c);
  EXPECT_EQ("AT^DTOC|AT^DTOC|AT^DTOC|AT^DTOC|AT^DTOC|", q.sent());
  EXPECT_EQ(std::vector<uint64_t>(5, 300000), memory::sleeps());
  EXPECT_EQ(CardType::kUnknown, c.m_cardType);
}

// A known card of the operator's own network after a reboot (cmcc), a cucc card on the cucc target
// and a foreign card on the open one are golden runs.
TEST(CardQueryTest, LocaleFollowsTheTargetAndItsLists) {
  struct Case {
    uint32_t target;
    const char* imsi;
    int locale;  // the history holds 9, which survives only where no rule exists
  };
  const Case cases[] = {
      {PROJECT_TARGET_CMCC, "460011234567890", 2}, {PROJECT_TARGET_CMCC, "310150123456789", 3},
      {PROJECT_TARGET_CMCC, "466011234567890", 2}, {PROJECT_TARGET_CMCC, "466001234567890", 1},
      {PROJECT_TARGET_CMCC, "460461234567890", 2}, {PROJECT_TARGET_CUCC, "460001234567890", 5},
      {PROJECT_TARGET_CUCC, "310150123456789", 5}, {PROJECT_TARGET_CTC, "460031234567890", 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.target) + " " + c.imsi);
    CardQuery q;
    q.state.profile.projectTarget = c.target;
    q.remember(0, "KNOWN", c.imsi, CardType::kUsim);
    EXPECT_EQ(c.locale, static_cast<int>(q.query({lineOk("^DCID: KNOWN")}).m_cardLocale));
  }
}

// ---- History ------------------------------------------------------------------------------------

struct History : Daemon {
  std::string path = memory::path(kCardHistoryPath, true);  // the data directory exists
  saved_card_info_st& saved = state.cards.savedCardInfo;

  // The daemon's own pass: cards queried, update, write.
  void pass(const CardInfo& slot0, const CardInfo& slot1 = fixture::kNoCard) {
    state.cards.cardInfo[0] = slot0;
    state.cards.cardInfo[1] = slot1;
    updateSavedCardInfo(saved, state.cards.cardInfo, state.profile.simCount);
    ASSERT_TRUE(writeSavedCardInfo(saved));
  }
};

CardInfo seen(const std::string& id, const char* imsi = "460001234567890",
              CardType type = CardType::kUsim, CardLocale locale = CardLocale::kCmccHome) {
  return card(type, locale, imsi, id.c_str());
}

TEST(HistoryTest, KnownCardIsNotRewrittenAndLockedOrEmptySlotsStayOutOfTheRing) {
  History h;
  h.pass(seen("ID-A", "460001111111111"));
  h.pass(seen("ID-LOCKED", "", CardType::kUnknown, CardLocale::kUnknown),
         seen("ID-A", "460009999999999", CardType::kSim, CardLocale::kCmccSameCountry));
  EXPECT_STREQ("ID-LOCKED", h.saved.m_slotCardID[0]);
  EXPECT_STREQ("ID-A", h.saved.m_slotCardID[1]);
  EXPECT_EQ(1, h.saved.m_nextIndex);
  EXPECT_STREQ("460001111111111", h.saved.m_history[0].m_cardIMSI);
  EXPECT_EQ(CardType::kUsim, h.saved.m_history[0].m_cardType);
  h.pass(fixture::kNoCard);
  EXPECT_EQ(std::string(CARD_ID_SIZE, '\0'), std::string(h.saved.m_slotCardID[0], CARD_ID_SIZE));
}

TEST(HistoryTest, NewCardsFillTheRingInOrderAndTheTwentyFirstReplacesTheOldest) {
  History h;
  h.state.profile.simCount = 1;
  for (int i = 0; i < 20; i++) h.pass(seen("CARD-" + std::to_string(i)));
  EXPECT_EQ(0, h.saved.m_nextIndex);  // wrapped from 19
  for (int i = 0; i < 20; i++)
    EXPECT_EQ("CARD-" + std::to_string(i), h.saved.m_history[i].m_cardID);
  h.pass(seen("CARD-20"));
  EXPECT_STREQ("CARD-20", h.saved.m_history[0].m_cardID);
  EXPECT_STREQ("CARD-1", h.saved.m_history[1].m_cardID);
  EXPECT_EQ(1, h.saved.m_nextIndex);
}

TEST(HistoryTest, BadNextIndexIsRepairedOnlyByAnAdditionAndReservedIsKept) {
  const struct {
    int32_t storedIndex;
    bool newCard;
    int32_t indexInFile;
  } cases[] = {{25, true, 1}, {20, true, 1},   {-1, true, 1},
               {19, true, 0}, {25, false, 25}, {-1, false, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.storedIndex);
    History h;
    saved_card_info_st image = {};
    image.m_reserved = 7;
    image.m_nextIndex = c.storedIndex;
    ASSERT_TRUE(writeSavedCardInfo(image));
    ASSERT_TRUE(readSavedCardInfo(h.saved));
    h.pass(c.newCard ? seen("NEW") : fixture::kNoCard);
    std::string bytes = fixture::readFile(h.path);
    ASSERT_EQ(sizeof(saved_card_info_st), bytes.size());
    saved_card_info_st inFile;  // the file holds the record's bytes as they are in memory
    memcpy(&inFile, bytes.data(), sizeof inFile);
    EXPECT_EQ(7, inFile.m_reserved);
    EXPECT_EQ(c.indexInFile, inFile.m_nextIndex);
    int added = c.storedIndex >= 0 && c.storedIndex < CARD_HISTORY_ENTRIES ? c.storedIndex : 0;
    EXPECT_EQ(c.newCard ? "NEW" : "", std::string(h.saved.m_history[added].m_cardID));
  }
}

// ---- IMEI check ---------------------------------------------------------------------------------

// An IMEI of zeros replaced is a golden run.
TEST(ImeiTest, SecondImeiIsReplacedOnRequestWhenMissingOrZero) {
  const struct {
    const char* request;
    int32_t simCount;
    const char *imei0, *imei1;  // nullptr: no "+CGSN: " line
    bool replaced;
  } cases[] = {
      {"1", 2, "867400020000010", nullptr, true},
      {"1", 2, "860400020000010", "000000000000000", false},  // third character '0'
      {"1", 2, "8", nullptr, false},                          // no second character
      {"1", 2, "867400020000010", "867400020000028", false},
      {"1", 1, "867400020000010", nullptr, false},
      {"0", 2, "867400020000010", nullptr, false},
  };
  for (const auto& c : cases) {
    Daemon d(fixture::profile(PROJECT_TARGET_CMCC, c.simCount));
    d.state.link.currentStandby = 0;
    memory::setProperty("persist.sys.vx.check.imei", c.request);
    d.answer({lineOk(std::string("+CGSN: ") + c.imei0), kOk,
              c.imei1 != nullptr ? lineOk(std::string("+CGSN: ") + c.imei1) : kOk, kOk});
    checkIMEI(d.state.link, c.simCount);
    std::string expected;
    if (c.request[0] == '1' && c.simCount == 2) {
      expected = "AT+CGSN|AT^DMPCHN=1|AT+CGSN|";
      if (c.replaced) expected += std::string("AT^DCGSNW=") + c.imei0 + "|";
    }
    EXPECT_EQ(expected, d.sent()) << c.imei0;
    EXPECT_EQ(c.request[0] == '1' ? "0" : c.request, memory::property("persist.sys.vx.check.imei"));
    EXPECT_EQ(c.replaced, memory::logHas("replace IMEI[1] with IMEI[0]", LOG_PRIO_DEBUG));
  }
}

}  // namespace
