// The NVRAM swap decision and the rild files' restart rule, on the fake platform.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "card/card.h"
#include "modem/modem.h"
#include "platform/fake_platform.h"
#include "platform/platform.h"
#include "profile/profile.h"
#include "rat/rat.h"
#include "ril/ril.h"
#include "scripted_modem.h"

namespace {

class NvramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    fake::selectRealCapMs = 1;
    g_projectProfile = kInitialProjectProfile;
    g_modemCapability = {1, 2, 1, {1, 1, 1, 1, 1}};
    g_currentStandby = 0;
    g_isSwitchModem = 0;
    modemFd = dup(modem.fd());  // the swap closes the channel
  }
  void TearDown() override { modemFd = -1; }
  ScriptedModem modem;
};

TEST_F(NvramTest, SwapWhenAStandbyWantsRatsItsModemStackLacks) {
  const struct {
    int standbyCount;
    std::vector<RatMask> wanted, offered;
    bool swap, unmatchedLine;
  } cases[] = {
      {2, {29, 1}, {29, 1}, false, false},
      {2, {1, 29}, {29, 1}, true, false},  // standby 0 of the modem offers what standby 1 wants
      {2, {31, 1}, {29, 1}, true, true},   // nobody offers 31
      {1, {31}, {29}, true, true},
      {2, {0, 0}, {0, 0}, false, false},  // nothing wanted is always served
      {0, {31}, {1}, false, false},
  };
  for (const auto& c : cases) {
    SetUp();
    g_projectProfile.standbyCount = c.standbyCount;
    for (size_t i = 0; i < c.wanted.size(); i++) {
      g_standbyRat[i] = c.wanted[i];
      g_modemCapability.standbyRatCap[i] = static_cast<int32_t>(c.offered[i]);
    }
    modem.ok();                      // AT^DLKS=1
    modem.answer("\r\n^DMRST\r\n");  // after AT^DSRST
    EXPECT_EQ(0, switchModemNvram(0));
    EXPECT_EQ(c.swap ? 1 : 0, g_isSwitchModem);
    EXPECT_EQ(c.swap ? "1" : "0", fake::property("sys.vx.swap.nvram.standby"));
    EXPECT_EQ(c.unmatchedLine,
              fake::logHas("ERROR: AP and Modem are unmatched since Modem does not support the "
                           "RAT that AP expected.",
                           LOG_PRIO_ERROR));
    EXPECT_EQ(c.swap ? 2u : 0u, modem.commands().size());
    EXPECT_EQ(c.swap ? 0 : modemFd, modemFd);  // the swap leaves the channel closed
  }
}

TEST_F(NvramTest, ManualSettingSkipsTheCheckAndASilentResetIsWaitedOutInTenChunks) {
  g_projectProfile.manualRatMask = 12;
  g_isSwitchModem = 7;
  EXPECT_EQ(0, switchModemNvram(1));
  EXPECT_EQ(7, g_isSwitchModem);
  EXPECT_TRUE(fake::logLines().empty());

  SetUp();
  g_projectProfile.standbyCount = 1;
  g_standbyRat[0] = 31;
  modem.ok();
  for (int i = 0; i < 12; i++) modem.answer("\r\n+CREG: 1\r\n");  // never "^DMRST"
  switchModemNvram(0);
  int unread = 0;
  char chunk[64];
  while (recv(modem.fd(), chunk, sizeof chunk, MSG_DONTWAIT) > 0) unread++;
  EXPECT_EQ(2, unread);  // ten chunks read, then the wait gave up
  EXPECT_EQ(0, modemFd);
  EXPECT_EQ(1000000u, fake::sleeps().back());
}

class RildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    g_projectProfile = kInitialProjectProfile;
    g_projectProfile.standbyCount = 2;
    g_isSwitchModem = 0;
    copyText(standbyDSTMEX[0], "0,7,2");
    copyText(standbyDSTMEX[1], "1,0");
    fake::setProperty("init.svc.rild0", "running");
    fake::setProperty("init.svc.rild1", "running");
  }
  void oldFile(int standby, const std::string& text) {
    std::ofstream(fake::path("/data/vantorel/radio/rild.cfg" + std::to_string(standby), true))
        << text;
  }
  // Init requests made, as "ctl.<verb> <service>" lines.
  std::string requests() {
    std::string out;
    for (const auto& w : fake::propertyWrites()) {
      if (w.first.rfind("ctl.", 0) == 0) out += w.first + " " + w.second + "\n";
    }
    return out;
  }
};

TEST_F(RildTest, ARunningRildRestartsOnlyWhenItsDstmexChanged) {
  const struct {
    const char* oldLine;
    bool restart;
  } cases[] = {
      {"rild.rat.DSTMEX = 0,7,2\n", false},
      {"rild.rat.DSTMEX =   0,7,2  \r\n", false},
      {"rild.rat.DSTMEX = 0,7,2,0\n", true},  // an old text continuing the new one is a change
      {"rild.rat.DSTMEX = 0,7\n", true},
      {"rild.rat.DSTMEX = \n", true},
      {"rild.rat = 31\n", false},  // no DSTMEX line: nothing to compare
  };
  for (const auto& c : cases) {
    SetUp();
    oldFile(0, std::string("rild.count = 2\n") + c.oldLine);
    oldFile(1, "rild.rat.DSTMEX = 1,0\n");
    startRildService(-1);
    EXPECT_EQ(c.restart ? "ctl.restart rild0\n" : "", requests()) << c.oldLine;
    EXPECT_EQ(c.restart ? 1u : 0u, fake::sleeps().size()) << c.oldLine;
  }
}

// The hot-plug rule is checked end to end (test_hotplug.py).
TEST_F(RildTest, SwitchedModemStartsWhatIsStoppedAndRestartsNothing) {
  g_isSwitchModem = 1;
  oldFile(0, "rild.rat.DSTMEX = 0\n");
  fake::setProperty("init.svc.rild0", "stopped");
  startRildService(1);
  EXPECT_EQ("ctl.start rild0\n", requests());
  EXPECT_EQ(0, fake::logCount("standby 0, oldDstmex is 0, this DSTMEX is 0,7,2 restartRIL = 1"));
}

}  // namespace
