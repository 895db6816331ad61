// The replay of a field log: the log formats a bug report brings, the starts of the daemon in
// it, and a modem that answers as the log shows (per standby and command, timing, cut answers,
// hang-ups), down to the reads the daemon gets on the line.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "modemsim/radiolog.h"
#include "modemsim/replay.h"
#include "modemsim/simulator.h"

namespace modemsim {
namespace {

RadioLog parse(const std::string& text) {
  std::istringstream in(text);
  RadioLog log;
  std::string why;
  EXPECT_TRUE(parseRadioLog(in, &log, &why)) << why;
  return log;
}

TEST(RadioLog, EveryLogcatFormatGivesTheSameDaemonLines) {
  struct Case {
    const char* format;
    std::string text;
    int64_t firstMs;
  };
  const Case cases[] = {
      {"brief",
       "D/modemprep( 4242): Build time: x\nI/RILJ    (  77): other\n"
       "D/modemprep( 4242): [0]>> AT<CR>\n",
       -1},
      {"time",
       "12-06 04:20:37.123 D/modemprep( 4242): Build time: x\n"
       "12-06 04:20:37.123 I/RILJ    (  77): other\n"
       "12-06 04:20:38.000 D/modemprep( 4242): [0]>> AT<CR>\n",
       0},
      {"threadtime",
       "12-06 04:20:37.123  4242  4242 D modemprep: Build time: x\n"
       "12-06 04:20:37.123    77    80 I RILJ    : other\n"
       "12-06 04:20:38.000  4242  4242 D modemprep: [0]>> AT<CR>\n",
       0},
      {"threadtime",
       "2024-12-06 04:20:37.123  radio  4242  4243 D modemprep: Build time: x\n"
       "2024-12-06 04:20:37.123  1000    77    80 I RILJ    : other\n"
       "2024-12-06 04:20:38.000  radio  4242  4243 D modemprep: [0]>> AT<CR>\n",
       0},
      {"long",
       "[ 12-06 04:20:37.123  4242: 4242 D/modemprep ]\nBuild time: x\n\n"
       "[ 12-06 04:20:37.123    77:   80 I/RILJ     ]\nother\n\n"
       "[ 12-06 04:20:38.000  4242: 4242 D/modemprep ]\n[0]>> AT<CR>\n\n",
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const RadioLog log = parse("--------- beginning of radio\n" + c.text + "junk \x01\n");
    EXPECT_EQ(c.format, log.format);
    ASSERT_EQ(2u, log.lines.size());
    EXPECT_EQ(1, log.other);
    EXPECT_EQ(1, log.malformed);
    EXPECT_EQ("Build time: x", log.lines[0].message);
    EXPECT_EQ("[0]>> AT<CR>", log.lines[1].message);
    EXPECT_EQ(4242, log.lines[1].pid);
    EXPECT_EQ('D', log.lines[1].priority);
    if (c.firstMs < 0) {
      EXPECT_EQ(-1, log.lines[1].ms);
    } else {
      EXPECT_EQ(877, log.lines[1].ms - log.lines[0].ms);
    }
  }
}

TEST(RadioLog, StartsBeginWithTheBootMarkerLinesOfTheirProcess) {
  const RadioLog log = parse(
      "12-31 23:59:59.000  10 10 D modemprep: start rild1\n"  // the tail of an older run
      "12-31 23:59:59.500  11 11 I modemprep: set property: [sys.vx.boot.completed]: [1]\n"
      "12-31 23:59:59.600  11 11 D modemprep: Build time: x\n"
      "01-01 00:00:00.100  11 11 D modemprep: [0]>> AT<CR>\n"
      "01-01 00:00:01.000  12 12 D modemprep: Build time: x\n");
  ASSERT_EQ(2u, log.boots.size());
  std::vector<LogLine> lines;
  std::string error;
  ASSERT_TRUE(bootLines(log, 1, &lines, &error));
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ(2, lines[0].lineNo);
  EXPECT_EQ(600, lines[2].ms - lines[0].ms);  // over the new year
  ASSERT_TRUE(bootLines(log, 0, &lines, &error));
  EXPECT_EQ(5, lines[0].lineNo);
  EXPECT_FALSE(bootLines(log, 3, &lines, &error));
  EXPECT_EQ("no start 3: the log holds 2", error);
}

// A boot as the modem saw it: (ms, message) per line.
std::vector<LogLine> boot(const std::vector<std::pair<int64_t, std::string>>& lines) {
  std::vector<LogLine> out;
  for (const auto& [ms, message] : lines) {
    LogLine l;
    l.lineNo = static_cast<int>(out.size()) + 1;
    l.ms = ms;
    l.message = message;
    out.push_back(l);
  }
  return out;
}

struct NoWire : Wire {
  void at(Clock::time_point, std::function<void()>) override {}
  uint64_t epoch() const override { return 0; }
  void write(uint64_t, const std::string&) override {}
};

class Replay : public ::testing::Test {
 protected:
  void load(const std::vector<std::pair<int64_t, std::string>>& lines, bool fast = false) {
    modem_ = std::make_unique<ReplayModem>(boot(lines), ReplayOptions{fast},
                                           [this](const std::string& n) { notes_.push_back(n); });
  }
  // The writes answering `command`, as "delay:text" ("delay:HANGUP>reopen" for a hang-up).
  std::vector<std::string> ask(const std::string& command) {
    NoWire wire;
    const Answer a = modem_->respond(command, wire);
    std::vector<std::string> out;
    if (a.text) out.push_back("text:" + display(*a.text));
    for (const TimedWrite& w : a.timed) {
      out.push_back(std::to_string(w.delayMs) + ":" +
                    (w.hangup ? "HANGUP>" + std::to_string(w.reopenMs) : display(w.text)));
    }
    return out;
  }
  std::unique_ptr<ReplayModem> modem_;
  std::vector<std::string> notes_;
};

using Writes = std::vector<std::string>;

TEST_F(Replay, AnswersPerStandbyAndCommandInLoggedOrder) {
  load({{0, "[-1]>> AT^DMPCHN=1<CR>"},
        {1, "[-1]<< <CR><LF>OK<CR><LF>"},
        {2, "[1]>> AT^DCID<CR>"},
        {40, "[1]<< <CR><LF>^DCID: B1<CR><LF>"},
        {70, "[1]<< OK"},
        {80, "[1]>> AT^DMPCHN=0<CR>"},
        {81, "[1]<< <CR><LF>OK<CR><LF>"},
        {90, "[0]>> AT^DCID<CR>"},
        {91, "[0]<< <CR><LF>^DCID: A1<CR><LF>"},
        {95, "[0]>> AT^DCID<CR>"},
        {96, "[0]<< <CR><LF>^DCID: A2<CR><LF>"},
        {99, "[0]>> AT^DSRST<CR>"}});
  EXPECT_EQ(-1, modem_->standby());
  EXPECT_EQ(Writes{"1:<CR><LF>OK<CR><LF>"}, ask("AT^DMPCHN=1"));
  EXPECT_EQ(1, modem_->standby());
  EXPECT_EQ((Writes{"38:<CR><LF>^DCID: B1<CR><LF>", "68:OK"}), ask("AT^DCID"));
  EXPECT_EQ(Writes{"text:<CR><LF>ERROR<CR><LF>"}, ask("AT^DCID"));  // logged once on standby 1
  ask("AT^DMPCHN=0");
  EXPECT_EQ(0, modem_->standby());
  EXPECT_EQ(Writes{"1:<CR><LF>^DCID: A1<CR><LF>"}, ask("AT^DCID"));
  EXPECT_EQ(Writes{}, ask("AT^DSRST"));  // out of order, and nothing was logged after it
  EXPECT_EQ(Writes{"1:<CR><LF>^DCID: A2<CR><LF>"}, ask("AT^DCID"));
  EXPECT_EQ(Writes{"text:<CR><LF>ERROR<CR><LF>"}, ask("AT+CGSN"));
  ASSERT_EQ(2u, notes_.size());
  EXPECT_EQ(
      "[1] AT^DCID: logged only once on standby 1; answered ERROR (next logged: "
      "AT^DMPCHN=0, line 6)",
      notes_[0]);
  EXPECT_EQ("[0] AT+CGSN: not in the log on standby 0; answered ERROR", notes_[1]);
  EXPECT_EQ(
      "6 commands answered from the log (1 out of their logged order), 2 not in the log "
      "(answered ERROR), 0 logged commands never sent",
      modem_->summary());
}

TEST_F(Replay, FastKeepsOnlyTheWaitsTheDaemonTimedOutOn) {
  const std::vector<std::pair<int64_t, std::string>> lines = {
      {0, "[0]>> AT^DUSIMR=1<CR>"},
      {5, "[0]<< <CR><LF>OK<CR><LF>"},
      {300, "[0]<< <CR><LF>^DUSIMU: 1<CR><LF>"},
      {1000, "[0]>> AT^DMCC?<CR>"},
      {11000, "read time out: 1:0 -> 11:0"},
      {11020, "[0]<< <CR><LF>^DMCC: 1<CR><LF>"}};
  load(lines);
  EXPECT_EQ((Writes{"5:<CR><LF>OK<CR><LF>", "300:<CR><LF>^DUSIMU: 1<CR><LF>"}), ask("AT^DUSIMR=1"));
  EXPECT_EQ(Writes{"10020:<CR><LF>^DMCC: 1<CR><LF>"}, ask("AT^DMCC?"));
  load(lines, true);
  EXPECT_EQ((Writes{"0:<CR><LF>OK<CR><LF>", "0:<CR><LF>^DUSIMU: 1<CR><LF>"}), ask("AT^DUSIMR=1"));
  EXPECT_EQ(Writes{"10020:<CR><LF>^DMCC: 1<CR><LF>"}, ask("AT^DMCC?"));
}

TEST_F(Replay, HangUpsAndALateNodeComeBackWhenTheDaemonFoundThem) {
  load({{0, "(1/100)access device \"/dev/TTYEMS40\" fail: 2 - No such file or directory"},
        {1000, "(2/100)access device \"/dev/TTYEMS40\" fail: 2 - No such file or directory"},
        {2000, "device \"/dev/TTYEMS40\" is ready."},
        {2500, "[0]>> AT^DTOC<CR>"},
        {2510, "[0]<< "},
        {2511, "isFinalReponse() parameter error: 1"},
        {2512, "line of \"/dev/TTYEMS40\" lost, opening it again"},
        {2513, "(1/100)access device \"/dev/TTYEMS40\" fail: 2 - No such file or directory"},
        {3513, "device \"/dev/TTYEMS40\" is ready."}});
  EXPECT_EQ(1500, modem_->nodeDelayMs());
  EXPECT_EQ(Writes{"10:HANGUP>503"}, ask("AT^DTOC"));
}

TEST_F(Replay, AnAnswerShownCutIsCompletedWithTheCodeItEvidentlyHad) {
  const std::string shown(236, 'Z');  // with "<CR><LF>" and "^DCID: " past the cut
  struct Case {
    std::string end;   // of the cut display
    std::string next;  // the log's next line
    std::string completion;
  };
  const Case cases[] = {
      {"<CR><LF><CR><LF>O", "[0]>> AT+CIMI<CR>", "K<CR><LF>"},
      {"<CR><LF><CR><LF>", "[0]>> AT+CIMI<CR>", "OK<CR><LF>"},
      {"<CR><LF><CR><LF>", "[0]>> AT^DCID<CR>", "ERROR<CR><LF>"},  // retried: it failed
      {"<CR><LF>ZZ", "[0]>> AT+CIMI<CR>", "<CR><LF>OK<CR><LF>"},
      {"<CR><LF><CR><LF>ERR", "[0]>> AT+CIMI<CR>", "OR<CR><LF>"},
      {"<CR><LF><CR><LF>", "[0]<< more", "|more"},  // the exchange went on: as shown
      {"<CR><LF>OK<CR><LF>", "[0]>> AT+CIMI<CR>", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.end + " then " + c.next);
    const std::string cut = "<CR><LF>^DCID: " + shown.substr(0, 250 - 15 - c.end.size()) + c.end;
    notes_.clear();
    load({{0, "[0]>> AT^DCID<CR>"}, {1, "[0]<< " + cut}, {2, c.next}});
    std::string answer;
    for (const std::string& w : ask("AT^DCID")) answer += (answer.empty() ? "" : "|") + w.substr(2);
    EXPECT_EQ(cut + c.completion, answer);
    ASSERT_EQ(1u, notes_.size());
    EXPECT_EQ(0u, notes_[0].find("line 2: an answer shown cut at 250 characters")) << notes_[0];
  }
}

// The replayed modem on a real line: the daemon's reads get the logged chunks one by one.
TEST(ReplayLine, LoggedChunksArriveAsSeparateReadsAtTheirDelays) {
  char dir[] = "/tmp/mrplXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string root = dir;
  ASSERT_EQ(0, mkdir((root + "/dev").c_str(), 0755));
  std::vector<std::string> notes;
  auto modem = std::make_unique<ReplayModem>(boot({{0, "[0]>> AT^DCID<CR>"},
                                                   {0, "[0]<< <CR><LF>^DCID: 1<CR><LF><CR><LF>O"},
                                                   {60, "[0]<< K<CR><LF>"}}),
                                             ReplayOptions{},
                                             [&](const std::string& n) { notes.push_back(n); });
  Simulator sim(std::move(modem), {});
  std::string error;
  ASSERT_TRUE(sim.start(root, &error)) << error;
  ASSERT_TRUE(sim.waitLinked(2000));
  const int fd = open((root + "/dev/TTYEMS40").c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  std::vector<std::pair<std::string, long>> reads;
  const auto start = std::chrono::steady_clock::now();
  auto readChunk = [&] {
    pollfd p{fd, POLLIN, 0};
    char buf[256];
    const ssize_t n = poll(&p, 1, 2000) == 1 ? read(fd, buf, sizeof buf) : 0;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    reads.push_back({std::string(buf, n > 0 ? n : 0), static_cast<long>(ms.count())});
  };
  ASSERT_EQ(8, write(fd, "AT^DCID\r", 8));
  readChunk();
  readChunk();
  ASSERT_EQ(8, write(fd, "AT+CGSN\r", 8));
  readChunk();
  close(fd);
  sim.stop();
  rmdir((root + "/dev").c_str());
  rmdir(root.c_str());
  ASSERT_EQ(3u, reads.size());
  EXPECT_EQ("\r\n^DCID: 1\r\n\r\nO", reads[0].first);
  EXPECT_EQ("K\r\n", reads[1].first);
  EXPECT_GE(reads[1].second, 55);
  EXPECT_EQ(kErrorAnswer, reads[2].first);
  EXPECT_EQ(1u, notes.size());
}

}  // namespace
}  // namespace modemsim
