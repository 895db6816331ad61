// RAT policy per project target: card classes, card-pair combinations, the actual RAT decided per
// standby over cards, master card and settings, and the standby-to-SIM map.
#include <gtest/gtest.h>

#include <algorithm>
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

template <typename T>
std::string joined(const T* values, size_t count, const char* separator) {
  std::string out;
  for (size_t i = 0; i < count; i++) out += (i ? separator : "") + std::string(values[i]);
  return out;
}
std::string joined(const RatMask* values, size_t count) {
  std::vector<std::string> texts;
  for (size_t i = 0; i < count; i++) texts.push_back(std::to_string(values[i]));
  return joined(texts.data(), count, ",");
}
size_t parts(const std::string& text, char separator) {
  return std::count(text.begin(), text.end(), separator) + 1;
}

class RatTest : public ::testing::Test {
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
};

TEST_F(RatTest, CardClassDependsOnTheTarget) {
  const struct {
    uint32_t target;
    CardInfo card;
    int index;  // -1: not covered, the "can not get index" lines are expected and 0 returned
  } cases[] = {
      {1, card(0, 255, 255), 0}, {1, card(255, 1, 6), 1}, {1, card(1, 1, 255), 1},
      {1, card(1, 1, 6), 2},     {1, card(1, 2, 1), 3},   {1, card(1, 3, 6), -1},
      {2, card(1, 1, 1), 2},     {2, card(1, 1, 3), 4},   {2, card(1, 2, 1), 5},
      {2, card(1, 2, 3), 7},     {2, card(1, 1, 4), -1},  {2, card(1, 2, 0), -1},
      {3, card(1, 1, 4), 2},     {3, card(1, 1, 5), 3},   {3, card(1, 2, 4), 4},
      {3, card(1, 2, 5), 5},     {3, card(1, 2, 1), 5},   {4, card(1, 1, 1), -1},
      {5, card(1, 2, 6), -1},    {4, card(255, 1, 1), 1},
  };
  for (const auto& c : cases) {
    fake::reset();
    setRatTableTarget(c.target);
    std::string fields = "by m_cardStatus(" + std::to_string(c.card.m_cardStatus) +
                         ") & m_cardType(" + std::to_string(c.card.m_cardType) +
                         ") & m_cardLocale(" + std::to_string(c.card.m_cardLocale) + ")";
    SCOPED_TRACE("target " + std::to_string(c.target) + " " + fields);
    EXPECT_EQ(getIndexOf_STANDBY_RAT_CAPABILITY(&c.card), std::max(c.index, 0));
    EXPECT_EQ(getIndexOf_STANDBY_ACTUAL_RAT(&c.card), std::max(c.index, 0));
    for (const char* table : {"RAT_CAPABILITY_XXXX ", "ACTUAL_RAT_CAPABILITY_XXXX "}) {
      EXPECT_EQ(fake::logHas(std::string("can not get index of ") + table + fields, LOG_PRIO_ERROR),
                c.index < 0);
    }
  }
}

