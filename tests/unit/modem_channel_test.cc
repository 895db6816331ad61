// The AT channel against a scripted modem: where an exchange ends, what is gathered and logged,
// and that no wait outlives its bound.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "modem/modem.h"
#include "platform/fake_platform.h"
#include "scripted_modem.h"

namespace {

class ModemChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    fake::selectRealCapMs = 5;  // a silent modem costs 5 ms of real time per wait
    g_currentStandby = -1;
    forgetTimedOutExchange();
  }
  ScriptedModem modem;
};

// Seconds between the two stamps of the "read time out" line; -1 when there is none.
long timeOutSpan() {
  long s0, n0, s1, n1;
  for (const fake::LogLine& line : fake::logLines()) {
    if (sscanf(line.text.c_str(), "read time out: %ld:%ld -> %ld:%ld", &s0, &n0, &s1, &n1) == 4) {
      return s1 - s0;
    }
  }
  return -1;
}

TEST_F(ModemChannelTest, ExchangeEndsOnlyOnAChunkHoldingAFinalResultCode) {
  const struct {
    std::vector<std::string> chunks;
    int isOk;
    std::string gathered;
  } cases[] = {
      {{"\r\n+CME ERROR: 10\r\n"}, 0, "\r\n+CME ERROR: 10\r\n"},
      {{"\r\nO", "K\r\n", "\r\nOK\r\n"}, 1, "\r\nOK\r\n\r\nOK\r\n"},
      {{"\r\n^DMCC: 1\r\n", "\r\nERROR", "\r\n"}, 0, "\r\n^DMCC: 1\r\n\r\nERROR"},
      {{"\r\n^DTOC: 1\r\n", ""}, 0, "\r\n^DTOC: 1\r\n"},  // the line hung up
  };
  for (const auto& c : cases) {
    ScriptedModem m;
    for (const std::string& chunk : c.chunks) m.answer(chunk);
    char out[AT_CHUNK_SIZE] = {};
    int isOk = -1;
    EXPECT_EQ(0, sendAtSyncOk(m.fd(), "AT\r", &isOk, out, sizeof out));
    EXPECT_EQ(c.isOk, isOk);
    EXPECT_EQ(c.gathered, out);
  }
  EXPECT_EQ(4, fake::logCount("[-1]>> AT<CR>"));
  EXPECT_EQ(1, fake::logCount("isFinalReponse() parameter error: 1"));
}

TEST_F(ModemChannelTest, ChunkThatDoesNotFitIsDroppedWholeAndASmallerOneStillFits) {
  modem.answer({"abcdef", "ghijk", "ghij", "xyz", "\r\nOK\r\n"});
  char resp[10] = "zzzzzzzzz";
  EXPECT_EQ(0, sendAtSync(modem.fd(), "AT\r", resp, sizeof resp));
  EXPECT_STREQ("abcdefxyz", resp);
}

TEST_F(ModemChannelTest, BadArgumentsAreRefusedWithTheirFlagsAndNothingIsWritten) {
  char buf[AT_CHUNK_SIZE] = {};
  int isOk = 7, fd = modem.fd();
  const struct {
    int result;
    const char* line;
  } cases[] = {
      {sendAtSync(0, "AT\r", buf, 10), "sendAtSync() parameter error: 1, 0, 0, 0"},
      {sendAtSync(fd, nullptr, buf, 0), "sendAtSync() parameter error: 0, 1, 0, 1"},
      {sendAtSyncOk(-1, nullptr, &isOk, buf, 1), "sendAtSyncOk() parameter error: 1, 1, 0"},
      {sendAtSyncOk(fd, "AT\r", nullptr, buf, 1), "sendAtSyncOk() parameter error: 0, 0, 1"},
      {sendAtSyncOk(fd, "", &isOk, buf, 1), "sendAtSyncOk() parameter error: 1"},
      {writeAtCommand(0, "AT^DSRST\r"), "invalid fd"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(-1, c.result);
    EXPECT_TRUE(fake::logHas(c.line, 6)) << c.line;
  }
  EXPECT_EQ(7, isOk);
  EXPECT_TRUE(modem.commands().empty());
}

TEST_F(ModemChannelTest, TrafficLineIsCutAfter250Characters) {
  logAtTraffic(">> ", std::string(300, 'a').c_str(), 2);
  logAtTraffic("<< ", std::string(300, '\r').c_str(), 0);
  std::string crs;
  for (int i = 0; i < 63; i++) crs += "<CR>";
  EXPECT_TRUE(fake::logHas("[2]>> " + std::string(250, 'a'), 3));
  EXPECT_TRUE(fake::logHas("[0]<< " + crs, 3));
}

TEST_F(ModemChannelTest, SilentModemEndsTheExchangeAfterItsBoundKeepingWhatCame) {
  modem.answer("\r\n^DMCC: 1");
  char resp[AT_CHUNK_SIZE];
  EXPECT_EQ(-1, sendAtSync(modem.fd(), "AT^DMCC?\r", resp, sizeof resp));
  EXPECT_STREQ("\r\n^DMCC: 1", resp);
  EXPECT_EQ(AT_EXCHANGE_TIMEOUT_S, timeOutSpan());
  EXPECT_EQ((1000u + AT_EXCHANGE_TIMEOUT_S) * 1000000u, fake::nowUs());
}

TEST_F(ModemChannelTest, LateAnswerIsReadOffBeforeTheNextCommand) {
  int isOk = -1;
  EXPECT_EQ(-1, sendAtSyncOk(modem.fd(), "AT+CIMI\r", &isOk, nullptr, 0));
  modem.ok();  // too late for AT+CIMI, and not the answer to AT^DTOC
  EXPECT_EQ(-1, sendAtSyncOk(modem.fd(), "AT^DTOC\r", &isOk, nullptr, 0));
  EXPECT_EQ(0, isOk);
  EXPECT_TRUE(fake::logHas("[-1]<< <CR><LF>OK<CR><LF>", 3));
}

TEST_F(ModemChannelTest, TimedReadReturnsAChunkOrFailsWithinItsLimit) {
  char chunk[AT_CHUNK_SIZE];
  modem.answer("\r\n^DUSIMU: 1\r\n");
  EXPECT_EQ(0, readAtWithTimeout(modem.fd(), chunk, 60));
  EXPECT_STREQ("\r\n^DUSIMU: 1\r\n", chunk);
  // A zero limit still waits for the wall-clock second to turn, without spinning.
  EXPECT_EQ(-1, readAtWithTimeout(modem.fd(), chunk, 0));
  EXPECT_EQ(1, timeOutSpan());
  uint64_t before = fake::nowUs();
  modem.hangUp();
  EXPECT_EQ(-1, readAtWithTimeout(modem.fd(), chunk, 60));
  EXPECT_TRUE(fake::logHas("read() fail: end of file", 6));
  EXPECT_EQ(before, fake::nowUs());
}

}  // namespace
