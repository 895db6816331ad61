// Card classes and card-pair combinations per project target.
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

class RatTablesTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::reset(); }
};

TEST_F(RatTablesTest, CardClassDependsOnTheTarget) {
  const struct {
    uint32_t target;
    CardInfo card;
    int index;
    bool uncovered;  // the "can not get index" line is expected
  } cases[] = {
      {1, card(0, 255, 255), 0, false}, {1, card(255, 1, 6), 1, false},
      {1, card(1, 1, 255), 1, false},   {1, card(1, 1, 6), 2, false},
      {1, card(1, 2, 1), 3, false},     {1, card(1, 3, 6), 0, true},
      {2, card(1, 1, 1), 2, false},     {2, card(1, 1, 3), 4, false},
      {2, card(1, 2, 1), 5, false},     {2, card(1, 2, 3), 7, false},
      {2, card(1, 1, 4), 0, true},      {2, card(1, 2, 0), 0, true},
      {3, card(1, 1, 4), 2, false},     {3, card(1, 1, 5), 3, false},
      {3, card(1, 2, 4), 4, false},     {3, card(1, 2, 5), 5, false},
      {3, card(1, 2, 1), 5, false},     {4, card(1, 1, 1), 0, true},
      {5, card(1, 2, 6), 0, true},      {4, card(255, 1, 1), 1, false},
  };
  for (const auto& c : cases) {
    fake::reset();
    setRatTableTarget(c.target);
    std::string fields = "by m_cardStatus(" + std::to_string(c.card.m_cardStatus) +
                         ") & m_cardType(" + std::to_string(c.card.m_cardType) +
                         ") & m_cardLocale(" + std::to_string(c.card.m_cardLocale) + ")";
    SCOPED_TRACE("target " + std::to_string(c.target) + " " + fields);

    EXPECT_EQ(getIndexOf_STANDBY_RAT_CAPABILITY(&c.card), c.index);
    EXPECT_EQ(getIndexOf_STANDBY_ACTUAL_RAT(&c.card), c.index);
    EXPECT_EQ(fake::logHas("can not get index of RAT_CAPABILITY_XXXX " + fields, LOG_PRIO_ERROR),
              c.uncovered);
    EXPECT_EQ(
        fake::logHas("can not get index of ACTUAL_RAT_CAPABILITY_XXXX " + fields, LOG_PRIO_ERROR),
        c.uncovered);
  }
}

TEST_F(RatTablesTest, CardPairsGiveTheirCombinations) {
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
      {1, kNoCard, card(1, 2, 6), 2, "RAT_2G_234G", 5, "ACTUAL_RAT_2G_234G"},
      {1, card(1, 1, 6), card(1, 2, 6), 2, "RAT_2G_234G", 5, "ACTUAL_RAT_2G_234G"},
      {1, card(1, 1, 6), card(1, 1, 6), 3, "RAT_234G_2G_O", 4, "ACTUAL_RAT_23G_2G_O"},
      {1, card(1, 1, 6), kNoCard, 1, "RAT_234G_2G", 3, "ACTUAL_RAT_23G_2G"},
      {1, card(255, 0, 0), card(1, 1, 6), 2, "RAT_2G_234G", 6, "ACTUAL_RAT_2G_23G"},
      {2, card(1, 2, 1), card(1, 2, 1), 3, "RAT_234G_2G_O", 2, "ACTUAL_RAT_234G_2G_O"},
      {2, card(1, 1, 1), card(1, 2, 2), 1, "RAT_234G_2G", 3, "ACTUAL_RAT_23G_2G"},
      {3, card(1, 2, 5), card(1, 2, 4), 2, "RAT_2G_234G", 5, "ACTUAL_RAT_2G_234G"},
      {4, card(1, 2, 1), card(1, 2, 1), -1, nullptr, -1, "unknown"},
  };
  for (const auto& c : cases) {
    fake::reset();
    setRatTableTarget(c.target);
    SCOPED_TRACE("target " + std::to_string(c.target) + ", expected " + c.actualName);

    EXPECT_EQ(ratGetDualCardCapability(&c.first, &c.second), c.capability);
    if (c.capabilityName) {
      EXPECT_TRUE(
          fake::logHas(std::string("combination of (U)SIM: ") + c.capabilityName, LOG_PRIO_INFO));
    } else {
      EXPECT_TRUE(fake::logHas("combination of (U)SIM: unknown", LOG_PRIO_ERROR));
    }
    EXPECT_EQ(ratGetDualCardActualCapability(&c.first, &c.second), c.actual);
    EXPECT_TRUE(
        fake::logHas(std::string("actual combination of (U)SIM: ") + c.actualName, LOG_PRIO_INFO));
  }
}

// Properties every table must have, checked over every pair of card classes of each target.
TEST_F(RatTablesTest, EveryTargetTableFollowsThePolicy) {
  const struct {
    uint32_t target;
    std::vector<CardInfo> classes;  // one card per class index, from 0
  } targets[] = {
      {1, {kNoCard, card(255, 1, 1), card(1, 1, 6), card(1, 2, 6)}},
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
        const CardInfo& first = t.classes[i];
        const CardInfo& second = t.classes[j];
        ASSERT_EQ(getIndexOf_STANDBY_RAT_CAPABILITY(&first), i);
        int capability = ratGetDualCardCapability(&first, &second);
        int actual = ratGetDualCardActualCapability(&first, &second);
        EXPECT_GE(capability, RAT_234G_2G);
        EXPECT_LE(capability, RAT_234G_2G_O);
        EXPECT_GE(actual, ACTUAL_RAT_234G_2G);
        EXPECT_LE(actual, ACTUAL_RAT_2G_23G);  // no table holds ACTUAL_RAT_2G_2G
        if (i == 0 && j > 0) {                 // an empty slot never leads
          EXPECT_EQ(capability, RAT_2G_234G);
          EXPECT_TRUE(actual == ACTUAL_RAT_2G_234G || actual == ACTUAL_RAT_2G_23G);
        }
        if (j == 0) {
          EXPECT_EQ(capability, RAT_234G_2G);
        }
        if (i == j && i >= 2) {  // two cards of one known class: the master card decides
          EXPECT_EQ(capability, RAT_234G_2G_O);
          EXPECT_TRUE(actual == ACTUAL_RAT_234G_2G_O || actual == ACTUAL_RAT_23G_2G_O);
        }
      }
    }
  }
}

TEST_F(RatTablesTest, MissingRecordIsAParameterErrorAndIndexLinesNameBothCards) {
  EXPECT_EQ(ratGetDualCardCapability(nullptr, &kNoCard), -1);
  EXPECT_TRUE(fake::logHas("ratGetDualCardCapability() parameter error: 1, 0", LOG_PRIO_ERROR));
  EXPECT_EQ(ratGetDualCardActualCapability(&kNoCard, nullptr), -1);
  EXPECT_TRUE(
      fake::logHas("ratGetDualCardActualCapability() parameter error: 0, 1", LOG_PRIO_ERROR));

  fake::reset();
  setRatTableTarget(4);
  CardInfo known = card(1, 2, 1);
  ratGetDualCardActualCapability(&kNoCard, &known);
  const auto& lines = fake::logLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0].text, "getIndexOf_STANDBY_ACTUAL_RAT() of card 0 is 0");
  EXPECT_EQ(lines[2].text, "getIndexOf_STANDBY_ACTUAL_RAT() of card 1 is 0");  // after its error
  EXPECT_EQ(lines.back().priority, LOG_PRIO_INFO);
}

}  // namespace