TEST_F(RatTest, CardPairsGiveTheirCombinations) {
  const struct {
    uint32_t target;
    CardInfo first, second;
    int capability;
    const char* capabilityName;
    int actual;
    const char* actualName;
  } cases[] = {
      {1, kNoCard, kNoCard, 1, "RAT_234G_2G", 1, "ACTUAL_RAT_234G_2G"},
      {2, kNoCard, kNoCard, 1, "RAT_234G_2G", 1, "ACTUAL_RAT_234G_2G"},
      {1, kNoCard, kUsim, 2, "RAT_2G_234G", 5, "ACTUAL_RAT_2G_234G"},
      {1, kSim, kUsim, 2, "RAT_2G_234G", 5, "ACTUAL_RAT_2G_234G"},
      {1, kSim, kSim, 3, "RAT_234G_2G_O", 4, "ACTUAL_RAT_23G_2G_O"},
      {1, kSim, kNoCard, 1, "RAT_234G_2G", 3, "ACTUAL_RAT_23G_2G"},
      {1, card(255, 0, 0), kSim, 2, "RAT_2G_234G", 6, "ACTUAL_RAT_2G_23G"},
      {2, card(1, 2, 1), card(1, 2, 1), 3, "RAT_234G_2G_O", 2, "ACTUAL_RAT_234G_2G_O"},
      {2, card(1, 1, 1), card(1, 2, 2), 1, "RAT_234G_2G", 3, "ACTUAL_RAT_23G_2G"},
      {3, card(1, 2, 5), card(1, 2, 4), 2, "RAT_2G_234G", 5, "ACTUAL_RAT_2G_234G"},
      {4, card(1, 2, 1), card(1, 2, 1), -1, "unknown", -1, "unknown"},
  };
  for (const auto& c : cases) {
    fake::reset();
    setRatTableTarget(c.target);
    SCOPED_TRACE("target " + std::to_string(c.target) + ", expected " + c.actualName);
    EXPECT_EQ(ratGetDualCardCapability(&c.first, &c.second), c.capability);
    EXPECT_TRUE(fake::logHas(std::string("combination of (U)SIM: ") + c.capabilityName,
                             c.capability < 0 ? LOG_PRIO_ERROR : LOG_PRIO_INFO));
    EXPECT_EQ(ratGetDualCardActualCapability(&c.first, &c.second), c.actual);
    EXPECT_TRUE(
        fake::logHas(std::string("actual combination of (U)SIM: ") + c.actualName, LOG_PRIO_INFO));
  }
  EXPECT_EQ(ratGetDualCardCapability(nullptr, &kNoCard), -1);
  EXPECT_EQ(ratGetDualCardActualCapability(&kNoCard, nullptr), -1);
}

// Properties every table must have, checked over every pair of card classes of each target.
TEST_F(RatTest, EveryTargetTableFollowsThePolicy) {
  const struct {
    uint32_t target;
    std::vector<CardInfo> classes;  // one card per class index, from 0
  } targets[] = {
      {1, {kNoCard, card(255, 1, 1), kSim, kUsim}},
      {2,
       {kNoCard, card(1, 255, 1), card(1, 1, 1), card(1, 1, 2), card(1, 1, 3), card(1, 2, 1),
        card(1, 2, 2), card(1, 2, 3)}},
      {3, {kNoCard, card(1, 1, 255), card(1, 1, 4), card(1, 1, 5), card(1, 2, 4), card(1, 2, 5)}},
  };
  for (const auto& t : targets) {
    setRatTableTarget(t.target);
    const int n = static_cast<int>(t.classes.size());
    for (int i = 0; i < n; i++) {
      for (int j = 0; j < n; j++) {
        SCOPED_TRACE("target " + std::to_string(t.target) + " classes " + std::to_string(i) + "," +
                     std::to_string(j));
        ASSERT_EQ(getIndexOf_STANDBY_RAT_CAPABILITY(&t.classes[i]), i);
        int capability = ratGetDualCardCapability(&t.classes[i], &t.classes[j]);
        int actual = ratGetDualCardActualCapability(&t.classes[i], &t.classes[j]);
        EXPECT_GE(capability, RAT_234G_2G);
        EXPECT_LE(capability, RAT_234G_2G_O);
        EXPECT_GE(actual, ACTUAL_RAT_234G_2G);
        EXPECT_LE(actual, ACTUAL_RAT_2G_23G);  // no table holds ACTUAL_RAT_2G_2G
        if (i == 0 && j > 0) {                 // an empty slot never leads
          EXPECT_EQ(capability, RAT_2G_234G);
          EXPECT_TRUE(actual == ACTUAL_RAT_2G_234G || actual == ACTUAL_RAT_2G_23G);
        }
        EXPECT_TRUE(j != 0 || capability == RAT_234G_2G);  // a card beside an empty slot leads
        if (i == j && i >= 2) {  // two cards of one known class: the master card decides
          EXPECT_EQ(capability, RAT_234G_2G_O);
          EXPECT_TRUE(actual == ACTUAL_RAT_234G_2G_O || actual == ACTUAL_RAT_23G_2G_O);
        }
      }
    }
  }
}

