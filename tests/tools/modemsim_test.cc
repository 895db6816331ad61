// The modem simulator stands in for the modem in every end-to-end test, and its replay of a field
// log for the phone's modem: a framing, timing or answer-order slip here would be blamed on the
// daemon. The end-to-end runs show its answers, faults and timing through the daemon's log; these
// cases pin what those runs cannot reach: refused commands, log starts and unusual replays.
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "modemsim/faults.h"
#include "modemsim/logged_modem.h"
#include "modemsim/modem.h"
#include "modemsim/radiolog.h"
#include "modemsim/scenario.h"

namespace modemsim {
namespace {

using Writes = std::vector<std::string>;

// The starts in a log of logcat's time and threadtime formats (with the year and uid or without);
// brief, long and damaged lines, the choice of a start and a start the log lacks go through the
// replay's end-to-end test.
TEST(RadioLog, StartsBeginWithTheBootMarkerLinesOfTheirProcess) {
  std::istringstream in(
      "12-31 23:59:59.000 D/modemprep(   10): start rild1\n"  // the tail of an older run
      "2024-12-31 23:59:59.500  radio  11  11 I modemprep: set property: [sys.vx.boot.completed]: "
      "[1]\n"
      "12-31 23:59:59.550  77  80 I RILJ    : other\n"
      "12-31 23:59:59.600  11  11 D modemprep: Build time: x\n"
      "01-01 00:00:00.100  11  11 D modemprep: [0]>> AT<CR>\n"
      "01-01 00:00:01.000  12  12 D modemprep: Build time: x\n");
  RadioLog log;
  std::vector<LogLine> lines;
  std::string error;
  ASSERT_TRUE(parseRadioLog(in, &log, &error)) << error;
  EXPECT_EQ("threadtime", log.format);
  EXPECT_EQ(1, log.other);
  ASSERT_TRUE(bootLines(log, 1, &lines, &error));
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ(2, lines[0].lineNo);
  EXPECT_EQ(11, lines[0].pid);
  EXPECT_EQ("[0]>> AT<CR>", lines[2].message);
  EXPECT_EQ(600, lines[2].ms - lines[0].ms);  // over the new year
}

// A section cut from a bug report: its line says whether logcat wrote escapes (undone up to the
// line that ends the section); the uid column holds a name or a number.
TEST(RadioLog, EscapesOfAPrintableSectionAreUndone) {
  std::istringstream in(
      "------ RADIO LOG (logcat -b radio -v threadtime -v printable -v uid -d *:v) ------\n"
      "--------- beginning of radio\n"
      "12-06 04:20:37.123 radio  4242  4242 D modemprep: [0]<< \\\\ \\1\\0012\\x7f\\r\\q\n"
      "12-06 04:20:37.124  1001  4242  4242 D modemprep: tab\there\n"
      "------ 0.052s was the duration of 'RADIO LOG' ------\n"
      "12-06 04:20:37.125  4242  4242 D modemprep: \\1 as it stands\n");
  RadioLog log;
  std::string error;
  ASSERT_TRUE(parseRadioLog(in, &log, &error)) << error;
  std::vector<std::string> messages;
  for (const LogLine& l : log.lines) messages.push_back(l.message);
  EXPECT_EQ((std::vector<std::string>{"[0]<< \\ \x01\x01"
                                      "2\x7f\r\\q",
                                      "tab\there", "\\1 as it stands"}),
            messages);
  EXPECT_EQ(0, log.malformed);
  EXPECT_TRUE(log.printable);
}

// A modem replaying one start, given as "ms message" lines.
std::unique_ptr<LoggedModem> replaying(const std::string& text, Writes* notes) {
  std::istringstream in(text);
  std::vector<LogLine> boot;
  for (LogLine l; in >> l.ms && in.get() && std::getline(in, l.message);) {
    l.lineNo = static_cast<int>(boot.size()) + 1;
    boot.push_back(l);
  }
  return std::make_unique<LoggedModem>(boot, LoggedModemOptions{},
                                       [notes](const std::string& n) { notes->push_back(n); });
}

// A wire that keeps what is written, running the modem's timers in their order at once.
struct RecordingWire : Wire {
  std::multimap<Clock::time_point, std::function<void()>> timers;
  Writes writes;
  void at(Clock::time_point due, std::function<void()> fn) override { timers.emplace(due, fn); }
  uint64_t epoch() const override { return 1; }
  void write(uint64_t, const std::string& data) override { writes.push_back(display(data)); }
  Writes run() {
    while (!timers.empty()) {
      auto fn = timers.begin()->second;
      timers.erase(timers.begin());
      fn();
    }
    return std::move(writes);
  }
};

// The writes answering `command`, as "delay:text" ("delay:HANGUP>reopen" for a hang-up).
Writes ask(Behaviour& modem, const std::string& command) {
  RecordingWire wire;
  const Answer a = modem.respond(command, wire);
  Writes out;
  if (a.text) out.push_back("text:" + display(*a.text));
  for (const TimedWrite& w : a.timed) {
    out.push_back(std::to_string(w.delayMs) + ":" +
                  (w.hangup ? "HANGUP>" + std::to_string(w.reopenMs) : display(w.text)));
  }
  return out;
}

// The answers of the commands the daemon sends are shown byte for byte, through its log, by the
// golden runs; here what it never sends: standbys out of range and unknown commands.
TEST(ScenarioModem, CommandsTheDaemonNeverSendsAreRefused) {
  Scenario sc;
  std::string error;
  ASSERT_TRUE(parseScenario("{}", &sc, &error)) << error;
  ScenarioModem modem(sc);
  for (const char* refused : {"AT^DMPCHN=5", "AT^DMPCHN=12", "AT^DMPCH", "AT+CSQ"})
    EXPECT_EQ(Writes{"text:<CR><LF>ERROR<CR><LF>"}, ask(modem, refused)) << refused;
  EXPECT_EQ(Writes{"text:<CR><LF>OK<CR><LF>"}, ask(modem, "AT^DMPCHN=4"));
  EXPECT_EQ(4, modem.standby());
}

// The end-to-end tests of reports in pieces and of NUL bytes pass trivially if these slip: the
// pieces and the NUL bytes must be there.
TEST(ScenarioModem, ReportsComeInPiecesAndFaultsPutInNulBytes) {
  Scenario sc;
  std::string error;
  ASSERT_TRUE(parseScenario(R"({"slots": [{"present": true}],
      "status_report": {"mode": "delayed", "split": [3, 20]}, "reset": {"split": [2, 5]},
      "faults": [{"command": "AT^DCID", "nul_chunk": 2, "nul_at": [0, 3], "split": [4]}],
      "unsolicited": [{"text": "+CSQ", "every_ms": 30000}]})",
                            &sc, &error))
      << error;
  ScenarioModem modem(sc);
  RecordingWire wire;
  Answer report = modem.respond("AT^DUSIMR=1", wire);
  report.after(Clock::now());
  EXPECT_EQ((Writes{"<CR><LF>^", "DUSIMU: 1<CR><LF>"}), wire.run());
  modem.respond("AT^DSRST", wire);
  EXPECT_EQ((Writes{"<CR><LF>", "^DM", "RST<CR><LF>"}), wire.run());
  FaultPlan faults(sc.faults, 0);
  const Treatment t = faults.treat("AT^DCID", 0);
  const std::string nul(1, '\0');
  EXPECT_EQ((std::vector<std::string>{nul + nul, nul + "\r\nO", nul + "K\r\n"}),
            chunks(t, treatedAnswer(t, std::string(kOkAnswer))));
  for (const char* bad :
       {R"({"unsolicited": [{"text": "x"}]})",
        R"({"faults": [{"command": "AT", "nul_at": [3, 3]}]})", R"({"reset": {"split": [0]}})"}) {
    EXPECT_FALSE(parseScenario(bad, &sc, &error)) << bad;
  }
}

