// Actual RAT decision per standby and the standby-to-SIM map, over cards, master card and settings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fake_platform.h"
#include "platform/platform.h"
#include "rat/rat.h"

namespace {

CardInfo card(int32_t status, int32_t type, int32_t locale) {
  CardInfo c = {};
  c.m_cardStatus = status;
  c.m_cardType = type;
  c.m_cardLocale = locale;
  return c;
}

const CardInfo kNoCard = card(0, 255, 255);
const CardInfo kUsim = card(1, 2, 6);  // type 2 for target "open"
const CardInfo kSim = card(1, 1, 6);   // type 1

// Two type-2 cards, target "open", master "10", two SIMs and two standbys, unless changed.
struct Scenario {
  explicit Scenario(const char* scenarioName) : name(scenarioName) {}
  Scenario& onTarget(uint32_t t) { return target = t, *this; }
  Scenario& withCards(CardInfo a, CardInfo b) { return first = a, second = b, *this; }
  Scenario& withMaster(const char* code) { return masterCard = code, *this; }
  Scenario& withPrefNetType(const char* value) { return prefNetType = value, *this; }
  Scenario& withCounts(int32_t sims, int32_t standbys) {
    return simCount = sims, standbyCount = standbys, *this;
  }
  Scenario& withManual(int32_t standby, RatMask mask) {
    return manualStandby = standby, manualMask = mask, *this;
  }
  Scenario& expectRat(std::vector<RatMask> v) { return rat = v, *this; }
  Scenario& expectActual(std::vector<RatMask> v) { return actual = v, *this; }
  Scenario& expectDstmex(std::vector<std::string> v) { return dstmex = v, *this; }
  Scenario& expectPublished(const char* v) { return published = v, *this; }

  const char* name;
  uint32_t target = 1;
  CardInfo first = kUsim, second = kUsim;
  const char* masterCard = "10";
  const char* prefNetType = nullptr;  // nullptr: unset
  int32_t simCount = 2, standbyCount = 2;
  int32_t manualStandby = -1;
  RatMask manualMask = 255;
  // Expected, from standby 0 on.
  std::vector<RatMask> rat, actual;
  std::vector<std::string> dstmex;
  const char* published = "";
};

class RatDecisionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    g_projectProfile = kInitialProjectProfile;
    g_projectProfile.rat2GMask = 1;
    g_projectProfile.rat3GMask = 18;
    g_projectProfile.rat4GMask = 12;
    for (int i = 0; i < MAX_STANDBY; i++) {
      g_standbyRat[i] = g_standbyActualRat[i] = 1;
      copyText(standbyDSTMEX[i], "old");  // an earlier run's text
      g_standbySimSlot[i] = 7;
    }
  }

  void run(const Scenario& s) {
    SetUp();
    setRatTableTarget(s.target);
    g_cardInfo[0] = s.first;
    g_cardInfo[1] = s.second;
    copyText(g_masterCard, s.masterCard);
    if (s.prefNetType) fake::setProperty("persist.radio.pref.net.type", s.prefNetType);
    g_projectProfile.simCount = s.simCount;
    g_projectProfile.standbyCount = s.standbyCount;
    g_projectProfile.manualRatStandby = s.manualStandby;
    g_projectProfile.manualRatMask = s.manualMask;
    EXPECT_EQ(changeActualRat(), 0);
  }
};

