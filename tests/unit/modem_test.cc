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

// Seconds between the two stamps of the "read time out" line; -1 when there is none.
long timeOutSpan() {
  long s0, n0, s1, n1;
  for (const memory::LogLine& line : memory::logLines()) {
    if (sscanf(line.text.c_str(), "read time out: %ld:%ld -> %ld:%ld", &s0, &n0, &s1, &n1) == 4) {
      return s1 - s0;
    }
  }
  return -1;
}

// Every answer cut into pieces of 1 to 32 bytes is an end-to-end case; the timed read's chunks,
// time-outs and hang-ups are in every golden run and in the card query's status wait.
TEST(ChannelTest, ExchangeEndsOnlyOnAChunkHoldingAFinalResultCode) {
  const struct {
    std::vector<std::string> chunks;
    bool isOk;
    std::string gathered;
  } cases[] = {
      {{"\r\n+CME ERROR: 10\r\n"}, false, "\r\n+CME ERROR: 10\r\n"},
      {{"\r\n^DCID: 1\r\n\r\nO", "K\r\n", "late"}, true, "\r\n^DCID: 1\r\n\r\nOK\r\n"},
      {{"\r\n+CME ERR", "OR: 11\r\n", "late"}, false, "\r\n+CME ERROR: 11\r\n"},
      {{"\r\n^DMCC: 1\r\n", "\r\nERROR", "\r\n"}, false, "\r\n^DMCC: 1\r\n\r\nERROR"},
      {{"\r\nCONNECT\r\n"}, false, "\r\nCONNECT\r\n"},
      {{"\r\n^DTOC: 1\r\n", ""}, false, "\r\n^DTOC: 1\r\n"},  // the line hung up
      // NUL bytes are dropped before any search: a read of them alone ends nothing, and one
      // inside hides nothing.
      {{std::string(1, '\0'), "\r\n^DCID: 1\r\n", kOk, "late"}, true, "\r\n^DCID: 1\r\n" + kOk},
      {{"\r\n^DCID: 1\r\n" + std::string(1, '\0') + kOk, "late"}, true, "\r\n^DCID: 1\r\n" + kOk},
  };
  for (const auto& c : cases) {
    Daemon d;
    d.answer(c.chunks);
    AtResponse out = {};
    AtOutcome outcome = sendAtSyncOk(d.state.link, "AT\r", &out);
    EXPECT_EQ(0, outcome.result);
    EXPECT_EQ(c.isOk, outcome.isOk);
    EXPECT_EQ(c.gathered, out.text);
    EXPECT_EQ(c.chunks.back().empty(), memory::logHas("isFinalReponse() parameter error: 1"));
    EXPECT_EQ(0, memory::logCount("[-1]<< late"));  // after the end: not read
    EXPECT_EQ(1, memory::logCount("[-1]>> AT<CR>"));
    EXPECT_EQ(c.chunks[0].find('\0') != std::string::npos,
              memory::logHas("1 NUL bytes from the modem dropped", LOG_PRIO_WARN));
  }
}

// Unsolicited lines that fill the 254 bytes before the reply make room for it, oldest lines first,
// cut at a CR LF; a chunk too long to fit even alone is still dropped whole. The copy is laid over
// the caller's old answer, whose rest stays.
TEST(ChannelTest, AnAnswerThatOutgrowsItsBufferKeepsItsEnd) {
  const std::string urc = "\r\n+CREG: 1\r\n";  // 12 bytes
  std::string flood;
  for (int i = 0; i < 21; i++) flood += urc;  // 252 bytes
  const struct {
    std::vector<std::string> chunks;
    std::string kept;
    bool warned;
  } cases[] = {
      {{flood, "\r\n^DCID: 1\r\n\r\nOK\r\n"},
       flood.substr(12 + 10) + "\r\n^DCID: 1\r\n" + kOk,  // cut at the second line's end
       true},
      {{std::string(240, 'u') + "\r\n^DTOC: 1\r\n", kOk},
       "\r\n^DTOC: 1\r\n" + kOk,  // the reply's line keeps its leading CR LF
       true},
      {{std::string(200, 'b'), std::string(60, 'x'), "small", kOk},
       std::string(60, 'x') + "small" + kOk,
       true},  // no line end: all of the old text goes
      {{"a", std::string(255, 'c'), "small", kOk}, "asmall" + kOk, false},
  };
  for (const auto& c : cases) {
    Daemon d;
    d.answer(c.chunks);
    AtResponse out = {};
    memset(out.text, 'z', 250);
    EXPECT_TRUE(sendAtSyncOk(d.state.link, "AT\r", &out).succeeded());
    EXPECT_EQ(c.kept + std::string(250 - c.kept.size(), 'z'), out.text);
    EXPECT_EQ(c.warned ? 1 : 0,
              memory::logCount("answer longer than 254 bytes: its oldest lines dropped to keep the "
                               "end"));
  }
}

