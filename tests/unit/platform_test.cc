// getProp/setProp over the in-memory platform. Stored values, defaults and their log lines are in
// every golden run, bounded copies in every card text the card tests cut and every fuzz target;
// reading and replacing files is left to the end-to-end runs: planted links and FIFOs, a directory
// in the way, a kill at every write.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "daemon_fixture.h"

namespace {

class PropertyTest : public ::testing::Test {
 protected:
  void SetUp() override { memory::reset(); }
  char value[PROPERTY_VALUE_SIZE];
};

// A numbered property is read under its standby's name, and a name that does not fit is refused.
TEST_F(PropertyTest, NumberedPropertyIsReadUnderItsStandbysName) {
  memory::setProperty("init.svc.rild1", "running");
  EXPECT_EQ(0, getProp(prop::kRildState, 1, value, "stopped"));
  EXPECT_STREQ("running", value);
  EXPECT_EQ(0, getProp(prop::kRildState, 0, value, "stopped"));
  EXPECT_STREQ("stopped", value);
  EXPECT_EQ(memory::logText(),
            "I get property: [init.svc.rild1]: [running]\n"
            "W property \"init.svc.rild0\" is empty, use default value \"stopped\"\n");
  char name[16];
  EXPECT_FALSE(formatName(prop::kRildState.name, 12345678, name, sizeof name));
}

// An accepted write is set once, without a pause, in every golden run's log.
TEST_F(PropertyTest, RefusedWriteRetriesOneSecondApartIncludingAfterTheLast) {
  for (int maxTries : {3, 0, 5}) {
    memory::reset();
    memory::refuse(prop::kActualRat.name);
    int attempts = maxTries == 0 ? 1 : maxTries;
    EXPECT_EQ(-1, setProp(prop::kActualRat, "v", maxTries));
    EXPECT_EQ(attempts, memory::setAttempts(prop::kActualRat.name));
    EXPECT_EQ(attempts, memory::logCount("set property: [persist.sys.vx.actual.rat]: [v] failed"));
    EXPECT_EQ(std::vector<uint64_t>(attempts, 1000000), memory::sleeps());
  }
}

// A property made outside the declarations (in a test, or as a constant some file keeps for itself)
// never reaches the platform unnoticed: the in-memory backend stops the test at its first use.
TEST_F(PropertyTest, PropertyNotDeclaredStopsEveryTestThatUsesIt) {
  constexpr Property kUndeclared = {"persist.sys.vx.not.declared", PropertyKind::kPersistent,
                                    kReadsAndWrites, "persist.vendor.vx.not.declared"};
  EXPECT_DEATH(getProp(kUndeclared, value, ""), "persist.sys.vx.not.declared\" is not declared");
  EXPECT_DEATH(setProp(kUndeclared, "1", 1), "is not declared");
  EXPECT_DEATH(getProp(prop::kRildState, -1, value, ""), "init.svc.rild-1");
}

}  // namespace