TEST_F(RatDecisionTest, OneStandbyGetsTheLargerSetAndTheOthersGsm) {
  const Scenario scenarios[] = {
      Scenario("two USIMs, master 1")
          .expectRat({31, 1, 1})
          .expectActual({31, 1, 1})
          .expectDstmex({"0,7,2,0", "1,0", "old"})
          .expectPublished("31,1"),
      Scenario("pref 0 drops 4G")
          .withPrefNetType("0")
          .expectRat({31, 1})
          .expectActual({19, 1})
          .expectDstmex({"0,2,0", "1,0"})
          .expectPublished("19,1"),
      Scenario("pref 102 acts like 0")
          .withPrefNetType("102")
          .expectActual({19, 1})
          .expectDstmex({"0,2,0", "1,0"})
          .expectPublished("19,1"),
      Scenario("pref 1 leaves 2G")
          .withPrefNetType("1")
          .expectRat({31, 1})
          .expectActual({1, 1})
          .expectDstmex({"0,0", "1,0"})
          .expectPublished("1,1"),
      Scenario("pref 2 leaves 3G")
          .withPrefNetType("2")
          .expectActual({18, 1})
          .expectDstmex({"0,2", "1,0"})
          .expectPublished("18,1"),
      Scenario("pref 3 changes nothing").withPrefNetType("3").expectPublished("31,1"),
      Scenario("pref not a number counts as 0").withPrefNetType("lte").expectPublished("19,1"),
      Scenario("master 2 takes the full set")
          .withMaster("21")
          .expectRat({1, 31})
          .expectActual({1, 31})
          .expectDstmex({"1,0", "0,7,2,0"})
          .expectPublished("1,31"),
      Scenario("stale master code falls back to standby 0")
          .withMaster("30")
          .expectRat({31, 1})
          .expectPublished("31,1"),
      Scenario("combination 5 ignores master 1")
          .withCards(kNoCard, kUsim)
          .expectRat({1, 31})
          .expectActual({1, 31})
          .expectDstmex({"1,0", "0,7,2,0"})
          .expectPublished("1,31"),
      Scenario("SIM card on the chosen standby loses 4G")
          .onTarget(4)
          .withCards(kSim, kUsim)
          .expectRat({31, 1})
          .expectActual({19, 1})
          .expectPublished("19,1"),
      Scenario("manual setting puts 4G back on a SIM card")
          .onTarget(4)
          .withCards(kSim, kUsim)
          .withManual(0, 31)
          .expectActual({31, 1})
          .expectPublished("31,1"),
      Scenario("manual 13 on standby 1")
          .withManual(1, 13)
          .expectRat({31, 1})
          .expectActual({1, 13})
          .expectDstmex({"1,0", "0,7,0"})
          .expectPublished("1,13"),
      Scenario("manual on the standby equal to the count")
          .withManual(2, 12)
          .expectActual({1, 1, 12})
          .expectDstmex({"1,0", "1,0", "0,7"})
          .expectPublished("1,1"),
      Scenario("single SIM dual standby with 4G drops 2G")
          .withCards(kUsim, kNoCard)
          .withCounts(1, 2)
          .expectRat({31, 1})
          .expectActual({30, 1})
          .expectDstmex({"0,7,2", "1,0"})
          .expectPublished("30,1"),
      Scenario("single SIM dual standby without 4G counts one standby")
          .withCards(kUsim, kNoCard)
          .withCounts(1, 2)
          .withPrefNetType("0")
          .expectRat({31, 1})
          .expectActual({19, 1})
          .expectDstmex({"0,2,0", "old"})
          .expectPublished("19"),
      Scenario("two SIMs, three standbys")
          .withCounts(2, 3)
          .expectRat({31, 1, 1})
          .expectActual({31, 1, 1})
          .expectDstmex({"0,7,2,0", "1,0", "1,0"})
          .expectPublished("31,1,1"),
      Scenario("five standbys").withCounts(2, 5).expectPublished("31,1,1,1,1"),
  };
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.name);
    run(s);
    for (size_t i = 0; i < s.rat.size(); i++) EXPECT_EQ(g_standbyRat[i], s.rat[i]) << i;
    for (size_t i = 0; i < s.actual.size(); i++) EXPECT_EQ(g_standbyActualRat[i], s.actual[i]) << i;
    for (size_t i = 0; i < s.dstmex.size(); i++) EXPECT_EQ(standbyDSTMEX[i], s.dstmex[i]) << i;
    EXPECT_EQ(fake::property("persist.sys.vx.actual.rat"), s.published);
    for (int i = s.standbyCount; i < MAX_STANDBY; i++) {  // beyond the count: untouched
      if (i != s.manualStandby) {
        EXPECT_EQ(standbyDSTMEX[i], std::string("old")) << i;
      }
    }
  }
}

TEST_F(RatDecisionTest, LogsTheDecisionSteps) {
  run(Scenario("").withCards(kUsim, kNoCard).withCounts(1, 2).withManual(1, 13));
  EXPECT_TRUE(fake::logHas("[change actual RAT]single (U)SIM dual standby", LOG_PRIO_INFO));
  EXPECT_TRUE(fake::logHas(
      "[change actual RAT]Replace actual RAT to 13 for standby 1 by the manual setting, and set "
      "other standby to 1.",
      LOG_PRIO_INFO));
  EXPECT_TRUE(fake::logHas("[change actual RAT]standbyDSTMEX[0] = 1,0, standbyDSTMEX[1] = 0,7,0",
                           LOG_PRIO_INFO));
}

TEST_F(RatDecisionTest, StandbysMapToSlotsByMode) {
  const struct {
    int32_t simCount, standbyCount;
    const char* masterCard;
    std::vector<int32_t> slots;
    bool invalid;
  } cases[] = {
      {1, 1, "10", {0, -1, -1, -1, -1}, false}, {1, 2, "10", {0, 0, -1, -1, -1}, false},
      {2, 2, "20", {0, 1, -1, -1, -1}, false},  {2, 3, "21", {0, 1, 1, -1, -1}, false},
      {2, 3, "20", {0, 1, 1, -1, -1}, false},   {2, 3, "12", {0, 1, 0, -1, -1}, false},
      {2, 3, "10", {0, 1, 0, -1, -1}, false},   {2, 1, "10", {-1, -1, -1, -1, -1}, true},
      {3, 3, "10", {-1, -1, -1, -1, -1}, true}, {0, 0, "10", {-1, -1, -1, -1, -1}, true},
  };
  for (const auto& c : cases) {
    SetUp();
    SCOPED_TRACE(std::to_string(c.simCount) + " SIMs, " + std::to_string(c.standbyCount) +
                 " standbys, master " + c.masterCard);
    g_projectProfile.simCount = c.simCount;
    g_projectProfile.standbyCount = c.standbyCount;
    copyText(g_masterCard, c.masterCard);
    EXPECT_EQ(mapStandbyToSim(), 0);
    EXPECT_EQ(std::vector<int32_t>(g_standbySimSlot, g_standbySimSlot + MAX_STANDBY), c.slots);
    std::string line = "Invalid (U)SIM(" + std::to_string(c.simCount) + ") and standby(" +
                       std::to_string(c.standbyCount) + ").";
    EXPECT_EQ(fake::logHas(line, LOG_PRIO_ERROR), c.invalid);
  }
}

}  // namespace
