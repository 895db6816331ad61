// The host backend: its root check at start, the property store and the log formats.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "platform/host/root.h"
#include "platform/host/store.h"
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
  void writeFile(const char* name, const std::string& text) {
    std::ofstream(root_ + name, std::ios::binary) << text;
  }

  std::string root_;
};

// What init makes of control properties, and what a reboot keeps, are in the golden runs' stores
// and init logs; the refusals, by name and reason, in propctl's end-to-end test.
TEST_F(HostTest, WritesKeepLinesSortedAndReplaceTheFileWhole) {
  // A line holding a NUL byte is a line like any other: the next one is not lost with it.
  const std::string nul = std::string("b.nul=x") + '\0' + "y\n";
  // Lines longer than the store's buffer are kept whole and in order, a name past the buffer
  // too; only a line without '=' is dropped, however long.
  const std::string longValue = "b.three=" + std::string(20000, 'v') + "=v\n";
  const std::string longName = std::string(1500, 'c') + "=x\n";
  writeFile("/properties", "b.two=2\nno equals sign\n" + nul + longValue + longName +
                               std::string(3000, 'z') + "\nd.four=4\n");
  writeFile("/properties.tmp", "left by a writer killed before its rename");
  EXPECT_EQ("4", get("d.four"));
  EXPECT_EQ(std::string(PROPERTY_VALUE_SIZE - 1, 'v'), get("b.three"));
  EXPECT_EQ(0, platformPropertySet("c.three", "3"));
  EXPECT_EQ(0, platformPropertySet("a.one", "1"));
  EXPECT_EQ(0, platformPropertySet("b.two", "two=2"));
  EXPECT_EQ(0, platformPropertySet("e.empty", ""));
  EXPECT_EQ("a.one=1\n" + nul + longValue + "b.two=two=2\nc.three=3\n" + longName +
                "d.four=4\ne.empty=\n",
            file("/properties"));
  EXPECT_EQ("two=2", get("b.two"));
  // A value is taken up to 91 bytes, to the byte.
  EXPECT_EQ(0, platformPropertySet("f.long", std::string(91, 'v').c_str()));
  EXPECT_NE(0, platformPropertySet("f.long", std::string(92, 'v').c_str()));
  EXPECT_EQ("", get("missing"));
  for (const auto& entry : std::filesystem::directory_iterator(root_)) {
    std::string name = entry.path().filename();
    EXPECT_TRUE(name == "properties" || name == "properties.lock") << name;
  }
}

// A write the store cannot make is refused and leaves the store, init's log and no temporary file
// behind; a name that is a prefix of a stored one sorts before it, and a reboot keeps only
// "persist." lines, short ones dropped too.
TEST_F(HostTest, AWriteTheStoreCannotMakeIsRefusedAndLeavesNothing) {
  const std::string longName = std::string(1500, 'c');
  writeFile("/properties", "a.bc=1\n" + longName + "=x\npersist.p=1\n");
  EXPECT_EQ(Refusal::kAccepted, hoststore::set(root_.c_str(), "a.b", "2"));
  char value[8];
  EXPECT_FALSE(hoststore::get(root_.c_str(), longName.c_str(), value, sizeof value));
  const std::string store = "a.b=2\na.bc=1\n" + longName + "=x\npersist.p=1\n";
  EXPECT_EQ(store, file("/properties"));
  struct Case {
    const char* planted;  // a directory at this path makes the write fail
    const char* name;
    const char* value;
    Refusal refusal;
  };
  const Case cases[] = {
      {"/properties.lock", "b", "1", Refusal::kNoRoot},
      {"/init.log", "ctl.start", "rild0", Refusal::kNoRoot},
      {nullptr, "ctl.start", "", Refusal::kUnknownControl},
  };
  for (const Case& c : cases) {
    if (c.planted != nullptr) {
      std::filesystem::remove(root_ + c.planted);
      std::filesystem::create_directory(root_ + c.planted);
    }
    EXPECT_EQ(c.refusal, hoststore::set(root_.c_str(), c.name, c.value)) << c.name;
    EXPECT_EQ(store, file("/properties")) << c.name;
    if (c.planted != nullptr) std::filesystem::remove(root_ + c.planted);
  }
  // A directory in the store's place: nothing renamed over it, the temporary file removed.
  std::filesystem::rename(root_ + "/properties", root_ + "/saved");
  std::filesystem::create_directories(root_ + "/properties/full");
  EXPECT_EQ(Refusal::kNoRoot, hoststore::set(root_.c_str(), "b", "1"));
  EXPECT_FALSE(std::filesystem::exists(root_ + "/properties.tmp"));
  std::filesystem::remove_all(root_ + "/properties");
  std::filesystem::rename(root_ + "/saved", root_ + "/properties");
  writeFile("/properties", store + "x=1\n");
  EXPECT_TRUE(hoststore::reboot(root_.c_str()));
  EXPECT_EQ("persist.p=1\n", file("/properties"));
}

