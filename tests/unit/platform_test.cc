// getProp/setProp over the fake platform. Stored values, defaults and their log lines are in every
// golden run, bounded copies in every card text the card tests cut and every fuzz target; reading
// and replacing files is left to the end-to-end runs: planted links and FIFOs, a directory in the
// way, a kill at every write.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "daemon_fixture.h"

namespace {

class PropertyTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::reset(); }
  char value[PROPERTY_VALUE_SIZE];
};

TEST_F(PropertyTest, BadArgumentsAreRefusedWithTheirFlags) {
  EXPECT_EQ(-1, getProp(nullptr, value, "d"));
  EXPECT_EQ(-1, getProp("", value, "d"));
  EXPECT_EQ(-1, setProp(nullptr, nullptr, 3));
  EXPECT_EQ(-1, setProp("", "v", 3));
  EXPECT_EQ(fake::logText(),
            "E getProp() parameter error: 1, 0\nE getProp() parameter error: 1\n"
            "E setProp() parameter error: 1, 1\nE setProp() parameter error: 1\n");
  EXPECT_TRUE(fake::sleeps().empty());
}

// An accepted write is set once, without a pause, in every golden run's log.
TEST_F(PropertyTest, RefusedWriteRetriesOneSecondApartIncludingAfterTheLast) {
  for (int maxTries : {3, 0, 5}) {
    fake::reset();
    fake::refuse("persist.c");
    int attempts = maxTries == 0 ? 1 : maxTries;
    EXPECT_EQ(-1, setProp("persist.c", "v", maxTries));
    EXPECT_EQ(attempts, fake::setAttempts("persist.c"));
    EXPECT_EQ(attempts, fake::logCount("set property: [persist.c]: [v] failed"));
    EXPECT_EQ(std::vector<uint64_t>(attempts, 1000000), fake::sleeps());
  }
}

}  // namespace