// An unopened channel is the golden run of a line gone for good; a closed one is this.
TEST(ChannelTest, ClosedChannelRefusesEveryCommand) {
  Daemon d;
  d.state.link.line.state = LineState::kClosed;
  const char* const reports[] = {"^DMRST"};
  EXPECT_EQ(-1, sendAtSyncOk(d.state.link, "AT\r").result);
  EXPECT_EQ(-1, writeAtCommand(d.state.link, "AT^DSRST\r"));
  EXPECT_EQ(-1, waitForReport(d.state.link, "", reports, 1, {5000000, 5000000, 10}));
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
  AtResponse resp;
  EXPECT_EQ(-1, sendAtSync(d.state.link, "AT^DMCC?\r", resp));
  EXPECT_STREQ("\r\n^DMCC: 1", resp.text);
  EXPECT_EQ(AT_EXCHANGE_TIMEOUT_S, timeOutSpan());
  EXPECT_EQ((1000u + AT_EXCHANGE_TIMEOUT_S) * 1000000u, memory::nowUs());
  d.answer({",2,1,31\r\n\r\nOK\r\n"});  // too late for AT^DMCC?, and not AT^DTOC's answer
  EXPECT_EQ(-1, sendAtSyncOk(d.state.link, "AT^DTOC\r").result);
  EXPECT_TRUE(memory::logHas("[-1]<< ,2,1,31<CR><LF><CR><LF>OK<CR><LF>", LOG_PRIO_DEBUG));
  EXPECT_TRUE(d.state.link.lateAnswerPending);  // AT^DTOC's own answer may come late in turn
  // It ends at its final result code; the report after it is kept for the next exchange.
  d.answer({"\r\n^DTOC: 1\r\n\r\nO", "K\r\n\r\n^DUSIMU: 1\r\n", "\r\nOK\r\n"});
  AtResponse out = {};
  EXPECT_TRUE(sendAtSyncOk(d.state.link, "AT^DUSIMR=1\r", &out).succeeded());
  EXPECT_STREQ("\r\n^DUSIMU: 1\r\n\r\nOK\r\n", out.text);
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
      {"\r\n^DMCC: 1,2,1,31\r\n\r\nERROR\r\n", false, kInitialModemCapability},
  };
  for (const auto& c : cases) {
    Daemon d;
    d.answer({c.answer, c.answer, c.answer});
    SCOPED_TRACE(c.answer.c_str() + c.answer.find('^'));
    EXPECT_EQ(c.parsed, queryModemCapability(d.state.link, false));
    EXPECT_EQ(0, memcmp(&c.after, &d.state.link.capability, sizeof c.after));
    EXPECT_EQ(c.parsed ? 1u : 3u, d.modem.commands().size());
    EXPECT_EQ(c.parsed ? 0u : 600000u, memory::nowUs() - 1000000000u);  // 200 ms after each failure
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
    EXPECT_EQ(c.tookS == 5, memory::logHas("read time out: 1000:0 -> 1005:0", LOG_PRIO_ERROR));
    EXPECT_EQ("AT^DLKS=1|AT^DSRST|", d.sent());
    EXPECT_FALSE(d.state.link.isOpen());
  }
}

// The golden transcripts show every switch, none repeated, and the return to standby 0 at a
// close; no run has a switch refused.
TEST(ModemCommandsTest, RefusedStandbySwitchKeepsTheCachedStandby) {
  Daemon d;
  d.answer({"\r\nOK\r\n", "\r\nERROR\r\n"});
  EXPECT_TRUE(switchToStandby(d.state.link, 1));
  EXPECT_FALSE(switchToStandby(d.state.link, 2));
  EXPECT_EQ(1, d.state.link.currentStandby);
  EXPECT_TRUE(switchToStandby(d.state.link, 1));  // cached: nothing sent
  EXPECT_EQ("AT^DMPCHN=1|AT^DMPCHN=2|", d.sent());
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