// Two type-2 cards, target "open", master "10", two SIMs and two standbys, unless changed.
struct Decision {
  const char* name;
  uint32_t target;
  CardInfo first, second;
  const char *masterCard, *prefNetType;  // nullptr: unset
  int32_t simCount, standbyCount, manualStandby;
  RatMask manualMask;
  // Expected from standby 0 on: decided RATs, actual RATs, DSTMEX texts (';' between standbys)
  // and the published actual RATs (nullptr: as the actual ones).
  const char *rat, *actual, *dstmex, *published;
};

TEST_F(RatTest, OneStandbyGetsTheLargerSetAndTheOthersGsm) {
  const Decision decisions[] = {
      {"two USIMs, master 1", 1, kUsim, kUsim, "10", nullptr, 2, 2, -1, 255, "31,1", "31,1",
       "0,7,2,0;1,0;old", nullptr},
      {"pref 0 drops 4G", 1, kUsim, kUsim, "10", "0", 2, 2, -1, 255, "31,1", "19,1", "0,2,0;1,0",
       nullptr},
      {"pref 102 acts like 0", 1, kUsim, kUsim, "10", "102", 2, 2, -1, 255, "31,1", "19,1",
       "0,2,0;1,0", nullptr},
      {"pref 1 leaves 2G", 1, kUsim, kUsim, "10", "1", 2, 2, -1, 255, "31,1", "1,1", "0,0;1,0",
       nullptr},
      {"pref 2 leaves 3G", 1, kUsim, kUsim, "10", "2", 2, 2, -1, 255, "31,1", "18,1", "0,2;1,0",
       nullptr},
      {"pref 3 changes nothing", 1, kUsim, kUsim, "10", "3", 2, 2, -1, 255, "31,1", "31,1",
       "0,7,2,0;1,0", nullptr},
      {"pref not a number counts as 0", 1, kUsim, kUsim, "10", "lte", 2, 2, -1, 255, "31,1", "19,1",
       "0,2,0;1,0", nullptr},
      {"master 2 takes the full set", 1, kUsim, kUsim, "21", nullptr, 2, 2, -1, 255, "1,31", "1,31",
       "1,0;0,7,2,0", nullptr},
      {"stale master code falls back to standby 0", 1, kUsim, kUsim, "30", nullptr, 2, 2, -1, 255,
       "31,1", "31,1", "0,7,2,0;1,0", nullptr},
      {"combination 5 ignores master 1", 1, kNoCard, kUsim, "10", nullptr, 2, 2, -1, 255, "1,31",
       "1,31", "1,0;0,7,2,0", nullptr},
      {"SIM card on the chosen standby loses 4G", 4, kSim, kUsim, "10", nullptr, 2, 2, -1, 255,
       "31,1", "19,1", "0,2,0;1,0", nullptr},
      {"manual setting puts 4G back on a SIM card", 4, kSim, kUsim, "10", nullptr, 2, 2, 0, 31,
       "31,1", "31,1", "0,7,2,0;1,0", nullptr},
      {"manual 13 on standby 1", 1, kUsim, kUsim, "10", nullptr, 2, 2, 1, 13, "31,1", "1,13",
       "1,0;0,7,0", nullptr},
      {"manual on the standby equal to the count", 1, kUsim, kUsim, "10", nullptr, 2, 2, 2, 12,
       "31,1", "1,1,12", "1,0;1,0;0,7", "1,1"},
      {"single SIM dual standby with 4G drops 2G", 1, kUsim, kNoCard, "10", nullptr, 1, 2, -1, 255,
       "31,1", "30,1", "0,7,2;1,0", nullptr},
      {"single SIM dual standby without 4G counts one standby", 1, kUsim, kNoCard, "10", "0", 1, 2,
       -1, 255, "31,1", "19,1", "0,2,0;old", "19"},
      {"two SIMs, three standbys", 1, kUsim, kUsim, "10", nullptr, 2, 3, -1, 255, "31,1,1",
       "31,1,1", "0,7,2,0;1,0;1,0", nullptr},
      {"five standbys", 1, kUsim, kUsim, "10", nullptr, 2, 5, -1, 255, "31,1,1,1,1", "31,1,1,1,1",
       "0,7,2,0;1,0;1,0;1,0;1,0", nullptr},
  };
  for (const Decision& d : decisions) {
    SCOPED_TRACE(d.name);
    SetUp();
    setRatTableTarget(d.target);
    g_cardInfo[0] = d.first;
    g_cardInfo[1] = d.second;
    copyText(g_masterCard, d.masterCard);
    if (d.prefNetType) fake::setProperty("persist.radio.pref.net.type", d.prefNetType);
    g_projectProfile.simCount = d.simCount;
    g_projectProfile.standbyCount = d.standbyCount;
    g_projectProfile.manualRatStandby = d.manualStandby;
    g_projectProfile.manualRatMask = d.manualMask;

    EXPECT_EQ(changeActualRat(), 0);

    EXPECT_EQ(joined(g_standbyRat, parts(d.rat, ',')), d.rat);
    EXPECT_EQ(joined(g_standbyActualRat, parts(d.actual, ',')), d.actual);
    EXPECT_EQ(joined(standbyDSTMEX, parts(d.dstmex, ';'), ";"), d.dstmex);
    EXPECT_EQ(fake::property("persist.sys.vx.actual.rat"), d.published ? d.published : d.actual);
    for (int i = d.standbyCount; i < MAX_STANDBY; i++) {  // beyond the count: untouched
      EXPECT_TRUE(i == d.manualStandby || standbyDSTMEX[i] == std::string("old")) << i;
    }
  }
}

