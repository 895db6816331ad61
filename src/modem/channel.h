// The AT channel to the modem: opening the device node, synchronous exchanges bounded in time,
// the two lower-level operations for unsolicited reports, and the traffic log.
#pragma once

#include <stddef.h>
#include <string.h>

#include "modem/capability.h"

// Every read from the channel goes into a zeroed buffer of this size and asks for one byte less,
// so a chunk is always a terminated string.
constexpr int AT_CHUNK_SIZE = 256;

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

// Descriptor values of a channel that is not open. Both refuse every command; a channel closed
// after use still passes the standby switch's own check and is refused by the exchange instead.
constexpr int kChannelUnopened = -1;
constexpr int kChannelClosed = 0;

// The channel and what is known of the modem through it.
struct ModemLink {
  int fd = kChannelUnopened;
  int currentStandby = -1;           // the standby last switched to; -1: none yet
  bool lateAnswerPending = false;    // an exchange timed out: its answer may still arrive
  char carried[AT_CHUNK_SIZE] = {};  // what came after a late answer: the next answer's start
  bool lineLost = false;             // the line hung up or vanished; the next command reopens it
  int reopens = 0;                   // times a lost line was reopened
  ModemCapability capability = kInitialModemCapability;

  bool isOpen() const { return fd > 0; }
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

int tryOpenDevice(const char* path, int flags, int tries);
// Opens the modem's device node (100 attempts a second apart) and unlocks it with "AT^DLKS=0".
void openLine(ModemLink& link);
// Writes cmd and gathers the answer into resp up to a final result code; 0 when the exchange
// ended, -1 on a write or read failure or after AT_EXCHANGE_TIMEOUT_S.
int sendAtSync(ModemLink& link, const char* cmd, AtResponse& resp);
bool isFinalReponse(const char* chunk);
struct AtOutcome {
  int result;  // 0: the exchange ended (with a final result code or an empty read); -1: it failed
  bool isOk;   // the answer holds "\r\nOK\r\n"

  bool succeeded() const { return result == 0 && isOk; }
};

// sendAtSync, judged by its answer. The answer is copied over the start of *out (when given)
// without clearing it first, so a caller that keeps one buffer across attempts sees an older,
// longer answer's tail behind a shorter one.
AtOutcome sendAtSyncOk(ModemLink& link, const char* cmd, AtResponse* out = nullptr);
int writeAtCommand(ModemLink& link, const char* cmd);
int readAtWithTimeout(ModemLink& link, char* chunk, int seconds);
void logAtTraffic(const char* prefix, const char* text, int standby);