TEST(Replay, AnswersPerStandbyAndCommandInLoggedOrder) {
  Writes notes;
  auto modem = replaying(
      "0 [-1]>> AT^DMPCHN=1<CR>\n1 [-1]<< <CR><LF>OK<CR><LF>\n"
      "2 [1]>> AT^DCID<CR>\n40 [1]<< <CR><LF>^DCID: B1<CR><LF>\n70 [1]<< OK\n"
      "80 [1]>> AT^DMPCHN=0<CR>\n81 [1]<< <CR><LF>OK<CR><LF>\n"
      "90 [0]>> AT^DCID<CR>\n91 [0]<< <CR><LF>^DCID: A1<CR><LF>\n"
      "95 [0]>> AT^DCID<CR>\n96 [0]<< <CR><LF>^DCID: A2<CR><LF>\n"
      "99 [0]>> AT^DSRST<CR>\n",
      &notes);
  const std::string error = "text:<CR><LF>ERROR<CR><LF>";
  const std::pair<const char*, Writes> script[] = {
      {"AT^DMPCHN=1", {"1:<CR><LF>OK<CR><LF>"}},
      {"AT^DCID", {"38:<CR><LF>^DCID: B1<CR><LF>", "68:OK"}},
      {"AT^DCID", {error}},  // logged once on standby 1
      {"AT^DMPCHN=0", {"1:<CR><LF>OK<CR><LF>"}},
      {"AT^DCID", {"1:<CR><LF>^DCID: A1<CR><LF>"}},
      {"AT^DSRST", {}},  // out of order, and nothing was logged after it
      {"AT^DCID", {"1:<CR><LF>^DCID: A2<CR><LF>"}},
      {"AT+CGSN", {error}},
  };
  for (const auto& [command, writes] : script) EXPECT_EQ(writes, ask(*modem, command)) << command;
  EXPECT_EQ((Writes{"[1] AT^DCID: logged only once on standby 1; answered ERROR (next logged: "
                    "AT^DMPCHN=0, line 6)",
                    "[0] AT+CGSN: not in the log on standby 0; answered ERROR"}),
            notes);
  EXPECT_EQ(
      "6 commands answered from the log (1 out of their logged order), 2 not in the log "
      "(answered ERROR), 0 logged commands never sent",
      modem->summary());
}

