// getProp/setProp and bounded copies over the fake platform.
#include "platform/platform.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "daemon_fixture.h"

namespace {

class PropertyTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::reset(); }
  char value[PROPERTY_VALUE_SIZE];
};

// The log lines of reads and writes are pinned by the golden runs.
TEST_F(PropertyTest, StoredValueElseDefaultWhichIsNeverWrittenBack) {
  fake::setProperty("persist.a", "xyz");
  EXPECT_EQ(0, getProp("persist.a", value, "def"));
  EXPECT_STREQ("xyz", value);
  memset(value, 'x', sizeof value);
  EXPECT_EQ(-1, getProp("p", value, nullptr));
  EXPECT_STREQ("", value);
  EXPECT_EQ(0, getProp("p", value, std::string(120, 'd').c_str()));
  EXPECT_EQ(std::string(91, 'd'), value);  // a long default is cut
  EXPECT_TRUE(fake::propertyWrites().empty());
}

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

TEST_F(PropertyTest, RefusedWriteRetriesOneSecondApartIncludingAfterTheLast) {
  EXPECT_EQ(0, setProp("persist.b", "", 3));
  EXPECT_EQ(1, fake::setAttempts("persist.b"));
  EXPECT_TRUE(fake::sleeps().empty());
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

// Files another daemon reads, or that a crash must not leave half-written.
class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::reset(); }
  std::string at(const char* name) { return fake::root() + "/" + name; }
};

TEST_F(FilesTest, ReadingNeverBlocksOnAFifoNorFollowsALink) {
  ASSERT_EQ(0, mkfifo(at("fifo").c_str(), 0600));
  ASSERT_EQ(0, symlink("/etc/hostname", at("link").c_str()));
  for (const char* name : {"fifo", "link", "missing"}) {
    errno = 0;
    EXPECT_EQ(nullptr, openForReading(at(name).c_str())) << name;
    EXPECT_NE(0, errno) << name;
  }
  FILE* dir = openForReading(fake::root().c_str());  // a directory opens; reading it fails
  ASSERT_NE(nullptr, dir);
  char byte;
  EXPECT_EQ(0u, fread(&byte, 1, 1, dir));
  fclose(dir);
}

// Modes whatever the umask, and links planted where it writes, are end-to-end cases.
TEST_F(FilesTest, ReplacementIsWholeAndLeavesNoTemporaryFile) {
  std::string path = at("file");
  fixture::writeFile(path, "old");
  Replacement r;
  ASSERT_TRUE(beginReplacement(r, path.c_str(), 0640));
  fputs("new", r.file);
  EXPECT_EQ("old", fixture::readFile(path));  // until the commit
  ASSERT_TRUE(commitReplacement(r));
  EXPECT_EQ("new", fixture::readFile(path));
  // A directory in the way: refused before a temporary file is made.
  std::filesystem::create_directory(at("dir"));
  EXPECT_FALSE(beginReplacement(r, at("dir").c_str(), 0600));
  EXPECT_EQ(EISDIR, errno);
  for (const char* name : {"file.tmp", "dir.tmp"}) EXPECT_FALSE(std::filesystem::exists(at(name)));
}

}  // namespace
