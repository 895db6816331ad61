// The modem simulator stands in for the modem in every end-to-end test, so a framing or timing
// slip here would make those tests blame the daemon. These cases pin the wire format.
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>

#include "gtest/gtest.h"
#include "modemsim/faults.h"
#include "modemsim/modem.h"
#include "modemsim/scenario.h"
#include "modemsim/simulator.h"
#include "modemsim/uevent.h"

namespace modemsim {
namespace {

using Clock = std::chrono::steady_clock;

// Plays the daemon: a short root, the node opened like the daemon opens it.
class Line : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/msimXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
    ASSERT_EQ(mkdir((root_ + "/dev").c_str(), 0755), 0);
  }
  void TearDown() override {
    if (fd_ >= 0) close(fd_);
    sim_.reset();
    unlink((root_ + "/dev/uevent.sock").c_str());
    rmdir((root_ + "/dev").c_str());
    rmdir(root_.c_str());
  }
  void start(const std::string& json) {
    Scenario sc;
    std::string error;
    ASSERT_TRUE(parseScenario(json, &sc, &error)) << error;
    start(std::make_unique<Simulator>(std::move(sc)));
  }
  void start(std::unique_ptr<Simulator> sim) {
    std::string error;
    sim_ = std::move(sim);
    ASSERT_TRUE(sim_->start(root_, &error)) << error;
    ASSERT_TRUE(sim_->waitLinked(2000));
    fd_ = open((root_ + "/dev/TTYEMS40").c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd_, 0);
  }
  void send(const std::string& cmd) {
    ASSERT_EQ(write(fd_, (cmd + "\r").data(), cmd.size() + 1), ssize_t(cmd.size() + 1));
  }
  // One read as the daemon does it; empty on time-out.
  std::string chunk(int timeoutMs = 1000) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) != 1) return "";
    char buf[512];
    ssize_t n = read(fd_, buf, sizeof(buf));
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
  }
  // Reads as many bytes as the expected answer has, so a stray extra byte fails the next one.
  void expectAnswer(const std::string& cmd, const std::string& want) {
    send(cmd);
    std::string got;
    for (auto end = Clock::now() + std::chrono::seconds(2); got.size() < want.size();) {
      if (Clock::now() > end) break;
      got += chunk(20);
    }
    EXPECT_EQ(got, want) << cmd;
  }

  std::string root_;
  std::unique_ptr<Simulator> sim_;
  int fd_ = -1;
};

const char kTwoCards[] = R"({"imei": ["867400020000010", "000000000000000"], "slots": [
    {"present": true, "id": "8986A", "imsi": "460001234567890", "type": 2},
    {"present": true, "id": "8986B", "imsi": "460019876543210", "type": 1, "lock": "pin"}]})";

TEST_F(Line, AnswersAreByteExactPerStandby) {
  start(kTwoCards);
  const struct {
    const char *command, *answer;
  } script[] = {
      {"AT^DMCC?", "\r\n^DMCC: 1,2,1,31,1\r\n\r\nOK\r\n"},
      {"AT^DUSIMR=1", "\r\n^DUSIMU: 1\r\n\r\nOK\r\n"},
      {"AT^DCID", "\r\n^DCID: 8986A\r\n\r\nOK\r\n"},
      {"AT+CIMI", "\r\n+CIMI: 460001234567890\r\n\r\nOK\r\n"},
      {"AT^DMPCHN=5", "\r\nERROR\r\n"},
      {"AT^DMPCHN=1", "\r\nOK\r\n"},
      {"AT+CIMI", "\r\n+CME ERROR: 11\r\n"},
      {"AT+CGSN", "\r\n+CGSN: 000000000000000\r\n\r\nOK\r\n"},
  };
  for (const auto& x : script) expectAnswer(x.command, x.answer);
  // LF and empty lines are ignored; commands may arrive in pieces.
  ASSERT_EQ(write(fd_, "\n\rAT^DM", 7), 7);
  expectAnswer("PCHN=0", "\r\nOK\r\n");
  EXPECT_EQ(sim_->transcript().back(), "1 AT^DMPCHN=0");
}

TEST_F(Line, SplitAnswerArrivesAsSeparateChunks) {
  start(R"({"slots": [{"present": true, "id": "8986"}], "faults": [
      {"command": "AT^DCID", "split": [2, 11, 18], "split_gap_ms": 60}]})");
  send("AT^DCID");
  for (const char* piece : {"\r\n", "^DCID: 89", "86\r\n\r\nO", "K\r\n"}) EXPECT_EQ(chunk(), piece);
}

TEST_F(Line, DelayedStatusReportFollowsOkAfterNoise) {
  start(R"({"slots": [{"present": true}], "status_report":
      {"mode": "delayed", "delay_ms": 300, "status_noise": "\r\n+CREG: 1\r\n"}})");
  const auto sent = Clock::now();
  send("AT^DUSIMR=1");
  for (const char* piece : {"\r\nOK\r\n", "\r\n+CREG: 1\r\n", "\r\n^DUSIMU: 1\r\n"}) {
    EXPECT_EQ(chunk(), piece);
  }
  EXPECT_GE(Clock::now() - sent, std::chrono::milliseconds(300));
}

