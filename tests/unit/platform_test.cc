// getProp/setProp over the in-memory platform, and the file helpers. Stored values, defaults and
// their log lines are in every golden run, bounded copies in every card text the card tests cut
// and every fuzz target; the daemon's own files meet planted links and FIFOs, a directory in the
// way and a kill at every write in the end-to-end runs.
#include "platform/platform.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "daemon_fixture.h"
#include "platform/files.h"

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
  char plain[32];
  EXPECT_TRUE(formatName(prop::kActualRat.name, 1, plain, sizeof plain));  // no standby in it
  EXPECT_STREQ(prop::kActualRat.name, plain);
}

// An accepted write is set once, without a pause, in every golden run's log.
TEST_F(PropertyTest, RefusedWriteRetriesOneSecondApartIncludingAfterTheLast) {
  for (int maxTries : {3, 0, 5}) {
    memory::reset();
    memory::refuse(prop::kActualRat.name);
    int attempts = maxTries == 0 ? 1 : maxTries;
    EXPECT_EQ(-1, setProp(prop::kActualRat, "v", maxTries));
    EXPECT_EQ(attempts, memory::setAttempts(prop::kActualRat.name));
    EXPECT_EQ(attempts, memory::logCount(fixture::logged(logline::kPropertySetFailed,
                                                         prop::kActualRat.name, "v")));
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

// A file is read whole or not at all, never waiting on what stands at its path: each refusal says
// why. /proc files say they are empty and are longer than they said.
TEST(FileTest, ReadingRefusesAnythingButAWholeRegularFile) {
  memory::reset();
  const std::string dir = memory::root(), file = dir + "/four", fifo = dir + "/fifo";
  fixture::writeFile(file, "four");
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  ASSERT_EQ(0, symlink(file.c_str(), (dir + "/link").c_str()));
  const struct {
    std::string path;
    size_t size;
    ssize_t length;
    int error;
  } cases[] = {{file, 4, 4, 0},
               {file, 3, -1, EFBIG},
               {dir + "/none", 8, -1, ENOENT},
               {fifo, 8, -1, EINVAL},
               {dir + "/link", 8, -1, ELOOP},
               {dir, 8, -1, EINVAL},
               {"/proc/self/status", 16, -1, EFBIG}};
  for (const auto& c : cases) {
    char buffer[16];
    errno = 0;
    EXPECT_EQ(c.length, readRegularFile(c.path.c_str(), buffer, c.size)) << c.path;
    EXPECT_EQ(c.error, c.length < 0 ? errno : 0) << c.path;
  }
  EXPECT_EQ(nullptr, openForReading(fifo.c_str()));
  EXPECT_EQ(EINVAL, errno);
}

// A replacement that cannot take the file's place (a directory moved there meanwhile) fails with
// the rename's errno and leaves neither its temporary file nor a change behind.
TEST(FileTest, FailedReplacementLeavesTheOldStateAndNoTemporaryFile) {
  memory::reset();
  const std::string path = memory::root() + "/rild.cfg0";
  Replacement replacement;
  ASSERT_TRUE(beginReplacement(replacement, path.c_str(), 0644));
  fputs("new", replacement.file);
  std::filesystem::create_directories(path + "/kept");
  EXPECT_FALSE(commitReplacement(replacement));
  EXPECT_TRUE(errno == EISDIR || errno == ENOTEMPTY || errno == EEXIST) << errno;
  EXPECT_TRUE(std::filesystem::is_directory(path + "/kept"));
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  EXPECT_FALSE(beginReplacement(replacement, path.c_str(), 0644));
  EXPECT_EQ(EISDIR, errno);
}

}  // namespace
