// Modem commands against a scripted modem: the capability record, the standby cache and the
// channel's close.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "modem/modem.h"
#include "platform/fake_platform.h"
#include "scripted_modem.h"

namespace {

class ModemCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    modemFd = modem.fd();
    g_currentStandby = -1;
    g_modemCapability = kInitialModemCapability;
  }
  void TearDown() override { modemFd = -1; }
  ScriptedModem modem;
};

TEST_F(ModemCommandsTest, CapabilityAnswersFillTheRecordAndAFilledOneIsReused) {
  const struct {
    std::string line;
    int result;
    ModemCapability expected;
  } cases[] = {
      {"^DMCC: 1,2,1,29,1", 0, {1, 2, 1, {29, 1, 1, 1, 1}}},
      {"^DMCC: 3,4,5,6,7,8,9,10,11,12", 0, {3, 4, 5, {6, 7, 8, 9, 10}}},
      {"^DMCC: 7,2", -1, {7, 2, 0, {1, 1, 1, 1, 1}}},
      {"^DMCC: 1,2,1", -1, {1, 2, 1, {1, 1, 1, 1, 1}}},
  };
  for (const auto& c : cases) {
    SetUp();
    size_t attempts = c.result == 0 ? 1 : 3;
    for (size_t i = 0; i < attempts; i++) modem.answerLineOk(c.line);
    EXPECT_EQ(c.result, queryModemCapability(1)) << c.line;
    EXPECT_EQ(0, memcmp(&c.expected, &g_modemCapability, sizeof c.expected)) << c.line;
    EXPECT_EQ(std::vector<std::string>(attempts, "AT^DMCC?\r"), modem.commands()) << c.line;
    EXPECT_EQ(std::vector<uint64_t>(c.result == 0 ? 0 : 3, 200000), fake::sleeps()) << c.line;
  }
  // The last answer filled the three leading numbers: enough to be reused.
  EXPECT_EQ(0, queryModemCapability(0));
  EXPECT_TRUE(modem.commands().empty());
}

TEST_F(ModemCommandsTest, StandbySwitchIsCachedAndOnlyAnOkMovesIt) {
  g_currentStandby = 1;
  EXPECT_EQ(0, switchToStandby(modemFd, 1));
  modem.error();
  EXPECT_EQ(-1, switchToStandby(modemFd, 2));
  EXPECT_EQ(1, getCurrentStandby());
  modem.ok();
  EXPECT_EQ(0, switchToStandby(modemFd, 2));
  EXPECT_EQ(2, getCurrentStandby());
  EXPECT_EQ((std::vector<std::string>{"AT^DMPCHN=2\r", "AT^DMPCHN=2\r"}), modem.commands());
  EXPECT_EQ(-1, switchToStandby(modemFd, -1));
  EXPECT_TRUE(fake::logHas("switchToStandby() parameter error: 0, 1", 6));
}

TEST_F(ModemCommandsTest, CloseSwitchesBackToStandbyZeroUnlessKept) {
  for (int keepStandby : {0, 1}) {
    g_currentStandby = 1;
    modemFd = dup(modem.fd());
    modem.ok();
    EXPECT_EQ(0, closeModemChannel(keepStandby));
    EXPECT_EQ(0, modemFd);
    EXPECT_EQ(keepStandby ? 1 : 0, getCurrentStandby());
    EXPECT_EQ(std::vector<std::string>(keepStandby ? 0 : 1, "AT^DMPCHN=0\r"), modem.commands());
  }
}

}  // namespace