TEST_F(RatTest, DecisionStepsAreLogged) {
  setRatTableTarget(1);
  g_cardInfo[0] = kUsim;
  g_cardInfo[1] = kNoCard;
  copyText(g_masterCard, "10");
  g_projectProfile.simCount = 1;
  g_projectProfile.standbyCount = 2;
  g_projectProfile.manualRatStandby = 1;
  g_projectProfile.manualRatMask = 13;
  changeActualRat();
  for (const char* line :
       {"single (U)SIM dual standby",
        "Replace actual RAT to 13 for standby 1 by the manual setting, and set other standby to 1.",
        "standbyDSTMEX[0] = 1,0, standbyDSTMEX[1] = 0,7,0"}) {
    EXPECT_TRUE(fake::logHas(std::string("[change actual RAT]") + line, LOG_PRIO_INFO)) << line;
  }
}

TEST_F(RatTest, StandbysMapToSlotsByMode) {
  const struct {
    int32_t simCount, standbyCount;
    const char* masterCard;
    std::vector<int32_t> slots;  // empty: an invalid mode, every standby unmapped
  } cases[] = {
      {1, 1, "10", {0, -1}},
      {1, 2, "10", {0, 0, -1}},
      {2, 2, "20", {0, 1, -1}},
      {2, 3, "21", {0, 1, 1, -1}},
      {2, 3, "20", {0, 1, 1, -1}},
      {2, 3, "12", {0, 1, 0, -1}},
      {2, 3, "10", {0, 1, 0, -1}},
      {2, 1, "10", {}},
      {3, 3, "10", {}},
      {0, 0, "10", {}},
  };
  for (const auto& c : cases) {
    SetUp();
    SCOPED_TRACE(std::to_string(c.simCount) + " SIMs, " + std::to_string(c.standbyCount) +
                 " standbys, master " + c.masterCard);
    g_projectProfile.simCount = c.simCount;
    g_projectProfile.standbyCount = c.standbyCount;
    copyText(g_masterCard, c.masterCard);
    EXPECT_EQ(mapStandbyToSim(), 0);
    std::vector<int32_t> expected = c.slots;
    expected.resize(MAX_STANDBY, -1);
    EXPECT_EQ(std::vector<int32_t>(g_standbySimSlot, g_standbySimSlot + MAX_STANDBY), expected);
    std::string line = "Invalid (U)SIM(" + std::to_string(c.simCount) + ") and standby(" +
                       std::to_string(c.standbyCount) + ").";
    EXPECT_EQ(fake::logHas(line, LOG_PRIO_ERROR), c.slots.empty());
  }
}

}  // namespace
