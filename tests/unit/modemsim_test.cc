// The modem simulator stands in for the modem in every end-to-end test, so a framing or timing
// slip here would make those tests blame the daemon. These cases pin the wire format.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "modemsim/scenario.h"
#include "modemsim/simulator.h"
#include "modemsim/uevent.h"

namespace modemsim {
namespace {

using Clock = std::chrono::steady_clock;

std::string scenarioFile(const std::string& name) {
  const std::string self = __FILE__;
  return self.substr(0, self.rfind("/tests/")) + "/tools/modemsim/scenarios/" + name;
}

Scenario load(const std::string& name) {
  Scenario sc;
  std::string error;
  EXPECT_TRUE(loadScenarioFile(scenarioFile(name), &sc, &error)) << error;
  return sc;
}

Scenario parse(const std::string& json) {
  Scenario sc;
  std::string error;
  EXPECT_TRUE(parseScenario(json, &sc, &error)) << error;
  return sc;
}

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

  void start(Scenario sc) {
    sim_.reset(new Simulator(std::move(sc)));
    std::string error;
    ASSERT_TRUE(sim_->start(root_, &error)) << error;
    ASSERT_TRUE(sim_->waitLinked(2000));
    openNode();
  }
  void openNode() {
    if (fd_ >= 0) close(fd_);
    fd_ = open((root_ + "/dev/TTYEMS40").c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd_, 0);
  }
  void send(const std::string& cmd) {
    const std::string line = cmd + "\r";
    ASSERT_EQ(write(fd_, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  }
  // One read as the daemon does it; empty on time-out.
  std::string chunk(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) != 1) return "";
    char buf[512];
    const ssize_t n = read(fd_, buf, sizeof(buf));
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
  }
  std::string readBytes(size_t size, int timeoutMs = 2000) {
    std::string got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < size && Clock::now() < deadline) got += chunk(20);
    return got;
  }
  // Reads as many bytes as the expected answer has, so a stray extra byte fails the next one.
  void expectAnswer(const std::string& cmd, const std::string& want) {
    send(cmd);
    EXPECT_EQ(readBytes(want.size()), want) << cmd;
  }

  std::string root_;
  std::unique_ptr<Simulator> sim_;
  int fd_ = -1;
};

struct Exchange {
  const char* command;
  const char* answer;
};

TEST_F(Line, TwoCardsAnswerPerStandby) {
  Scenario sc = load("two_cards.json");
  sc.slots[1].lock = Lock::kPin;
  sc.imei.resize(3);
  start(sc);
  const std::vector<Exchange> script = {
      {"AT^DMCC?", "\r\n^DMCC: 1,2,1,31,1\r\n\r\nOK\r\n"},
      {"AT^DLKS=1", "\r\nOK\r\n"},
      {"AT^DUSIMR=1", "\r\n^DUSIMU: 1\r\n\r\nOK\r\n"},
      {"AT^DCID", "\r\n^DCID: 89860012345678901234\r\n\r\nOK\r\n"},
      {"AT+CIMI", "\r\n+CIMI: 460001234567890\r\n\r\nOK\r\n"},
      {"AT^DTOC", "\r\n^DTOC: 2\r\n\r\nOK\r\n"},
      {"AT+CGSN", "\r\n+CGSN: 867400020000010\r\n\r\nOK\r\n"},
      {"AT^DMPCHN=5", "\r\nERROR\r\n"},
      {"AT^DMPCHN=1", "\r\nOK\r\n"},
      {"AT^DCID", "\r\n^DCID: 89860198765432109876\r\n\r\nOK\r\n"},
      {"AT+CIMI", "\r\n+CME ERROR: 11\r\n"},
      {"AT^DTOC", "\r\n^DTOC: 1\r\n\r\nOK\r\n"},
      {"AT^DMPCHN=2", "\r\nOK\r\n"},
      {"AT^DUSIMR=1", "\r\n^DUSIMU: 0\r\n\r\nOK\r\n"},
      {"AT^DCID", "\r\n+CME ERROR: 10\r\n"},
      {"AT+CIMI", "\r\n+CME ERROR: 10\r\n"},
      {"AT+CGSN", "\r\nOK\r\n"},
      {"AT^DCGSNW=867400020000044", "\r\nOK\r\n"},
      {"AT+CGSN", "\r\n+CGSN: 867400020000044\r\n\r\nOK\r\n"},
      {"AT+DSIMIO=1", "\r\nOK\r\n"},
      {"AT+BOGUS", "\r\nERROR\r\n"},
  };
  for (const Exchange& x : script) {
    expectAnswer(x.command, x.answer);
  }
  // LF and empty lines are ignored; commands may arrive in pieces.
  ASSERT_EQ(write(fd_, "\n\rAT^DM", 7), 7);
  expectAnswer("PCHN=0", "\r\nOK\r\n");
  const std::vector<std::string> t = sim_->transcript();
  ASSERT_EQ(t.size(), script.size() + 1);
  EXPECT_EQ(t[8], "0 AT^DMPCHN=1");
  EXPECT_EQ(t[9], "1 AT^DCID");
  EXPECT_EQ(t.back(), "2 AT^DMPCHN=0");
}