TEST_F(Line, CardChangesSendTheUeventDatagram) {
  start(R"({"slots": [{"present": false}, {"present": false, "id": "8986B"}]})");
  const int sock = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  strcpy(addr.sun_path, ueventSocketPath(root_).c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  char buf[256];
  ASSERT_TRUE(sim_->insertCard(1, true));
  ssize_t n = recv(sock, buf, sizeof(buf), MSG_DONTWAIT);
  EXPECT_EQ(std::string(buf, n > 0 ? n : 0),
            std::string("change@/devices/virtual/sim/sim1\0USIM1\0IN\0", 42));
  expectAnswer("AT^DMPCHN=1", "\r\nOK\r\n");
  expectAnswer("AT^DCID", "\r\n^DCID: 8986B\r\n\r\nOK\r\n");
  ASSERT_TRUE(sim_->removeCard(1, true));
  n = recv(sock, buf, sizeof(buf), MSG_DONTWAIT);
  EXPECT_EQ(std::string(buf, n > 0 ? n : 0),
            std::string("change@/devices/virtual/sim/sim1\0USIM1\0OUT\0", 43));
  close(sock);
}

TEST(Faults, ChunksAreTheNoiseThenTheAnswerCutAtTheSplits) {
  const std::string ok = "\r\nOK\r\n";
  const struct {
    std::string noise;
    std::optional<std::string> answer;
    std::vector<size_t> split;
    std::vector<std::string> want;
  } cases[] = {
      {"", ok, {}, {ok}},
      {"", ok, {3}, {"\r\nO", "K\r\n"}},
      {"", ok, {1, 5, 6, 9}, {"\r", "\nOK\r", "\n"}},  // cuts at or past the end are ignored
      {"RING", ok, {2}, {"RING", "\r\n", "OK\r\n"}},
      {"RING", std::nullopt, {2}, {"RING"}},  // a silent command still gets its noise
      {"", std::nullopt, {}, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, chunks(c.noise, c.answer, c.split)) << c.noise;
}

// Records what the modem schedules instead of running a line.
struct FakeWire : Wire {
  void at(Clock::time_point, std::function<void()> fn) override { timers.push_back(fn); }
  uint64_t epoch() const override { return 1; }
  void write(uint64_t, const std::string& data) override { written += data; }
  std::vector<std::function<void()>> timers;
  std::string written;
};

TEST(ScenarioModem, EveryTableEntryAndPrefixReachesItsHandler) {
  Scenario sc;
  std::string error;
  ASSERT_TRUE(parseScenario(kTwoCards, &sc, &error)) << error;
  ScenarioModem modem(sc);
  FakeWire wire;
  const struct {
    const char *command, *answer;
  } script[] = {
      {"AT^DLKS=0", "\r\nOK\r\n"},
      {"AT+DSIMIO=1", "\r\nOK\r\n"},
      {"AT^DUSIMR=0", "\r\nOK\r\n"},
      {"AT^DTOC", "\r\n^DTOC: 2\r\n\r\nOK\r\n"},
      {"AT^DMPCHN=", "\r\nERROR\r\n"},
      {"AT^DMPCHN=12", "\r\nERROR\r\n"},
      {"AT^DMPCH", "\r\nERROR\r\n"},
      {"AT^DMPCHN=2", "\r\nOK\r\n"},
      {"AT^DCID", "\r\n+CME ERROR: 10\r\n"},  // standby 2 serves the empty slot 2
      {"AT+CGSN", "\r\nOK\r\n"},
      {"AT^DCGSNW=867400020000028", "\r\nOK\r\n"},
      {"AT+CGSN", "\r\n+CGSN: 867400020000028\r\n\r\nOK\r\n"},
      {"AT+CSQ", "\r\nERROR\r\n"},
  };
  for (const auto& x : script)
    EXPECT_EQ(x.answer, modem.respond(x.command, wire).text) << x.command;
  EXPECT_EQ(2, modem.standby());
  // The reset answers nothing at once; when its timer runs the modem is back on standby 0.
  EXPECT_EQ(std::nullopt, modem.respond("AT^DSRST", wire).text);
  ASSERT_EQ(1u, wire.timers.size());
  wire.timers[0]();
  EXPECT_EQ(0, modem.standby());
  EXPECT_EQ("\r\n^DMRST\r\n", wire.written);
}

// Another modem on the same line with the same faults: what a replay of logged answers does.
struct CannedModem : Behaviour {
  int standby() const override { return 3; }
  Answer respond(const std::string& command, Wire&) override { return "\r\n" + command + "\r\n"; }
};

TEST_F(Line, AnotherBehaviourGetsTheSameLineAndFaults) {
  Fault split;
  split.command = "AT+X";
  split.split = {4};
  split.splitGapMs = 40;
  start(std::make_unique<Simulator>(std::make_unique<CannedModem>(), std::vector<Fault>{split}));
  send("AT+X");
  for (const char* piece : {"\r\nAT", "+X\r\n"}) EXPECT_EQ(chunk(), piece);
  EXPECT_EQ(sim_->transcript(), std::vector<std::string>{"3 AT+X"});
}

}  // namespace
}  // namespace modemsim
