// The host backend: its root check at start, the property store and the log formats.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "platform/host_root.h"
#include "platform/host_store.h"
#include "platform/platform.h"

namespace {

using hoststore::Refusal;

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/mphost.XXXXXX";
    root_ = mkdtemp(dir);
    hostUseRoot(root_.c_str());
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

TEST_F(HostTest, WritesKeepLinesSortedReplaceTheFileWholeAndARebootKeepsPersistentOnes) {
  writeFile("/properties", "b.two=2\nno equals sign\nd.four=4\n");
  writeFile("/properties.tmp", "left by a writer killed before its rename");
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
  // Control properties go to init.
  EXPECT_EQ(0, platformPropertySet("ctl.start", "rild0"));
  EXPECT_EQ(0, platformPropertySet("ctl.stop", "rild1"));
  EXPECT_EQ(0, platformPropertySet("persist.kept", "1"));
  EXPECT_EQ("start rild0\nstop rild1\n", file("/init.log"));
  EXPECT_EQ("running", get("init.svc.rild0"));
  EXPECT_EQ("stopped", get("init.svc.rild1"));
  EXPECT_TRUE(hoststore::reboot(root_.c_str()));
  EXPECT_EQ("persist.kept=1\n", file("/properties"));
  EXPECT_FALSE(std::filesystem::exists(root_ + "/init.log"));
}

TEST_F(HostTest, EachRefusalHasItsReasonAndLeavesTheStoreUnchanged) {
  writeFile("/properties.refuse", "persist.refused\nctl.restart\n");
  EXPECT_EQ(Refusal::kAccepted, hoststore::set(root_.c_str(), "ro.once", "1"));
  std::string before = file("/properties");
  const struct {
    std::string name, value;
    Refusal refusal;
  } cases[] = {
      {"ro.once", "2", Refusal::kReadOnly},
      {"persist.refused", "x", Refusal::kListed},
      {"ctl.restart", "rild0", Refusal::kListed},
      {"ctl.stopp", "rild0", Refusal::kUnknownControl},
      {"ctl.start", "", Refusal::kUnknownControl},
      {"", "x", Refusal::kEmptyName},
      {"a=b", "x", Refusal::kBadName},
      {"a\nb", "x", Refusal::kBadName},
      {std::string(257, 'n'), "x", Refusal::kNameTooLong},
      {"p", "x\ny", Refusal::kBadValue},
      {"p", std::string(92, 'v'), Refusal::kValueTooLong},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.refusal, hoststore::set(root_.c_str(), c.name.c_str(), c.value.c_str())) << c.name;
    EXPECT_STRNE("refused", hoststore::refusalText(c.refusal));
  }
  EXPECT_EQ(before, file("/properties"));
  EXPECT_EQ("", file("/init.log"));
  EXPECT_EQ(Refusal::kAccepted, hoststore::set(root_.c_str(), std::string(256, 'n').c_str(),
                                               std::string(91, 'v').c_str()));
  EXPECT_EQ(Refusal::kNoRoot, hoststore::set("/nonexistent/root", "p", "v"));
}

// The log of a child process with MODEMPREP_LOG_FORMAT set to format.
std::string logged(const char* format) {
  int fds[2];
  EXPECT_EQ(0, pipe(fds));
  fflush(nullptr);  // the child must not write out what the parent buffered
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDERR_FILENO);
    setenv("MODEMPREP_LOG_FORMAT", format, 1);
    LOGD("[0]>> AT^DMCC?<CR>");
    LOGE("two\nlines\n");
    LOGW("%s", "");
    _exit(0);
  }
  close(fds[1]);
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  close(fds[0]);
  int status;
  waitpid(pid, &status, 0);
  return text;
}

// The default, brief, is what the golden runs read.
TEST(HostLogTest, ThreadtimeOnRequestOneLinePerMessageLine) {
  const std::string p =
      "\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d +\\d+ +\\d+ ([DEW]) modemprep: ";
  std::string text = logged("threadtime");
  EXPECT_TRUE(std::regex_match(text, std::regex(p + "\\[0\\]>> AT\\^DMCC\\?<CR>\n" + p + "two\n" +
                                                p + "lines\n" + p + "\n")))
      << text;
}

}  // namespace