TEST_F(Line, SplitAndNoiseArriveAsSeparateChunks) {
  start(parse(R"({"slots": [{"present": true, "id": "8986"}], "faults": [
      {"command": "AT^DCID", "split": [2, 11, 18], "split_gap_ms": 60},
      {"command": "AT^DLKS*", "noise": "\r\n+CREG: 1\r\n", "split_gap_ms": 60}]})"));
  send("AT^DCID");
  for (const char* piece : {"\r\n", "^DCID: 89", "86\r\n\r\nO", "K\r\n"}) {
    EXPECT_EQ(chunk(1000), piece);
  }
  send("AT^DLKS=0");
  EXPECT_EQ(chunk(1000), "\r\n+CREG: 1\r\n");
  EXPECT_EQ(chunk(1000), "\r\nOK\r\n");
}

TEST_F(Line, FaultsCountOccurrencesPerStandby) {
  start(parse(R"({"slots": [{"present": true, "id": "A"}, {"present": true, "id": "B"}],
    "faults": [
      {"command": "AT+CGSN", "error_first": 2},
      {"command": "AT^DCID", "standby": 1, "silent": true, "times": 1},
      {"command": "AT^DMCC?", "reply": "\r\n^DMCC: 9\r\n\r\nOK\r\n"}]})"));
  expectAnswer("AT+CGSN", "\r\nERROR\r\n");
  expectAnswer("AT+CGSN", "\r\nERROR\r\n");
  expectAnswer("AT+CGSN", "\r\nOK\r\n");
  expectAnswer("AT^DMCC?", "\r\n^DMCC: 9\r\n\r\nOK\r\n");
  expectAnswer("AT^DCID", "\r\n^DCID: A\r\n\r\nOK\r\n");
  expectAnswer("AT^DMPCHN=1", "\r\nOK\r\n");
  send("AT^DCID");
  EXPECT_EQ(chunk(200), "");  // silent once on standby 1 only
  expectAnswer("AT^DCID", "\r\n^DCID: B\r\n\r\nOK\r\n");
  EXPECT_EQ(sim_->transcript().size(), 8u);  // silent and failed commands are logged too
}

TEST_F(Line, DelayedStatusReportFollowsOkAfterNoise) {
  start(load("delayed_status.json"));
  const auto sent = Clock::now();
  send("AT^DUSIMR=1");
  EXPECT_EQ(chunk(1000), "\r\nOK\r\n");
  EXPECT_EQ(chunk(1000), "\r\n+CREG: 1\r\n");
  EXPECT_EQ(chunk(1000), "\r\n^DUSIMU: 1\r\n");
  EXPECT_GE(Clock::now() - sent, std::chrono::milliseconds(300));
  // Switching the report off cancels one still pending.
  send("AT^DUSIMR=1");
  EXPECT_EQ(chunk(1000), "\r\nOK\r\n");
  expectAnswer("AT^DUSIMR=0", "\r\nOK\r\n");
  EXPECT_EQ(chunk(600), "\r\n+CREG: 1\r\n");
  EXPECT_EQ(chunk(200), "");
}

TEST_F(Line, ResetReportsDmrstAndSwapsRat) {
  start(parse(R"({"rat": [31, 1], "reset": {"dmrst_delay_ms": 150}})"));
  expectAnswer("AT^DMPCHN=1", "\r\nOK\r\n");
  const auto sent = Clock::now();
  send("AT^DSRST");
  EXPECT_EQ(readBytes(10), "\r\n^DMRST\r\n");
  EXPECT_GE(Clock::now() - sent, std::chrono::milliseconds(150));
  expectAnswer("AT^DMCC?", "\r\n^DMCC: 1,2,1,1,31\r\n\r\nOK\r\n");
  EXPECT_EQ(sim_->transcript().back(), "0 AT^DMCC?");
}

