// The AT channel and the modem commands against a scripted modem: where an exchange ends, what
// it keeps and logs, that no wait outlives its bound, and what each command leaves in the link.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "daemon_fixture.h"

namespace {

using fixture::Daemon;
using fixture::kOk;

// Seconds between the two stamps of the time-out line; -1 when there is none.
long timeOutSpan() {
  long s0, n0, s1, n1;
  for (const memory::LogLine& line : memory::logLines()) {
    if (sscanf(line.text.c_str(), logline::kReadTimeOut, &s0, &n0, &s1, &n1) == 4) {
      return s1 - s0;
    }
  }
  return -1;
}

// Commands of the tests: one without information lines, and the capability query.
constexpr AtCommand kAt = {"AT", nullptr, nullptr, 1, 0, kAtExchangeBoundUs, false};
const AtCommand& kDmcc = modemCommand(ModemCommand::kCapability);

// Every answer cut into pieces of 1 to 16 bytes is an end-to-end case; the timed read's chunks,
// time-outs and hang-ups are in every golden run and in the card query's status wait.
TEST(ChannelTest, ExchangeEndsOnAReadHoldingAFinalResultCodeAndKeepsTheCommandsOwnLines) {
  const std::string nul(1, '\0');
  const struct {
    std::vector<std::string> chunks;
    FinalCode final;
    int error;
    std::vector<std::string> lines;
  } cases[] = {
      {{"\r\n+CME ERROR: 10\r\n"}, FinalCode::kCmeError, 10, {}},
      {{"\r\n^DMCC: 1\r\n\r\nO", "K\r\n", "late"}, FinalCode::kOk, -1, {"^DMCC: 1"}},
      {{"\r\n+CME ERR", "OR: 11\r\n", "late"}, FinalCode::kCmeError, 11, {}},
      // Ended where the code shows, before its number: the number is not guessed.
      {{"\r\n^DMCC: 1\r\n", "\r\n+CME ERROR: ", "11\r\n"}, FinalCode::kCmeError, -1, {"^DMCC: 1"}},
      {{"\r\n^DMCC: 1\r\n", "\r\nERROR", "\r\n"}, FinalCode::kError, -1, {"^DMCC: 1"}},
      {{"\r\nCONNECT\r\n"}, FinalCode::kConnect, -1, {}},
      {{"\r\n^DMCC: 1\r\n", ""}, FinalCode::kNone, -1, {"^DMCC: 1"}},  // the line hung up
      // Echo, unsolicited lines before, inside and after, a final code that is no line's own:
      // only the command's lines count.
      {{"AT^DMCC?\r\r\n+CSQ: 20,99\r\n\r\n^DMCC: 1,2\r\n+CREG: 1\r\n", "\r\nOK\r\n+CSQ: 9\r\n"},
       FinalCode::kOk,
       -1,
       {"^DMCC: 1,2"}},
      {{"OK\r\nK\r\n^DMCC: 9\r\n^DMCC: 2\r\n\r\nOK\r\n"},
       FinalCode::kOk,
       -1,
       {"^DMCC: 9", "^DMCC: 2"}},
      // NUL bytes are dropped before any search: a read of them alone ends nothing, and one
      // inside hides nothing.
      {{nul, "\r\n^DMCC: 1\r\n", kOk, "late"}, FinalCode::kOk, -1, {"^DMCC: 1"}},
      {{"\r\n^DMC" + nul + "C: 1\r\n" + kOk, "late"}, FinalCode::kOk, -1, {"^DMCC: 1"}},
  };
  for (const auto& c : cases) {
    Daemon d;
    d.answer(c.chunks);
    AtAnswer out = {};
    AtOutcome outcome = sendAtSyncOk(d.state.link, kDmcc, &out);
    SCOPED_TRACE(c.chunks[0]);
    EXPECT_EQ(0, outcome.result);
    EXPECT_EQ(c.final == FinalCode::kOk, outcome.isOk);
    EXPECT_EQ(c.final, out.final);
    EXPECT_EQ(c.error, out.errorNumber);
    EXPECT_EQ(c.lines, std::vector<std::string>(out.lines, out.lines + out.lineCount));
    EXPECT_EQ(c.chunks.back().empty(), memory::logHas("isFinalReponse() parameter error: 1"));
    EXPECT_EQ(0, memory::logCount("[-1]<< late"));  // after the end: not read
    EXPECT_EQ(1, memory::logCount("[-1]>> AT^DMCC?<CR>"));
    EXPECT_EQ(c.chunks[0].find('\0') != std::string::npos,
              memory::logHas("1 NUL bytes from the modem dropped", LOG_PRIO_WARN));
  }
}

// However many unsolicited lines come, in however many reads (one read of 255 bytes too), the
// information line stays; what does not fit a fixed buffer is dropped and said once, with how
// many. A late end of a line the last exchange ended inside is no line of the next.
TEST(ChannelTest, NoInformationLineIsLostToUnsolicitedLinesAndEveryCutIsSaid) {
  std::string flood;
  for (int i = 0; i < 20; i++) flood += "\r\n+CSQ: 20,99\r\n";  // 300 bytes
  const std::string info = "\r\n^DMCC: 1,2,1,29,1\r\n";
  const struct {
    std::vector<std::string> chunks;
    std::string warning;
  } cases[] = {
      {{info, flood.substr(0, 150), flood.substr(150), kOk}, ""},
      {{flood.substr(0, 248) + "\r\n" + info.substr(2, 5)}, ""},  // a full read of 255 bytes
      {{"\r\n" + std::string(200, 'u'), std::string(100, 'u') + "\r\n", info, kOk},
       "line longer than 255 bytes: its last 46 bytes dropped"},
      {{info, info, info, info, info, kOk}, "1 information lines of \"AT^DMCC?\" beyond 4 dropped"},
  };
  for (const auto& c : cases) {
    Daemon d;
    d.answer(c.chunks);
    if (c.chunks.size() == 1) d.answer({info.substr(7), kOk});
    EXPECT_TRUE(queryModemCapability(d.state.link, true));
    EXPECT_EQ(29, d.state.link.capability.standbyRatCap[0]);
    int warnings = 0;
    for (const memory::LogLine& line : memory::logLines())
      warnings += line.priority == LOG_PRIO_WARN;
    EXPECT_EQ(c.warning.empty() ? 0 : 1, warnings);
    EXPECT_EQ(c.warning.empty() ? 0 : 1, memory::logCount(c.warning));
  }
  // The rest of a "+CME ERROR" line the last exchange ended on is no final code of this one.
  Daemon d;
  d.answer({"\r\n+CME ERROR: ", "^DMCC: 5,5,5,5\r\n\r\n^DMCC: 1,1,1,4\r\n" + kOk});
  EXPECT_FALSE(sendAtSyncOk(d.state.link, kAt).isOk);
  AtAnswer out = {};
  EXPECT_TRUE(sendAtSyncOk(d.state.link, kDmcc, &out).succeeded());
  EXPECT_EQ(std::vector<std::string>{"^DMCC: 1,1,1,4"},
            std::vector<std::string>(out.lines, out.lines + out.lineCount));
}

// An unopened channel is the golden run of a line gone for good; a closed one is this.
TEST(ChannelTest, ClosedChannelRefusesEveryCommand) {
  Daemon d;
  d.state.link.line.state = LineState::kClosed;
  const char* const reports[] = {"^DMRST"};
  EXPECT_EQ(-1, sendAtSyncOk(d.state.link, kAt).result);
  EXPECT_EQ(-1, writeAtCommand(d.state.link, modemCommand(ModemCommand::kReset)));
  EXPECT_EQ(-1, waitForReport(d.state.link, reports, 1, {5000000, 5000000, 10}));
  EXPECT_FALSE(switchToStandby(d.state.link, 1));
  // It passes the switch's own check and is refused by the exchange.
  EXPECT_EQ(2, memory::logCount("sendAtSyncOk() parameter error: 1, 0, 0"));
  EXPECT_FALSE(memory::logHas("switchToStandby() parameter error: 1, 0"));
  EXPECT_EQ(2, memory::logCount("invalid fd"));
  EXPECT_EQ("", d.sent());
  d.state.link.line.state = LineState::kOpen;
}

TEST(ChannelTest, TrafficLineIsCutAfter250Characters) {
  memory::reset();
  logAtTraffic(">> ", std::string(300, 'a').c_str(), 2);
  logAtTraffic("<< ", std::string(300, '\r').c_str(), 0);
  std::string crs;
  for (int i = 0; i < 63; i++) crs += "<CR>";
  EXPECT_TRUE(memory::logHas("[2]>> " + std::string(250, 'a'), LOG_PRIO_DEBUG));
  EXPECT_TRUE(memory::logHas("[0]<< " + crs, LOG_PRIO_DEBUG));
}

TEST(ChannelTest, SilentModemEndsTheExchangeAtItsBoundAndTheLateAnswerIsReadOff) {
  Daemon d;
  d.answer({"\r\n^DMCC: 1"});
  AtAnswer resp;
  EXPECT_EQ(-1, sendAtSync(d.state.link, kDmcc, resp));
  EXPECT_EQ(0, resp.lineCount);  // a line not ended is no line
  EXPECT_EQ(AT_EXCHANGE_TIMEOUT_S, timeOutSpan());
  EXPECT_EQ((1000u + AT_EXCHANGE_TIMEOUT_S) * 1000000u, memory::nowUs());
  d.answer({",2,1,31\r\n\r\nOK\r\n"});  // too late for AT^DMCC?, and not AT^DTOC's answer
  EXPECT_EQ(-1, sendAtSyncOk(d.state.link, kAt).result);
  EXPECT_TRUE(memory::logHas("[-1]<< ,2,1,31<CR><LF><CR><LF>OK<CR><LF>", LOG_PRIO_DEBUG));
  EXPECT_TRUE(d.state.link.lateAnswerPending);  // its own answer may come late in turn
  // It ends at its final result code; the report after it is the next exchange's.
  d.answer({"\r\n^DTOC: 1\r\n\r\nO", "K\r\n\r\n^DUSIMU: 1\r\n", "\r\nOK\r\n"});
  const AtCommand& statusOn = cardCommand(CardCommand::kStatusOn).command;
  EXPECT_TRUE(sendAtSyncOk(d.state.link, statusOn).succeeded());
  const char* const reports[] = {"^DUSIMU: 0", "^DUSIMU: 1"};
  EXPECT_EQ(1, waitForReport(d.state.link, reports, 2, {1000000, 1000000, 0}));
}

// The forced query after a modem reset is the golden run of an NVRAM swap.
TEST(ModemCommandsTest, CapabilityIsParsedAndKept) {
  const struct {
    std::string answer;
    bool parsed;
    ModemCapability after;  // three leading numbers above 0: kept without force
  } cases[] = {
      // Padding before the answer shifts no number.
      {std::string(2, '\0') + "\r\n^DMCC: 1,2,1,29,1\r\n\r\nOK\r\n",
       true,
       {1, 2, 1, {29, 1, 1, 1, 1}}},
      {"\r\n^DMCC: 1,2,1,1,2,3,4,5,6,7\r\n\r\nOK\r\n", true, {1, 2, 1, {1, 2, 3, 4, 5}}},
      {"\r\n^DMCC: 3,2,1\r\n\r\nOK\r\n", false, {3, 2, 1, {1, 1, 1, 1, 1}}},
      // The numbers end at their line's end: an unsolicited line after it adds none.
      {"\r\n^DMCC: 1,1,1\r\n\r\n+CSQ: 20,99\r\n\r\nOK\r\n", false, {1, 1, 1, {1, 1, 1, 1, 1}}},
      {"\r\n^DMCC: 1,2,1,31\r\n\r\nERROR\r\n", false, kInitialModemCapability},
  };
  for (const auto& c : cases) {
    Daemon d;
    d.answer({c.answer, c.answer, c.answer});
    SCOPED_TRACE(c.answer.c_str() + c.answer.find('^'));
    EXPECT_EQ(c.parsed, queryModemCapability(d.state.link, false));
    EXPECT_EQ(0, memcmp(&c.after, &d.state.link.capability, sizeof c.after));
    EXPECT_EQ(c.parsed ? 1 : kDmcc.attempts, static_cast<int>(d.modem.commands().size()));
    EXPECT_EQ(c.parsed ? 0u : kDmcc.attempts * kDmcc.pauseUs, memory::nowUs() - 1000000000u);
    bool filled = c.after.dmccValue1 > 0;
    d.answer({c.answer, c.answer, c.answer});
    EXPECT_EQ(filled, queryModemCapability(d.state.link, false));
    EXPECT_EQ(filled ? "" : "AT^DMCC?|AT^DMCC?|AT^DMCC?|", d.sent());
  }
}

// The wait for the end of a reset: "^DMRST" found however the reads cut it; without it, at most
// 10 reads and never past the first 5 s of silence, whatever else the modem says.
TEST(ModemCommandsTest, ResetWaitEndsAtTheReportOrWithinItsBounds) {
  const struct {
    const char* name;
    std::vector<std::string> chunks;
    int signalEveryS;  // "+CSQ" that often; 0: never
    int tookS;
  } cases[] = {
      {"the report in pieces", {"\r\n^DM", "RST", "\r\n"}, 0, 0},
      {"silence", {}, 0, 5},
      {"a signal report every 4 s", {}, 4, 40},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Daemon d;
    d.answer({kOk});  // AT^DLKS=1
    d.answer(c.chunks);
    uint64_t start = memory::nowUs();
    for (int s = c.signalEveryS; s > 0 && s <= 200; s += c.signalEveryS) {
      memory::at(start + s * 1000000ull, [&d] { d.modem.send("\r\n+CSQ: 20,99\r\n"); });
    }
    swapModemNvram(d.state.link);
    EXPECT_EQ((c.tookS + 1) * 1000000ull, memory::nowUs() - start);  // then a 1 s pause
    EXPECT_EQ(c.tookS == 5,
              memory::logHas(fixture::logged(logline::kReadTimeOut, 1000L, 0L, 1005L, 0L),
                             LOG_PRIO_ERROR));
    EXPECT_EQ("AT^DLKS=1|AT^DSRST|", d.sent());
    EXPECT_FALSE(d.state.link.isOpen());
  }
}

// The golden transcripts show every switch, none repeated, and the return to standby 0 at a
// close. A refused switch keeps the cached standby; one that timed out or hung up leaves it
// unknown: the next command on a standby switches first, and is not sent when that fails too.
TEST(ModemCommandsTest, StandbyIsKnownOnlyAsFarAsTheModemSaidIt) {
  const AtCommand& cardId = cardCommand(CardCommand::kId).command;
  Daemon d;
  d.answer({kOk, "\r\nERROR\r\n"});
  EXPECT_TRUE(switchToStandby(d.state.link, 1));
  EXPECT_FALSE(switchToStandby(d.state.link, 2));
  EXPECT_EQ(1, d.state.link.currentStandby);
  EXPECT_TRUE(switchToStandby(d.state.link, 1));  // cached: nothing sent
  EXPECT_EQ("AT^DMPCHN=1|AT^DMPCHN=2|", d.sent());
  // The switch to 0 is answered late: whatever the cache said, the close and the command after
  // it switch again, and a command whose switch fails once more is not sent at all.
  EXPECT_FALSE(switchToStandby(d.state.link, 0));
  EXPECT_TRUE(d.state.link.standbyUnknown);
  d.answer({kOk, kOk, "\r\n^DCID: 1\r\n" + kOk});  // late OK; the switch again; the query
  EXPECT_TRUE(sendAtSyncOk(d.state.link, cardId).succeeded());
  EXPECT_EQ("AT^DMPCHN=0|AT^DMPCHN=0|AT^DCID|", d.sent());
  EXPECT_EQ(0, d.state.link.currentStandby);
  EXPECT_FALSE(switchToStandby(d.state.link, 1));  // silent again
  d.answer({kOk});                                 // its late OK, read off; then silence
  EXPECT_EQ(-1, sendAtSyncOk(d.state.link, cardId).result);
  EXPECT_EQ("AT^DMPCHN=1|AT^DMPCHN=1|", d.sent());
  EXPECT_TRUE(
      memory::logHas("\"AT^DCID\" not sent: the modem's standby is unknown", LOG_PRIO_ERROR));
  // Commands not on a standby go as they are (after the late OK is read off); the close
  // switches back to 0.
  d.answer({kOk, kOk, kOk});
  EXPECT_TRUE(sendAtSyncOk(d.state.link, modemCommand(ModemCommand::kUnlock)).succeeded());
  closeModemChannel(d.state.link, false);
  EXPECT_EQ("AT^DLKS=0|AT^DMPCHN=0|", d.sent());
  EXPECT_FALSE(d.state.link.standbyUnknown);
}

// Its log lines are pinned by the golden run of a line gone for good.
TEST(ModemCommandsTest, DeviceNodeIsWaitedForThenOpenedAfterItSettles) {
  memory::reset();
  std::string node = memory::path(kModemDevicePath, true);
  int fd = tryOpenDevice(node.c_str(), O_RDWR, 3);
  EXPECT_EQ(-1, fd);
  EXPECT_EQ(std::vector<uint64_t>(3, 1000000), memory::sleeps());
  ASSERT_EQ(0, symlink("/dev/null", node.c_str()));
  fd = tryOpenDevice(node.c_str(), O_RDWR, 3);
  EXPECT_GT(fd, 0);
  close(fd);
  EXPECT_EQ(500000u, memory::sleeps().back());  // the node settles before the open
  // A node that is there but cannot be opened is tried as often, each time after it settles; no
  // node named at all is refused at once.
  memory::reset();
  node = memory::path(kModemDevicePath, true);
  ASSERT_EQ(0, mkdir(node.c_str(), 0755));
  EXPECT_EQ(-1, tryOpenDevice(node.c_str(), O_RDWR, 2));
  for (const char* attempt : {"(1/2)", "(2/2)"}) {
    EXPECT_TRUE(
        memory::logHas(attempt + ("open device \"" + node + "\" fail: 21 - Is a directory")));
  }
  EXPECT_EQ((std::vector<uint64_t>{500000, 1000000, 500000, 1000000}), memory::sleeps());
  EXPECT_EQ(-1, tryOpenDevice("", O_RDWR, 2));
  EXPECT_TRUE(memory::logHas("tryOpenDevice() parameter error: 1"));
  EXPECT_EQ(4u, memory::sleeps().size());
}

}  // namespace