// Only the daemon's user can hold the store's lock (0600, also when an older store left it
// readable), and another process holding it holds no write for more than a second: the write is
// refused, as a refusing property service would, and nothing of it is done, a control command's
// line in init.log included.
TEST_F(HostTest, AWriteWhoseLockIsHeldElsewhereIsRefusedWithinASecond) {
  const std::string lock = root_ + "/properties.lock";
  writeFile("/properties.lock", "");
  chmod(lock.c_str(), 0644);
  EXPECT_EQ(0, platformPropertySet("a", "1"));
  struct stat info;
  ASSERT_EQ(0, stat(lock.c_str(), &info));
  EXPECT_EQ(0600u, info.st_mode & 07777);
  int ready[2];
  ASSERT_EQ(0, pipe(ready));
  pid_t holder = fork();
  if (holder == 0) {
    flock(open(lock.c_str(), O_RDONLY), LOCK_EX);
    _exit(write(ready[1], "x", 1) == 1 ? pause() : 1);
  }
  char byte;
  ASSERT_EQ(1, read(ready[0], &byte, 1));
  for (const char* name : {"a", "ctl.start"}) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_NE(0, platformPropertySet(name, "rild0")) << name;
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(took.count() >= 0.9 && took.count() < 1.5) << name << " " << took.count();
  }
  EXPECT_EQ("a=1\n", file("/properties"));
  EXPECT_EQ("", file("/init.log"));
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  for (int fd : ready) close(fd);
}

// The uevent socket takes a datagram only with its sender's credentials (the kernel attaches them
// when the socket asks): one without is refused and its bytes cleared. Closing removes the socket
// file; a root without /dev cannot have one.
TEST_F(HostTest, UeventSocketTakesOnlyCredentialedDatagramsAndGoesAtClose) {
  const std::string socketPath = root_ + kUeventSocketPath;
  std::filesystem::create_directory(root_ + "/dev");
  for (bool credentials : {true, false}) {
    const int fd = platformUeventOpen(4096, credentials);
    ASSERT_GE(fd, 0);
    const int sender = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(
        8, sendto(sender, "USIM1 IN", 8, 0, reinterpret_cast<sockaddr*>(&address), sizeof address));
    close(sender);
    char buffer[16] = "x";
    errno = 0;
    EXPECT_EQ(credentials ? 8 : -1, platformUeventReceive(fd, buffer, sizeof buffer));
    EXPECT_EQ(credentials ? 0 : EIO, errno);
    EXPECT_EQ(credentials ? std::string("USIM1 IN") : std::string(8, '\0'), std::string(buffer, 8));
    platformUeventClose(fd);
    EXPECT_FALSE(std::filesystem::exists(socketPath));
  }
  std::filesystem::remove_all(root_ + "/dev");
  EXPECT_EQ(-1, platformUeventOpen(4096, true));
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
    platformLogWrite(9, std::string(1500, 'x').c_str());  // no such priority, longer than a line
    exit(0);  // not _exit: a coverage build writes the child's counts at exit
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
      "\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d +\\d+ +\\d+ ([DEW?]) modemprep: ";
  std::string text = logged("threadtime");
  EXPECT_TRUE(std::regex_match(text, std::regex(p + "\\[0\\]>> AT\\^DMCC\\?<CR>\n" + p + "two\n" +
                                                p + "lines\n" + p + "\n" + p + "x+\n")))
      << text;
  EXPECT_EQ(1200u, text.size() - text.rfind('\n', text.size() - 2) - 1);  // cut to one whole line
}

}  // namespace
