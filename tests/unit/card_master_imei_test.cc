// Master card selection and the IMEI check: given properties, cards and a card history (or a
// scripted modem), the code or command the daemon produces.
#include <gtest/gtest.h>
#include <string.h>

#include <fstream>
#include <string>
#include <vector>

#include "card/card.h"
#include "modem/modem.h"
#include "platform/fake_platform.h"
#include "platform/platform.h"
#include "profile/profile.h"
#include "rat/rat.h"
#include "scripted_modem.h"

namespace {

constexpr char kMaster[] = "persist.radio.vx.master.card";
constexpr char kCheckImei[] = "persist.sys.vx.check.imei";

CardInfo usim(const char* id) {
  CardInfo c = {1, 2, 6, "310150123456789", {}};
  copyText(c.m_cardID, id);
  return c;
}

class MasterCardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    setRatTableTarget(PROJECT_TARGET_OPEN);
    memset(&g_savedCardInfo, 0, sizeof g_savedCardInfo);
    g_projectProfile.simCount = 2;
    g_projectProfile.standbyCount = 2;
    g_projectProfile.dynamicRat = 1;
    g_projectProfile.manualRatStandby = NO_MANUAL_RAT_STANDBY;
    // Two USIMs of an open project: equally capable.
    g_cardInfo[0] = usim("CARD-X");
    g_cardInfo[1] = usim("CARD-Y");
  }
};

TEST_F(MasterCardTest, CodeFollowsSetUpManualSettingAndDefaultData) {
  const struct {
    const char* name;
    int simCount, standbyCount, dynamicRat, manualStandby;
    bool firstSlotEmpty;  // makes the combination RAT_2G_234G
    uint32_t tableTarget;
    const char* defaultData;
    const char* written;  // nullptr: the stored "21" stays and nothing is written
  } cases[] = {
      {"manual 0 beats the combination", 2, 2, 1, 0, true, 1, "", "10"},
      {"manual standby equal to the count", 2, 2, 1, 2, false, 1, "", "20"},
      {"second card more capable", 2, 2, 1, -1, true, 1, "", "20"},
      {"dual SIM with one standby", 2, 1, 1, -1, false, 1, "", nullptr},
      {"three SIMs", 3, 2, 1, -1, false, 1, "", nullptr},
      {"single SIM, two standbys", 1, 2, 1, -1, true, 1, "", "10"},
      {"single SIM, three standbys", 1, 3, 1, -1, false, 1, "", nullptr},
      {"no dynamic RAT", 2, 2, 0, -1, true, 1, "", "10"},
      {"target without tables", 2, 2, 1, -1, false, 4, "", nullptr},
      {"default data card 1", 2, 3, 1, -1, false, 1, "0", "12"},
      {"default data card 2", 2, 2, 1, -1, false, 1, "1", "21"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    g_projectProfile.simCount = c.simCount;
    g_projectProfile.standbyCount = c.standbyCount;
    g_projectProfile.dynamicRat = c.dynamicRat;
    g_projectProfile.manualRatStandby = c.manualStandby;
    if (c.firstSlotEmpty) g_cardInfo[0] = CARD_INFO_RESET;
    setRatTableTarget(c.tableTarget);
    fake::setProperty(kMaster, "21");
    if (c.defaultData[0] != '\0') fake::setProperty("persist.radio.default.data", c.defaultData);

    EXPECT_EQ(0, selectMasterCard());

    EXPECT_EQ(c.written != nullptr ? 1 : 0, fake::setAttempts(kMaster));
    EXPECT_STREQ(c.written != nullptr ? c.written : "21", g_masterCard);
    EXPECT_EQ(c.written != nullptr ? c.written : "21", fake::property(kMaster));
  }
}

TEST_F(MasterCardTest, MasterRoleFollowsTheCardThatMoved) {
  // The stored code, the slot identities of the last update, the new code and the master's slot.
  const struct {
    const char *stored, *slot0Then, *slot1Then, *code, *slot, *masterId;
  } cases[] = {{"12", "CARD-Y", "OTHER", "21", "2", "CARD-Y"},
               {"21", "OTHER", "CARD-X", "12", "1", "CARD-X"},
               {"12", "NEW-1", "NEW-2", "12", "-1", "NEW-1"}};
  for (const auto& c : cases) {
    SetUp();
    fake::setProperty(kMaster, c.stored);
    copyText(g_savedCardInfo.m_slotCardID[0], c.slot0Then);
    copyText(g_savedCardInfo.m_slotCardID[1], c.slot1Then);
    selectMasterCard();
    EXPECT_STREQ(c.code, g_masterCard) << c.masterId;
    EXPECT_TRUE(fake::logHas(std::string("current master card is ") + c.slot +
                                 " according to last master card id " + c.masterId,
                             LOG_PRIO_INFO));
  }
}

TEST_F(MasterCardTest, UnterminatedIdentityFromTheFileIsNotReadPastItsField) {
  std::string bytes(1648, '\0');
  memset(&bytes[4], 'A', 40);
  memcpy(&bytes[44], "NEXT", 4);
  std::ofstream(fake::path("/data/vantorel/radio/radio.cfg", true), std::ios::binary) << bytes;
  ASSERT_EQ(0, readSavedCardInfo(&g_savedCardInfo));
  fake::setProperty(kMaster, "12");
  selectMasterCard();
  EXPECT_TRUE(fake::logHas("current master card is -1 according to last master card id " +
                           std::string(39, 'A')));
}

class ImeiCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    modemFd = modem.fd();
    g_currentStandby = 0;
    g_projectProfile.simCount = 2;
  }
  ScriptedModem modem;
};

TEST_F(ImeiCheckTest, SecondImeiIsReplacedOnlyWhenMissingOrZero) {
  const std::string kZero = "\r\n+CGSN: 000000000000000\r\n\r\nOK\r\n";
  const struct {
    const char* imei0;
    std::string answer1;  // standby 1's whole answer to "AT+CGSN"
    bool replaced;
  } cases[] = {{"861234567890123", kZero, true},
               {"861234567890123", "\r\nOK\r\n", true},
               {"860234567890123", kZero, false},
               {"861234567890123", "\r\n+CGSN: 867654321098765\r\n\r\nOK\r\n", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer1);
    SetUp();
    fake::setProperty(kCheckImei, "1");
    modem.answerLineOk(std::string("+CGSN: ") + c.imei0);
    modem.ok();  // "AT^DMPCHN=1"
    modem.answer(c.answer1);
    modem.ok();

    EXPECT_EQ(0, checkIMEI());

    std::vector<std::string> sent = {"AT+CGSN\r", "AT^DMPCHN=1\r", "AT+CGSN\r"};
    if (c.replaced) sent.push_back(std::string("AT^DCGSNW=") + c.imei0 + "\r");
    EXPECT_EQ(sent, modem.commands());
    EXPECT_EQ(c.replaced, fake::logHas("replace IMEI[1] with IMEI[0]", LOG_PRIO_DEBUG));
    EXPECT_EQ(std::vector<uint64_t>(2, 100000), fake::sleeps());
    EXPECT_EQ("0", fake::property(kCheckImei));
    modem.commands();
  }
}

// The one-shot request is checked end to end (test_startup.py); a single-SIM phone only clears it.
TEST_F(ImeiCheckTest, SingleSimPhoneClearsTheRequestWithoutAsking) {
  g_projectProfile.simCount = 1;
  fake::setProperty(kCheckImei, "1");
  checkIMEI();
  EXPECT_EQ("0", fake::property(kCheckImei));
  EXPECT_TRUE(modem.commands().empty());
}

}  // namespace
