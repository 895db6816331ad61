// AT exchanges on the modem's line: a command and its answer up to a final result code, bounded in
// time; the wait for an unsolicited report; and the traffic log. The framing is the exchange's
// own: callers name commands without their CR and get lines and codes back, never raw text. A
// lost line is opened again here.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "modem/line.h"
#include "modem/modem_capability.h"
#include "platform/platform.h"

// What ended an exchange. Only OK makes an answer a success.
enum class FinalCode : uint8_t {
  kNone,  // no final result code (a time-out, an empty read)
  kOk,
  kConnect,
  kBusy,
  kCmsError,
  kCmeError,
  kError,
  kNoCarrier,
  kNoAnswer,
  kNoDialtone,
};

// Texts that end an exchange, tested in this order on each read; the last one catches an ERROR
// whose line end falls into the next read.
struct FinalResultCode {
  const char* text;
  bool success;
  FinalCode code;
};
constexpr FinalResultCode kFinalResultCodes[] = {
    {"\r\nCONNECT\r\n", false, FinalCode::kConnect},
    {"\r\nOK\r\n", true, FinalCode::kOk},
    {"\r\nBUSY\r\n", false, FinalCode::kBusy},
    {"\r\n+CMS ERROR: ", false, FinalCode::kCmsError},
    {"\r\n+CME ERROR: ", false, FinalCode::kCmeError},
    {"\r\nERROR\r\n", false, FinalCode::kError},
    {"\r\nNO CARRIER\r\n", false, FinalCode::kNoCarrier},
    {"\r\nNO ANSWER\r\n", false, FinalCode::kNoAnswer},
    {"\r\nNO DIALTONE\r\n", false, FinalCode::kNoDialtone},
    {"\r\nERROR", false, FinalCode::kError},
};

// Bound on one whole exchange: a modem answers these local commands in well under a second, so a
// modem silent this long is treated as gone instead of holding the daemon.
constexpr int AT_EXCHANGE_TIMEOUT_S = 10;
constexpr int64_t kAtExchangeBoundUs = AT_EXCHANGE_TIMEOUT_S * 1000000LL;

// The attempts a command that may fail is given (the capability query, the card queries' 5 are
// their own).
constexpr int kAtRetryAttempts = 3;

// Longest line kept, terminator included; a longer one is cut (and said so).
constexpr int AT_LINE_SIZE = AT_CHUNK_SIZE;
// Information lines an answer keeps, and reports an exchange keeps for a wait after it.
constexpr int kAnswerLines = 4;
constexpr int kKeptReports = 4;

// A command as data: what is written (without its CR; a format with one argument where the
// command takes one), the information lines it answers with, the report it asks for, and how it
// is sent.
struct AtCommand {
  const char* text;
  const char* prefix;  // its information lines begin with this; nullptr: it has none
  const char* report;  // unsolicited lines beginning with this are kept for a wait; or nullptr
  int attempts;        // through retryCommand; 1: sent once
  uint64_t pauseUs;    // after each failed attempt, the last one too
  int64_t boundUs;     // on the whole exchange
  bool onStandby;      // concerns the current standby: never sent while that is unknown
};

// The channel and what is known of the modem through it.
struct ModemLink {
  ModemLine line;
  int currentStandby = -1;           // the standby last switched to; -1: none yet
  bool standbyUnknown = false;       // a switch timed out or hung up: the modem may be elsewhere
  int wantedStandby = -1;            // the standby last switched to or asked for
  bool lateAnswerPending = false;    // an exchange timed out: its answer may still arrive
  bool midLine = false;              // the last read ended inside a line an earlier read began
  char carried[AT_CHUNK_SIZE] = {};  // what came after a late answer: the next answer's start
  // Reports (AtCommand::report) set aside by the last exchange, for the wait after it.
  char reports[kKeptReports][AT_LINE_SIZE] = {};
  int reportCount = 0;
  ModemCapability capability = kInitialModemCapability;

  bool isOpen() const { return line.state == LineState::kOpen; }
  bool neverOpened() const { return line.state == LineState::kNeverOpened; }
};

