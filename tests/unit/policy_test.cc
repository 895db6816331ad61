// The RAT policy through planRadio: given a profile, the cards, the history's slot list, the
// settings and the modem's capability, the plan and the rule behind each decision.
#include "rat/policy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "daemon_fixture.h"
#include "profile/targets.h"

namespace {

using fixture::card;
using fixture::kNoCard;
using L = CardLocale;
using T = CardType;

// The inputs of one decision, built by name from a two-card cmcc phone with default settings.
struct Inputs {
  ProjectProfile profile = fixture::profile();
  CardInfo cards[MAX_SIM] = {kNoCard, kNoCard, kNoCard, kNoCard, kNoCard};
  char lastSlotCardID[MAX_SIM][CARD_ID_SIZE] = {};
  std::string stored = "10", defaultData, prefNetType;
  ModemCapability capability = {1, 2, 1, {31, 31, 31, 31, 31}};
  RadioPlan previous;

  Inputs& target(uint32_t t) { return profile.projectTarget = t, *this; }
  Inputs& storedCode(const char* code) { return stored = code, *this; }
  Inputs& data(const char* card) { return defaultData = card, *this; }
  Inputs& pref(const char* type) { return prefNetType = type, *this; }
  Inputs& noDynamicRat() { return profile.dynamicRat = 0, *this; }
  Inputs& counts(int32_t sims, int32_t standbys) {
    return profile.simCount = sims, profile.standbyCount = standbys, *this;
  }
  Inputs& slots(const CardInfo& first, const CardInfo& second) {
    return cards[0] = first, cards[1] = second, *this;
  }
  Inputs& manual(int32_t standby, RatMask mask) {
    return profile.manualRatStandby = standby, profile.manualRatMask = mask, *this;
  }
  Inputs& lastSlots(const char* first, const char* second) {
    return fixture::setField(lastSlotCardID[0], first),
           fixture::setField(lastSlotCardID[1], second), *this;
  }
  RadioPlan plan() const {
    PolicyInputs in = {
        profile,   cards, lastSlotCardID, stored.c_str(), defaultData.c_str(), prefNetType.c_str(),
        capability};
    return planRadio(in, previous);
  }
};

template <typename V>
std::string joined(const V* values, int count, const char* separator = ",") {
  std::ostringstream out;
  for (int i = 0; i < count; i++) out << (i ? separator : "") << values[i];
  return out.str();
}

// One card per class index of each target, from 0: each type with each locale the target's rule
// gives, in the rule's order.
std::vector<CardInfo> classCards(uint32_t target) {
  const LocaleRule& rule = projectTarget(target).locales;
  std::vector<L> locales;
  for (L locale : {rule.own, rule.sameCountry, rule.foreign}) {
    if (std::find(locales.begin(), locales.end(), locale) == locales.end()) {
      locales.push_back(locale);
    }
  }
  std::vector<CardInfo> out = {kNoCard, card(T::kSim, L::kUnknown)};
  for (T type : {T::kSim, T::kUsim}) {
    for (L locale : locales) out.push_back(card(type, locale));
  }
  return out;
}

// The policy tables, row by row ('/' between rows): every cell is pinned.
TEST(PolicyTest, EveryCellOfEveryTable) {
  const struct {
    uint32_t target;
    const char *capability, *actual;
  } tables[] = {
      {PROJECT_TARGET_OPEN, "1222/1122/1132/1113", "1565/1165/3345/1112"},
      {PROJECT_TARGET_CMCC,
       "12222222/11212212/11311211/12232222/11213212/11111311/12212232/11211213",
       "15666555/11616515/33433533/35646555/33634535/11111211/15616525/11611512"},
      {PROJECT_TARGET_CUCC, "122222/112222/113122/112322/111131/111123",
       "156655/116655/334355/336455/111121/111152"},
  };
  for (const auto& t : tables) {
    std::vector<CardInfo> classes = classCards(t.target);
    std::string capability, actual;
    for (const CardInfo& first : classes) {
      capability += capability.empty() ? "" : "/";
      actual += actual.empty() ? "" : "/";
      for (const CardInfo& second : classes) {
        capability += std::to_string(ratGetDualCardCapability(t.target, first, second).code);
        actual += std::to_string(ratGetDualCardActualCapability(t.target, first, second).code);
      }
    }
    EXPECT_EQ(t.capability, capability) << "target " << t.target;
    EXPECT_EQ(t.actual, actual) << "target " << t.target;
  }
}

TEST(PolicyTest, CardsOutsideTheTargetsRulesCountAsEmptySlots) {
  const struct {
    uint32_t target;
    CardInfo card;
    int index;
    bool covered;
  } cases[] = {
      {PROJECT_TARGET_OPEN, {CardStatus::kUnknown, T::kSim, L::kOpen, {}, {}}, 1, true},
      {PROJECT_TARGET_OPEN, card(static_cast<T>(3), L::kOpen), 0, false},
      {PROJECT_TARGET_CMCC, card(T::kSim, L::kCuccHome), 0, false},
      {PROJECT_TARGET_CMCC, card(T::kUsim, static_cast<L>(0)), 0, false},
      {PROJECT_TARGET_CUCC, card(T::kUsim, L::kCmccHome), 5, true},
      {PROJECT_TARGET_NONE, card(T::kUsim, L::kUnknown), 1, true},
      {PROJECT_TARGET_CMCC, {CardStatus::kAbsent, T::kUsim, L::kCmccHome, {}, {}}, 0, true},
  };
  for (const auto& c : cases) {
    CardClass cls = cardClass(c.target, c.card);
    EXPECT_EQ(c.index, cls.index) << c.target;
    EXPECT_EQ(c.covered, cls.covered) << c.target;
  }
}

// The golden runs pin the plain cases of a rule (table, single SIM, stored master, one standby),
// when the default data card is read, and the last master card's slot and identity in the log.
TEST(PolicyTest, MasterCardByRule) {
  const CardInfo usimA = card(T::kUsim, L::kCmccHome, "460001", "CARD-A");
  const CardInfo usimB = card(T::kUsim, L::kCmccHome, "460002", "CARD-B");
  const CardInfo sim = card(T::kSim, L::kCmccSameCountry);
  using R = MasterRule;
  const struct {
    const char* name;
    Inputs in;
    const char* code;
    MasterRule rule;
    bool written;
  } cases[] = {
      {"manual standby 0 beats the table", Inputs().slots(kNoCard, usimA).manual(0, 12), "10",
       R::kManualSetting, true},
      {"manual standby equal to the count", Inputs().slots(usimA, kNoCard).manual(2, 12), "20",
       R::kManualSetting, true},
      {"dynamic RAT off", Inputs().noDynamicRat().slots(sim, usimA), "10", R::kDynamicRatOff, true},
      {"table: second card", Inputs().slots(sim, usimA), "20", R::kCapabilityTable, true},
      {"equal cards, default data 0", Inputs().data("0").slots(usimA, usimB), "12",
       R::kDefaultDataCard, true},
      {"equal cards, default data 1", Inputs().data("1").slots(usimA, usimB), "21",
       R::kDefaultDataCard, true},
      {"equal cards, last master moved to slot 1",
       Inputs().storedCode("12").slots(usimB, usimA).lastSlots("CARD-A", "CARD-B"), "21",
       R::kLastMasterCard, true},
      {"equal cards never seen", Inputs().slots(usimA, usimB).lastSlots("OLD-1", "OLD-2"), "12",
       R::kLastMasterMissing, true},
      {"no tables for the target", Inputs().storedCode("2").target(4), "2", R::kUnknownCombination,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RadioPlan plan = c.in.plan();
    EXPECT_STREQ(c.code, plan.masterCard);
    EXPECT_EQ(c.rule, plan.master.rule);
    EXPECT_EQ(c.written, plan.master.written);
  }
}

// The golden runs pin pref 0, the default data card's master, a manual setting on standby 1, one
// SIM on two standbys and three standbys.
TEST(PolicyTest, OneStandbyGetsTheLargerSetAndTheOthersGsm) {
  const CardInfo usim = card(T::kUsim, L::kOpen), sim = card(T::kSim, L::kOpen);
  const Inputs open = Inputs().target(PROJECT_TARGET_OPEN).slots(usim, usim);
  const struct {
    const char* name;
    Inputs in;
    const char *rat, *actual, *dstmex, *published;  // published nullptr: as the actual ones
  } cases[] = {
      {"two USIMs, master 1", open, "31,1", "31,1", "0,7,2,0;1,0", nullptr},
      {"pref 102 acts like 0", Inputs(open).pref("102"), "31,1", "19,1", "0,2,0;1,0", nullptr},
      {"pref 1 leaves 2G", Inputs(open).pref("1"), "31,1", "1,1", "0,0;1,0", nullptr},
      {"pref 2 leaves 3G", Inputs(open).pref("2"), "31,1", "18,1", "0,2;1,0", nullptr},
      {"pref 3 changes nothing", Inputs(open).pref("3"), "31,1", "31,1", "0,7,2,0;1,0", nullptr},
      {"pref not a number counts as 0", Inputs(open).pref("lte"), "31,1", "19,1", "0,2,0;1,0",
       nullptr},
      {"stale master code falls back to standby 0", Inputs(open).storedCode("30").counts(2, 1),
       "31", "31", "0,7,2,0", nullptr},
      {"combination 5 ignores master 1", Inputs(open).slots(kNoCard, usim), "1,31", "1,31",
       "1,0;0,7,2,0", nullptr},
      {"SIM card on the chosen standby loses 4G", Inputs().target(4).slots(sim, usim), "31,1",
       "19,1", "0,2,0;1,0", nullptr},
      {"manual setting puts 4G back on a SIM card",
       Inputs().target(4).slots(sim, usim).manual(0, 31), "31,1", "31,1", "0,7,2,0;1,0", nullptr},
      // The manual standby is the master card's too: the table's set goes there.
      {"manual on the standby equal to the count", Inputs(open).manual(2, 12), "1,31", "1,1,12",
       "1,0;1,0;0,7", "1,1"},
      // Only a profile the loader would refuse holds these: the setting is ignored.
      {"manual standby past the last one", Inputs(open).manual(7, 12), "31,1", "31,1",
       "0,7,2,0;1,0", nullptr},
      {"manual standby below 0", Inputs(open).manual(-2, 12), "31,1", "31,1", "0,7,2,0;1,0",
       nullptr},
      {"single SIM dual standby without 4G counts one standby",
       Inputs(open).pref("0").counts(1, 2).slots(usim, kNoCard), "31,1", "19,1", "0,2,0;", "19"},
      {"five standbys", Inputs(open).counts(2, 5), "31,1,1,1,1", "31,1,1,1,1",
       "0,7,2,0;1,0;1,0;1,0;1,0", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int standbys = static_cast<int>(std::count(c.rat, c.rat + strlen(c.rat), ',')) + 1;
    int shown = static_cast<int>(std::count(c.actual, c.actual + strlen(c.actual), ',')) + 1;
    RadioPlan plan = c.in.plan();
    EXPECT_EQ(c.rat, joined(plan.standbyRat, standbys));
    EXPECT_EQ(c.actual, joined(plan.standbyActualRat, shown));
    EXPECT_EQ(c.dstmex, joined(plan.standbyDSTMEX, std::max(standbys, shown), ";"));
    EXPECT_STREQ(c.published != nullptr ? c.published : c.actual, plan.actualRatValue);
  }
}

TEST(PolicyTest, EntriesARunDoesNotTouchKeepThePreviousRunsValues) {
  Inputs in = Inputs().counts(1, 1).slots(card(T::kUsim, L::kCmccHome), kNoCard);
  for (int i = 0; i < MAX_STANDBY; i++) {
    strcpy(in.previous.standbyDSTMEX[i], "old");
    in.previous.standbyActualRat[i] = 99;
  }
  RadioPlan plan = in.plan();
  EXPECT_STREQ("0,7,2,0", plan.standbyDSTMEX[0]);
  EXPECT_STREQ("old", plan.standbyDSTMEX[1]);
  EXPECT_EQ(99u, plan.standbyActualRat[1]);
  EXPECT_STREQ("31", plan.actualRatValue);
}

// One SIM on one or two standbys, two cards, three standbys with master 21 and one standby for
// two SIMs are golden runs.
TEST(PolicyTest, StandbysMapToSlotsByMode) {
  const struct {
    int32_t simCount, standbyCount;
    const char* masterCard;
    const char* slots;
  } cases[] = {
      {2, 3, "12", "0,1,0,-1,-1"},
      {2, 3, "30", "0,1,1,-1,-1"},
      {3, 3, "10", "-1,-1,-1,-1,-1"},
  };
  for (const auto& c : cases) {
    RadioPlan plan;
    strcpy(plan.masterCard, c.masterCard);
    std::fill(std::begin(plan.standbySimSlot), std::end(plan.standbySimSlot), 7);
    mapStandbyToSim(plan, fixture::profile(PROJECT_TARGET_CMCC, c.simCount, c.standbyCount));
    EXPECT_EQ(c.slots, joined(plan.standbySimSlot, MAX_STANDBY)) << c.simCount << c.standbyCount;
    EXPECT_EQ(c.slots[0] == '0', plan.slotModeSupported);
  }
}

}  // namespace
