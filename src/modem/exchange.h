// AT exchanges on the modem's line: a command and its answer up to a final result code, bounded in
// time; the wait for an unsolicited report; and the traffic log. A lost line is opened again here.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "modem/line.h"
#include "modem/modem_capability.h"

// Texts that end an exchange, tested in this order; the last one catches an ERROR whose line end
// falls into the next chunk. Only OK makes an answer a success.
struct FinalResultCode {
  const char* text;
  bool success;
};
constexpr FinalResultCode kFinalResultCodes[] = {
    {"\r\nCONNECT\r\n", false},    {"\r\nOK\r\n", true},         {"\r\nBUSY\r\n", false},
    {"\r\n+CMS ERROR: ", false},   {"\r\n+CME ERROR: ", false},  {"\r\nERROR\r\n", false},
    {"\r\nNO CARRIER\r\n", false}, {"\r\nNO ANSWER\r\n", false}, {"\r\nNO DIALTONE\r\n", false},
    {"\r\nERROR", false},
};

// Bound on one whole exchange of sendAtSync: a modem answers these local commands in well under a
// second, so a modem silent this long is treated as gone instead of holding the daemon.
constexpr int AT_EXCHANGE_TIMEOUT_S = 10;

// The channel and what is known of the modem through it.
struct ModemLink {
  ModemLine line;
  int currentStandby = -1;           // the standby last switched to; -1: none yet
  bool lateAnswerPending = false;    // an exchange timed out: its answer may still arrive
  char carried[AT_CHUNK_SIZE] = {};  // what came after a late answer: the next answer's start
  ModemCapability capability = kInitialModemCapability;

  bool isOpen() const { return line.state == LineState::kOpen; }
  bool neverOpened() const { return line.state == LineState::kNeverOpened; }
};

// The text the modem sent during one exchange, as the channel stored it; always terminated.
struct AtResponse {
  char text[AT_CHUNK_SIZE];

  bool holds(const char* s) const { return strstr(text, s) != nullptr; }
  // The text after prefix up to the line's end into out (size bytes); false when the prefix or a
  // following "\r\n" is missing. Cut at the first CR or LF, so a stray line break in an answer
  // never reaches a rild file or a later command.
  bool line(const char* prefix, char* out, size_t size) const;
};

// Opens the line and unlocks the modem with "AT^DLKS=0".
void openModemLine(ModemLink& link);
// Writes cmd and gathers the answer into resp up to a final result code; 0 when the exchange
// ended, -1 on a write or read failure or after AT_EXCHANGE_TIMEOUT_S.
int sendAtSync(ModemLink& link, const char* cmd, AtResponse& resp);
bool isFinalReponse(const char* chunk);
struct AtOutcome {
  int result;  // 0: the exchange ended (with a final result code); -1: it failed
  bool isOk;   // the answer holds "\r\nOK\r\n"

  bool succeeded() const { return result == 0 && isOk; }
};

// sendAtSync, judged by its answer. The answer is copied over the start of *out (when given)
// without clearing it first, so a caller that keeps one buffer across attempts sees an older,
// longer answer's tail behind a shorter one.
AtOutcome sendAtSyncOk(ModemLink& link, const char* cmd, AtResponse* out = nullptr);
// Writes a command whose answer is not awaited (a reset); 0 when it was written whole.
int writeAtCommand(ModemLink& link, const char* cmd);

// How long a wait for an unsolicited report may last: it ends after totalUs in all whatever else
// arrives, at the first silence of silenceUs, and after maxReads reads (0: no limit).
struct ReportWait {
  int64_t totalUs;
  int64_t silenceUs;
  int maxReads;
};
// Waits for one of the reports: seen is the text already received (the answer that switched the
// reports on), searched first. Each report is found across read boundaries; where one read shows
// several, the earlier in the list wins. The index of the report found, or -1 when the wait ended
// without one (a time-out is logged as "read time out: ...", a read failure where it happens).
int waitForReport(ModemLink& link, const char* seen, const char* const* reports, int count,
                  const ReportWait& wait);

void logAtTraffic(const char* prefix, const char* text, int standby);