TEST(Replay, AnAnswerShownCutIsCompletedWithTheCodeItEvidentlyHad) {
  const char* const cases[][3] = {
      // the end of the cut display, the log's next line, the completion
      {"<CR><LF><CR><LF>O", "[0]>> AT+CIMI<CR>", "K<CR><LF>"},
      {"<CR><LF><CR><LF>", "[0]>> AT+CIMI<CR>", "OK<CR><LF>"},
      {"<CR><LF><CR><LF>", "[0]>> AT^DCID<CR>", "ERROR<CR><LF>"},  // retried: it failed
      {"<CR><LF>ZZ", "[0]>> AT+CIMI<CR>", "<CR><LF>OK<CR><LF>"},
      {"<CR><LF><CR><LF>ERR", "[0]>> AT+CIMI<CR>", "OR<CR><LF>"},
      {"<CR><LF><CR><LF>", "[0]<< more", "|more"},  // the exchange went on: as shown
      {"<CR><LF>OK<CR><LF>", "[0]>> AT+CIMI<CR>", ""},
  };
  for (const auto& c : cases) {
    const std::string end = c[0];
    const std::string cut = "<CR><LF>^DCID: " + std::string(235 - end.size(), 'Z') + end;
    Writes notes;
    auto modem = replaying("0 [0]>> AT^DCID<CR>\n1 [0]<< " + cut + "\n2 " + c[1] + "\n", &notes);
    std::string answer;
    for (const std::string& w : ask(*modem, "AT^DCID"))
      answer += (answer.empty() ? "" : "|") + w.substr(2);
    EXPECT_EQ(cut + c[2], answer) << end << " then " << c[1];
    ASSERT_EQ(1u, notes.size());
    EXPECT_EQ(0u, notes[0].find("line 2: an answer shown cut at 250 characters")) << notes[0];
  }
}

}  // namespace
}  // namespace modemsim

namespace modemsim {
namespace {

// The dialects the end-to-end runs put the daemon through: each place an unsolicited line goes,
// the echo, a burst longer than a read, and pieces that keep every byte in order.
TEST(DialectTest, UnsolicitedLinesGoWhereTheScenarioSaysAndPiecesKeepEveryByte) {
  const std::string urc = "\r\n+CSQ: 20,99\r\n", answer = "\r\n^DCID: 1\r\n\r\nOK\r\n";
  std::string burst;
  for (int i = 0; i < 20; i++) burst += urc;  // 300 bytes
  const std::string line = R"("unsolicited": "\r\n+CSQ: 20,99\r\n", )";
  const struct {
    std::string dialect;
    std::string framed;
  } cases[] = {
      {R"("echo": true)", "AT^DCID\r" + answer},
      {line + R"("where": ["before"])", urc + answer},
      {line + R"("where": ["before_final"])", "\r\n^DCID: 1\r\n" + urc + "\r\nOK\r\n"},
      {line + R"("where": ["inside_final"])", "\r\n^DCID: 1\r\n\r\n" + urc + "OK\r\n"},
      {line + R"("where": ["after"], "burst": 20)", answer + burst},
  };
  for (const auto& c : cases) {
    Scenario sc;
    std::string error;
    ASSERT_TRUE(parseScenario(R"({"dialect": {)" + c.dialect + "}}", &sc, &error)) << error;
    DialectPlan plan(sc.dialect);
    EXPECT_EQ(c.framed, plan.framed("AT^DCID", answer).value_or("none")) << c.dialect;
  }
  Scenario sc;
  std::string error;
  ASSERT_TRUE(parseScenario(R"({"dialect": {"nul_bytes": 2, "pieces": [1, 16]}})", &sc, &error));
  DialectPlan plan(sc.dialect);
  const std::string framed = *plan.framed("AT^DCID", answer);
  EXPECT_EQ(answer.size() + 2, framed.size());
  std::string joined;
  for (const std::string& piece : plan.cut({framed})) {
    EXPECT_TRUE(piece.size() >= 1 && piece.size() <= 16);
    joined += piece;
  }
  EXPECT_EQ(framed, joined);
  EXPECT_FALSE(parseScenario(R"({"dialect": {"where": ["inside_info"]}})", &sc, &error));
  EXPECT_NE(std::string::npos, error.find("dialect.where[0]"));
}

}  // namespace
}  // namespace modemsim