// The lines of an answer that belong to the command: its information lines (those beginning with
// its prefix, before its final result code, trailing CRs gone) and the code.
struct AtAnswer {
  char lines[kAnswerLines][AT_LINE_SIZE];
  int lineCount;
  // Where each line began in the text the exchange read, and that text's length (at most 254):
  // an answer laid over an older one hides the older lines that began within its length.
  size_t starts[kAnswerLines];
  size_t length;
  FinalCode final;
  int errorNumber;  // of a "+CME ERROR: n" or "+CMS ERROR: n" line; -1: none or not read

  // The text after prefix on the first information line that begins with it; nullptr when none.
  const char* value(const char* prefix) const;
  // The text after prefix on that line into out (size bytes), cut at a stray CR so that it never
  // reaches a rild file or a later command; false without such a line.
  bool copyValue(const char* prefix, char* out, size_t size) const;
  // Whether an information line is exactly prefix followed by text.
  bool hasLine(const char* prefix, const char* text) const;
  int cmeError() const { return final == FinalCode::kCmeError ? errorNumber : -1; }
};

// Opens the line and unlocks the modem.
void openModemLine(ModemLink& link);
// Writes cmd's text (arg formatted into it) and its CR and gathers the answer up to a final
// result code; 0 when the exchange ended, -1 on a write or read failure or after cmd's bound.
int sendAtSync(ModemLink& link, const AtCommand& cmd, AtAnswer& answer, const char* arg = nullptr);
bool isFinalReponse(const char* chunk);
struct AtOutcome {
  int result;  // 0: the exchange ended (with a final result code); -1: it failed
  bool isOk;   // its final result code is OK

  bool succeeded() const { return result == 0 && isOk; }
};

// sendAtSync, judged by its answer; a command on a standby that is unknown goes to the standby
// asked for first, or fails unsent. The answer is laid over *out (when given) without clearing it
// first, so a caller that keeps one answer across attempts still sees the lines of an older,
// longer answer that began past the end of a shorter one; the code is this exchange's.
AtOutcome sendAtSyncOk(ModemLink& link, const AtCommand& cmd, AtAnswer* out = nullptr,
                       const char* arg = nullptr);
// Sends cmd up to its attempts until settled(outcome, answer) is true, pausing cmd.pauseUs after
// each attempt that was not (the last too). The answer is cleared once, before the first.
template <typename Settled>
bool retryCommand(ModemLink& link, const AtCommand& cmd, AtAnswer& answer, Settled settled);
// Points the channel at a standby ("AT^DMPCHN") whatever the cache says; true on OK. A time-out
// or hang-up leaves the standby unknown, a refusal leaves the cache as it was.
bool sendStandbySwitch(ModemLink& link, int standby);
// Writes a command whose answer is not awaited (a reset); 0 when it was written whole.
int writeAtCommand(ModemLink& link, const AtCommand& cmd);

// How long a wait for an unsolicited report may last: it ends after totalUs in all whatever else
// arrives, at the first silence of silenceUs, and after maxReads reads (0: no limit).
struct ReportWait {
  int64_t totalUs;
  int64_t silenceUs;
  int maxReads;
};
// Waits for a line beginning with one of the reports: first among those the last exchange set
// aside (never an earlier one's), then on the line, found as soon as a read shows it (also
// before its line end); where one read shows several, the earlier in the list wins. The index of
// the report found, or -1 when the wait ended without one (a time-out is logged as "read time
// out: ...", a read failure where it happens).
int waitForReport(ModemLink& link, const char* const* reports, int count, const ReportWait& wait);

// A whole answer as text (a logged one), read the way an exchange reads it.
AtAnswer readAnswerText(const AtCommand& cmd, const char* text);

void logAtTraffic(const char* prefix, const char* text, int standby);

template <typename Settled>
bool retryCommand(ModemLink& link, const AtCommand& cmd, AtAnswer& answer, Settled settled) {
  answer = {};
  for (int attempt = 0; attempt < cmd.attempts; attempt++) {
    AtOutcome outcome = sendAtSyncOk(link, cmd, &answer);
    if (settled(outcome, answer)) return true;
    platformSleepUs(cmd.pauseUs);
  }
  return false;
}