TEST_F(Line, HangupDropsNodeAndReopenRestoresIt) {
  start(parse(R"({"faults": [{"command": "AT+CGSN", "hangup": true, "reopen_ms": 300}]})"));
  const std::string node = root_ + "/dev/TTYEMS40";
  send("AT+CGSN");
  pollfd p{fd_, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 1000), 1);  // hung up, not merely silent
  char byte;
  EXPECT_LE(read(fd_, &byte, 1), 0);
  char target[256];
  EXPECT_LT(readlink(node.c_str(), target, sizeof(target)), 0);
  const auto deadline = Clock::now() + std::chrono::seconds(2);
  while (readlink(node.c_str(), target, sizeof(target)) < 0 && Clock::now() < deadline) {
    usleep(20 * 1000);
  }
  openNode();
  expectAnswer("AT^DLKS=0", "\r\nOK\r\n");
}

TEST_F(Line, CardChangesSendUeventsAndReachTheModem) {
  start(load("no_cards.json"));
  const std::string sockPath = ueventSocketPath(root_);
  const int sock = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  strcpy(addr.sun_path, sockPath.c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);

  char buf[256];
  std::string error;
  ASSERT_TRUE(sim_->insertCard(1, true, &error)) << error;
  ssize_t n = recv(sock, buf, sizeof(buf), MSG_DONTWAIT);
  EXPECT_EQ(std::string(buf, n > 0 ? n : 0),
            std::string("change@/devices/virtual/sim/sim1\0USIM1\0IN\0", 42));
  expectAnswer("AT^DMPCHN=1", "\r\nOK\r\n");
  expectAnswer("AT^DCID", "\r\n^DCID: 89860198765432109876\r\n\r\nOK\r\n");

  ASSERT_TRUE(sim_->removeCard(1, true, &error)) << error;
  n = recv(sock, buf, sizeof(buf), MSG_DONTWAIT);
  EXPECT_EQ(std::string(buf, n > 0 ? n : 0),
            std::string("change@/devices/virtual/sim/sim1\0USIM1\0OUT\0", 43));
  ASSERT_TRUE(sim_->insertCard(0, false, &error));
  EXPECT_EQ(recv(sock, buf, sizeof(buf), MSG_DONTWAIT), -1);
  expectAnswer("AT^DCID", "\r\n+CME ERROR: 10\r\n");
  close(sock);
}

TEST(ScenarioParse, RejectsMalformedInputNamingTheKey) {
  const struct {
    const char* json;
    const char* mentions;
  } cases[] = {
      {"{", "JSON"},
      {R"({"slotz": []})", "slotz"},
      {R"({"dmcc": [1, 2]})", "dmcc"},
      {R"({"rat": [1, 2, 3, 4, 5, 6]})", "rat"},
      {R"({"slots": [{"lock": "sim"}]})", "slots[0].lock"},
      {R"({"slots": [{"type": 3}]})", "slots[0].type"},
      {R"({"imei": [42]})", "imei[0]"},
      {R"({"status_report": {"mode": "later"}})", "status_report.mode"},
      {R"({"faults": [{"silent": true}]})", "command"},
      {R"({"faults": [{"command": "AT", "split": [5, 3]}]})", "faults[0].split"},
      {R"({"faults": [{"command": "AT", "standby": 5}]})", "faults[0].standby"},
      {R"({"reset": {"never": 1}})", "reset.never"},
  };
  for (const auto& c : cases) {
    Scenario sc;
    std::string error;
    EXPECT_FALSE(parseScenario(c.json, &sc, &error)) << c.json;
    EXPECT_NE(error.find(c.mentions), std::string::npos) << c.json << " -> " << error;
  }
}

TEST(ScenarioParse, ReadsShippedScenariosAndEscapes) {
  for (const char* name : {"two_cards.json", "single_sim.json", "no_cards.json", "pin_locked.json",
                           "delayed_status.json"}) {
    load(name);
  }
  const Scenario sc = parse(R"({"imei": [null, "1"], "faults": [
      {"command": "AT^DC*", "reply": "\r\nOK\r\n", "standby": 1}]})");
  ASSERT_EQ(sc.imei.size(), 2u);
  EXPECT_FALSE(sc.imei[0]);
  EXPECT_EQ(*sc.faults[0].reply, "\r\nOK\r\n");
  EXPECT_TRUE(sc.faults[0].matches("AT^DCID", 1));
  EXPECT_FALSE(sc.faults[0].matches("AT^DCID", 0));
  EXPECT_FALSE(sc.faults[0].matches("AT^D", 1));
}

}  // namespace
}  // namespace modemsim
