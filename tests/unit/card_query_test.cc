// Card-info query: given a scripted modem and a card history, the commands sent and the record
// left behind.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "card/card.h"
#include "modem/modem.h"
#include "platform/fake_platform.h"
#include "platform/platform.h"
#include "profile/profile.h"
#include "scripted_modem.h"

namespace {

using Texts = std::vector<std::string>;

const std::string kOk = "\r\nOK\r\n";
const Texts kStatusWait = {"AT^DLKS=1\r", "AT^DUSIMR=1\r", "AT^DLKS=0\r", "AT^DUSIMR=0\r"};
// The report arrives in a later chunk, after unrelated text.
const Texts kCardPresent = {kOk, kOk, "\r\n+CREG: 1\r\n", "\r\n^DUSIMU: 1\r\n", kOk, kOk};
const Texts kIdentity = {"AT^DCID\r"};
const Texts kFullQuery = {"AT^DCID\r", "AT+CIMI\r", "AT^DTOC\r"};

Texts operator+(Texts a, const Texts& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
std::string lineOk(const std::string& line) { return "\r\n" + line + "\r\n" + kOk; }

class CardQueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    memset(&g_savedCardInfo, 0, sizeof g_savedCardInfo);
    remember(0, "KNOWN", "460011234567890", 2);
    remember(1, "SHORT", "4600", 2);
    remember(2, "UNTYPED", "460011234567890", CARD_UNKNOWN);
    modemFd = modem.fd();
    g_currentStandby = 0;  // already on the slot's standby: no switch command
    g_projectProfile.projectTarget = PROJECT_TARGET_CMCC;
    readPlmnList("persist.sys.vx.plmn.cmcc", "460,00,02,07,08,20", g_projectProfile.cmccPlmnList);
    readPlmnList("persist.sys.vx.plmn.cucc", "460,01,06,09", g_projectProfile.cuccPlmnList);
  }
  void remember(int entry, const char* id, const char* imsi, int type) {
    g_savedCardInfo.m_history[entry] = {1, type, 9, {}, {}};
    copyText(g_savedCardInfo.m_history[entry].m_cardIMSI, imsi);
    copyText(g_savedCardInfo.m_history[entry].m_cardID, id);
  }
  int query(const Texts& script) {
    for (const std::string& chunk : script) modem.answer(chunk);
    return queryCardInfo(modem.fd(), 0, &card);
  }

  ScriptedModem modem;
  CardInfo card = {7, 7, 7, "junk", "junk"};
};

TEST_F(CardQueryTest, ScenariosFromStatusToLocale) {
  struct Scenario {
    const char* name;
    Texts script;
    Texts sent;  // after the status wait
    int status, type, locale;
    const char* imsi;
    std::string id;
  };
  const Scenario scenarios[] = {
      {"empty slot", {kOk, "\r\n^DUSIMU: 0\r\n" + kOk, kOk, kOk}, {}, 0, 255, 255, "", ""},
      {"report refused", {kOk, "\r\nERROR\r\n", kOk, kOk}, {}, 0, 255, 255, "", ""},
      {"line hung up in the wait", {kOk, kOk, "", kOk, kOk}, {}, 0, 255, 255, "", ""},
      {"new card, long texts cut",
       kCardPresent + Texts{lineOk("^DCID: " + std::string(45, 'I')),
                            lineOk("+CIMI: 4600012345678901234567"), lineOk("^DTOC: 2")},
       kFullQuery, 1, 2, 1, "4600012345678901234", std::string(39, 'I')},
      {"stray line breaks end the texts",
       kCardPresent + Texts{lineOk("^DCID: 8986\nrild.simSlot = 7"),
                            lineOk("+CIMI: 460001234567890\rX"), lineOk("^DTOC: 2")},
       kFullQuery, 1, 2, 1, "460001234567890", "8986"},
      {"PIN-locked card",
       kCardPresent + Texts{lineOk("^DCID: LOCKED"), "\r\n+CME ERROR: 11\r\n", lineOk("^DTOC: 1")},
       kFullQuery, 1, 1, 255, "", "LOCKED"},
      {"known card", kCardPresent + Texts{lineOk("^DCID: KNOWN")}, kIdentity, 1, 2, 2,
       "460011234567890", "KNOWN"},
      {"known card with a short IMSI",
       kCardPresent +
           Texts{lineOk("^DCID: SHORT"), lineOk("+CIMI: 460071234567890"), lineOk("^DTOC: 1")},
       kFullQuery, 1, 1, 1, "460071234567890", "SHORT"},
      {"known card of unknown type",
       kCardPresent +
           Texts{lineOk("^DCID: UNTYPED"), lineOk("+CIMI: 310150123456789"), lineOk("^DTOC: 1")},
       kFullQuery, 1, 1, 3, "310150123456789", "UNTYPED"},
  };
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.name);
    SetUp();
    EXPECT_EQ(0, query(s.script));
    EXPECT_EQ(kStatusWait + s.sent, modem.commands());
    EXPECT_EQ(s.status, card.m_cardStatus);
    EXPECT_EQ(s.type, card.m_cardType);
    EXPECT_EQ(s.locale, card.m_cardLocale);
    EXPECT_STREQ(s.imsi, card.m_cardIMSI);
    EXPECT_EQ(s.id, card.m_cardID);
    EXPECT_EQ(s.id == "KNOWN" || s.id == "SHORT" || s.id == "UNTYPED",
              fake::logHas("Found a saved (U)SIM card info", LOG_PRIO_INFO));
    EXPECT_TRUE(fake::sleeps().empty());
  }
}

TEST_F(CardQueryTest, UnknownTypeReportIsTriedFiveTimesWithPauses) {
  for (int i = 0; i < 5; i++) modem.answer(lineOk("^DTOC: 3"));
  card.m_cardType = 1;
  queryCardInfoType(modem.fd(), &card);
  EXPECT_EQ(Texts(5, "AT^DTOC\r"), modem.commands());
  EXPECT_EQ(std::vector<uint64_t>(5, 300000), fake::sleeps());
  EXPECT_EQ(CARD_UNKNOWN, card.m_cardType);
}

TEST_F(CardQueryTest, LocaleFollowsTheTargetAndItsDefaultLists) {
  struct Case {
    uint32_t target;
    const char* imsi;
    int32_t locale;  // the history holds 9, which survives only where no rule exists
  };
  const Case cases[] = {
      {PROJECT_TARGET_CMCC, "460001234567890", 1}, {PROJECT_TARGET_CMCC, "460011234567890", 2},
      {PROJECT_TARGET_CMCC, "310150123456789", 3}, {PROJECT_TARGET_CMCC, "466011234567890", 2},
      {PROJECT_TARGET_CMCC, "466001234567890", 1}, {PROJECT_TARGET_CUCC, "460011234567890", 4},
      {PROJECT_TARGET_CUCC, "460001234567890", 5}, {PROJECT_TARGET_CUCC, "310150123456789", 5},
      {PROJECT_TARGET_OPEN, "310150123456789", 6}, {PROJECT_TARGET_CTC, "460031234567890", 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.target) + " " + c.imsi);
    g_projectProfile.projectTarget = c.target;
    remember(0, "KNOWN", c.imsi, 2);
    query(kCardPresent + Texts{lineOk("^DCID: KNOWN")});
    modem.commands();
    EXPECT_EQ(c.locale, card.m_cardLocale);
  }
}

}  // namespace
