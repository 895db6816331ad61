// getProp/setProp and the log over the fake platform.
#include <gtest/gtest.h>

#include <string>

#include "platform/fake_platform.h"
#include "platform/platform.h"

namespace {

class PropertyTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::reset(); }
  char value[PROPERTY_VALUE_SIZE];
};

TEST_F(PropertyTest, StoredValueIsReturnedAndLogged) {
  fake::setProperty("persist.a", "xyz");
  EXPECT_EQ(0, getProp("persist.a", value, "def"));
  EXPECT_STREQ("xyz", value);
  EXPECT_TRUE(fake::logHas("get property: [persist.a]: [xyz]", LOG_PRIO_INFO));
}

TEST_F(PropertyTest, DefaultsAreUsedButNeverWrittenBack) {
  struct Case {
    const char* defaultValue;
    int result;
    const char* value;
    const char* warning;
  } cases[] = {
      {"111", 0, "111", "property \"p\" is empty, use default value \"111\""},
      {"", 0, "", "property \"p\" is empty, use default value \"\""},
      {nullptr, -1, "", "property \"p\" is empty"},
  };
  for (const Case& c : cases) {
    fake::reset();
    memset(value, 'x', sizeof value);
    EXPECT_EQ(c.result, getProp("p", value, c.defaultValue));
    EXPECT_STREQ(c.value, value);
    EXPECT_TRUE(fake::logHas(c.warning, LOG_PRIO_WARN)) << fake::logText();
    EXPECT_FALSE(fake::hasProperty("p"));
    EXPECT_TRUE(fake::propertyWrites().empty());
  }
}

TEST_F(PropertyTest, LongDefaultIsCutTo91Characters) {
  std::string longDefault(120, 'd');
  EXPECT_EQ(0, getProp("p", value, longDefault.c_str()));
  EXPECT_EQ(std::string(91, 'd'), value);
}

TEST_F(PropertyTest, BadArgumentsAreRefusedWithTheirFlags) {
  EXPECT_EQ(-1, getProp(nullptr, value, "d"));
  EXPECT_EQ(-1, getProp("p", nullptr, "d"));
  EXPECT_EQ(-1, getProp("", value, "d"));
  EXPECT_EQ(-1, setProp(nullptr, nullptr, 3));
  EXPECT_EQ(-1, setProp("", "v", 3));
  const char* expected[] = {
      "getProp() parameter error: 1, 0", "getProp() parameter error: 0, 1",
      "getProp() parameter error: 1", "setProp() parameter error: 1, 1",
      "setProp() parameter error: 1"};
  ASSERT_EQ(5u, fake::logLines().size());
  for (int i = 0; i < 5; i++) {
    EXPECT_EQ(expected[i], fake::logLines()[i].text);
    EXPECT_EQ(LOG_PRIO_ERROR, fake::logLines()[i].priority);
  }
  EXPECT_TRUE(fake::sleeps().empty());
}

TEST_F(PropertyTest, AcceptedWriteMakesOneAttemptWithoutPause) {
  EXPECT_EQ(0, setProp("persist.b", "", 3));
  EXPECT_EQ(1, fake::setAttempts("persist.b"));
  EXPECT_TRUE(fake::hasProperty("persist.b"));
  EXPECT_TRUE(fake::logHas("set property: [persist.b]: []", LOG_PRIO_INFO));
  EXPECT_TRUE(fake::sleeps().empty());
}

TEST_F(PropertyTest, RefusedWriteRetriesOneSecondApartIncludingAfterTheLast) {
  struct Case {
    int maxTries;
    int attempts;
  } cases[] = {{3, 3}, {1, 1}, {0, 1}, {5, 5}};
  for (const Case& c : cases) {
    fake::reset();
    fake::refuse("persist.c");
    uint64_t start = fake::nowUs();
    EXPECT_EQ(-1, setProp("persist.c", "v", c.maxTries));
    EXPECT_EQ(c.attempts, fake::setAttempts("persist.c"));
    EXPECT_EQ(c.attempts, fake::logCount("set property: [persist.c]: [v] failed"));
    EXPECT_TRUE(fake::logHas("set property: [persist.c]: [v] failed", LOG_PRIO_INFO));
    EXPECT_EQ(static_cast<uint64_t>(c.attempts) * 1000000, fake::nowUs() - start);
  }
}

TEST(CopyTextTest, AlwaysTerminatesInsideTheField) {
  char field[4];
  copyText(field, "abcdef");
  EXPECT_STREQ("abc", field);
  copyText(field, "abcdef", 2);
  EXPECT_STREQ("ab", field);
  copyText(field, nullptr);
  EXPECT_STREQ("", field);
  char unterminated[3] = {'x', 'y', 'z'};
  EXPECT_EQ(3u, fieldLength(unterminated));
}

}  // namespace
