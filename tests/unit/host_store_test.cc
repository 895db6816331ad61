// The host backend's property store, init requests and log format.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/platform.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

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
  std::string file(const char* name) { return readFile(root_ + name); }
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
  const std::string tooLong(92, 'v');
  const char* refused[][2] = {
      {"ro.once", "2"},             // read-only: written once
      {"persist.refused", "x"},     // listed in properties.refuse
      {"ctl.restart", "rild0"},     // control properties are refusable too
      {"", "x"},                    // empty name
      {"a=b", "x"},                 // '=' in the name
      {"a\nb", "x"},                // newline in the name
      {"p", "x\ny"},                // newline in the value
      {"p", tooLong.c_str()},       // value over 91 bytes
      {"ctl.frobnicate", "rild0"},  // not a control command
  };
  std::string before = file("/properties");
  for (const auto& write : refused) {
    EXPECT_NE(0, platformPropertySet(write[0], write[1])) << write[0];
  }
  EXPECT_EQ(before, file("/properties"));
  EXPECT_EQ("", file("/init.log"));
  EXPECT_EQ(0, platformPropertySet("p", std::string(91, 'v').c_str()));
}

TEST_F(HostStoreTest, ControlPropertiesAreInitRequestsNotStoredValues) {
  EXPECT_EQ(0, platformPropertySet("ctl.start", "rild0"));
  EXPECT_EQ(0, platformPropertySet("ctl.restart", "rild1"));
  EXPECT_EQ(0, platformPropertySet("ctl.stop", "rild0"));
  EXPECT_EQ("start rild0\nrestart rild1\nstop rild0\n", file("/init.log"));
  EXPECT_EQ("stopped", get("init.svc.rild0"));
  EXPECT_EQ("running", get("init.svc.rild1"));
  EXPECT_EQ("", get("ctl.start"));
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
