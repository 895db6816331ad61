// The host backend's property store and log format.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/platform.h"

namespace {

class HostStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/mphost.XXXXXX";
    root_ = mkdtemp(dir);
    setenv("MODEMPREP_ROOT", root_.c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  std::string get(const char* name) {
    char value[PROPERTY_VALUE_SIZE];
    platformPropertyGet(name, value);
    return value;
  }
  std::string file(const char* name) {
    std::stringstream text;
    text << std::ifstream(root_ + name).rdbuf();
    return text.str();
  }
  void writeFile(const char* name, const std::string& text) { std::ofstream(root_ + name) << text; }

  std::string root_;
};

TEST_F(HostStoreTest, WritesKeepLinesSortedAndReplaceTheFileWhole) {
  writeFile("/properties", "b.two=2\nno equals sign\nd.four=4\n");
  EXPECT_EQ(0, platformPropertySet("c.three", "3"));
  EXPECT_EQ(0, platformPropertySet("a.one", "1"));
  EXPECT_EQ(0, platformPropertySet("b.two", "two=2"));
  EXPECT_EQ(0, platformPropertySet("e.empty", ""));
  EXPECT_EQ("a.one=1\nb.two=two=2\nc.three=3\nd.four=4\ne.empty=\n", file("/properties"));
  EXPECT_EQ("two=2", get("b.two"));
  EXPECT_EQ("", get("missing"));
  for (const auto& entry : std::filesystem::directory_iterator(root_)) {
    std::string name = entry.path().filename();
    EXPECT_TRUE(name == "properties" || name == "properties.lock") << name;
  }
}

TEST_F(HostStoreTest, RefusedWritesLeaveTheStoreUnchanged) {
  writeFile("/properties.refuse", "persist.refused\nctl.restart\n");
  EXPECT_EQ(0, platformPropertySet("ro.once", "1"));
  std::string before = file("/properties");
  // Read-only written once, listed as refused (control ones too), bad names, bad values.
  for (const char* name : {"ro.once", "persist.refused", "ctl.restart", "", "a=b", "ctl.stopp"}) {
    EXPECT_NE(0, platformPropertySet(name, "x")) << name;
  }
  for (const std::string& value : {std::string("x\ny"), std::string(92, 'v')}) {
    EXPECT_NE(0, platformPropertySet("p", value.c_str()));
  }
  EXPECT_NE(0, platformPropertySet("a\nb", "x"));
  EXPECT_EQ(before, file("/properties"));
  EXPECT_EQ("", file("/init.log"));
  EXPECT_EQ(0, platformPropertySet("p", std::string(91, 'v').c_str()));
}

TEST(HostLogTest, BriefFormatOneLinePerMessageLine) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  int saved = dup(STDERR_FILENO);
  dup2(fds[1], STDERR_FILENO);
  LOGD("[0]>> AT^DMCC?<CR>");
  LOGE("two\nlines\n");
  LOGW("%s", "");
  fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(fds[1]);
  char buffer[512] = {};
  ssize_t n = read(fds[0], buffer, sizeof buffer - 1);
  close(fds[0]);
  ASSERT_GT(n, 0);
  char pid[16];
  snprintf(pid, sizeof pid, "(%5d)", static_cast<int>(getpid()));
  std::string p = std::string("/modemprep") + pid + ": ";
  EXPECT_EQ("D" + p + "[0]>> AT^DMCC?<CR>\nE" + p + "two\nE" + p + "lines\nW" + p + "\n",
            std::string(buffer));
}

}  // namespace
