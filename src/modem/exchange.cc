// AT exchanges: a command and its answer up to a final result code, read as lines; the wait for
// an unsolicited report; a late answer read off; a lost line opened again; and the traffic log.
#include "modem/exchange.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "modem/commands.h"
#include "platform/log_lines.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

constexpr int kDisplaySize = 256;  // traffic display; one log line per call
constexpr int kDisplayCut = 249;   // display length past which the rest is not shown
// A late answer to a timed-out exchange is read off before the next command: until the modem has
// been quiet this long, and never longer than the bound in all.
constexpr int64_t kDrainQuietUs = 100000;
constexpr int64_t kDrainBoundUs = 1000000;
// The longest final result code less one byte: what of the exchange so far can hold the start
// of a code that the next read completes.
constexpr size_t kCodeTail = 15;
constexpr size_t kCommandSize = AT_CHUNK_SIZE;  // a command as written, its CR included

// When a wait gives up: measured on the monotonic clock, shown on the wall clock.
struct Deadline {
  timespec wallStart;
  timespec start;
};

Deadline startDeadline() {
  Deadline deadline;
  platformClockRealtime(&deadline.wallStart);
  platformClockMonotonic(&deadline.start);
  return deadline;
}

int64_t elapsedUs(const Deadline& deadline) {
  timespec now;
  platformClockMonotonic(&now);
  return usBetween(deadline.start, now);
}

void logReadTimeOut(const timespec& start) {
  timespec now;
  platformClockRealtime(&now);
  LOGE(logline::kReadTimeOut, static_cast<long>(start.tv_sec), start.tv_nsec,
       static_cast<long>(now.tv_sec), now.tv_nsec);
}

// One read, logged as received traffic; NUL bytes the read held are dropped and said so.
ssize_t readTraffic(ModemLink& link, Chunk& chunk) {
  ssize_t n = readChunk(link.line, chunk);
  if (n < 0) return n;
  logAtTraffic(logline::kTrafficReceived, chunk.text, link.currentStandby);
  if (chunk.read != chunk.length) {
    LOGW("%d NUL bytes from the modem dropped", static_cast<int>(chunk.read - chunk.length));
  }
  return n;
}

bool startsWith(const char* text, const char* prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}

// ---- Lines
// ---------------------------------------------------------------------------------------

// A line as read: its bytes up to the LF (CRs before it gone), whether a CR LF came right before
// it and whether it ends with one. A final result code counts only where the modem framed it so.
struct Line {
  const char* text;
  bool afterCrLf;
  bool endsCrLf;
  size_t start;  // bytes fed before it began
};

// Turns reads into lines. A line longer than the buffer keeps its start; the rest is counted and
// said once when the line ends. A line begun by an earlier exchange (or wait) is not this one's:
// it is read to its end and dropped.
struct LineSplitter {
  char text[AT_LINE_SIZE] = {};
  size_t length = 0;
  size_t cut = 0;
  bool inLine = false;     // bytes since the last LF
  bool afterCrLf = false;  // the line in progress began right after a CR LF
  bool foreign = false;    // the line in progress is the rest of one begun before this exchange
  size_t fed = 0;          // bytes fed so far
  size_t start = 0;        // where the line in progress began

  explicit LineSplitter(bool midLine) : inLine(midLine), foreign(midLine) {}

  // Feeds bytes; calls onLine for each line they end.
  template <typename OnLine>
  void feed(const char* bytes, size_t count, OnLine onLine) {
    for (size_t i = 0; i < count; i++) {
      if (bytes[i] != '\n') {
        append(bytes[i]);
        continue;
      }
      bool endsCrLf = length > 0 && text[length - 1] == '\r';
      while (length > 0 && text[length - 1] == '\r') length--;
      text[length] = '\0';
      if (cut > 0) {
        LOGW("line longer than %d bytes: its last %d bytes dropped", AT_LINE_SIZE - 1,
             static_cast<int>(cut));
      }
      if (!foreign) onLine(Line{text, afterCrLf, endsCrLf, start});
      afterCrLf = endsCrLf;
      length = cut = 0;
      inLine = foreign = false;
      fed++;
    }
  }

  void append(char c) {
    if (!inLine) start = fed;
    fed++;
    inLine = true;
    if (length + 1 < sizeof text) {
      text[length++] = c;
      text[length] = '\0';
    } else {
      cut++;
    }
  }

  // The line in progress as far as it came (trailing CRs included).
  const char* partial() const { return foreign ? "" : text; }
};

// The final result code a line is, with the number of an error code; kNone when it is none. A
// code whose text ends its line (OK, ERROR, ...) must be the whole line framed by CR LF; one that
// is a line's start ("+CME ERROR: ", and ERROR with its line end not read) only needs the CR LF
// before it, and counts in a line not yet ended.
FinalCode finalCodeOf(const char* line, bool afterCrLf, bool endsCrLf, int* number) {
  if (!afterCrLf) return FinalCode::kNone;
  for (const FinalResultCode& code : kFinalResultCodes) {
    const char* body = code.text + 2;  // after its leading CR LF
    size_t bodyLength = strlen(body);
    bool wholeLine = bodyLength >= 2 && strcmp(body + bodyLength - 2, "\r\n") == 0;
    if (wholeLine) {
      bodyLength -= 2;
      if (!endsCrLf || strlen(line) != bodyLength || strncmp(line, body, bodyLength) != 0) continue;
    } else if (!startsWith(line, body)) {
      continue;
    }
    const char* digits = line + bodyLength;
    *number = !wholeLine && *digits >= '0' && *digits <= '9' ? atoi(digits) : -1;
    return code.code;
  }
  return FinalCode::kNone;
}

// Keeps a line in one of a fixed number of slots (its index); one that finds none is counted (-1).
template <size_t N>
int keepLine(char (&slots)[N][AT_LINE_SIZE], int& count, int& dropped, const char* line) {
  if (count >= static_cast<int>(N)) {
    dropped++;
    return -1;
  }
  copyText(slots[count], line);
  return count++;
}

// How much of an answer counts when a later one is laid over it: what an answer of 255 bytes
// with its terminator holds.
constexpr size_t kAnswerTextSize = 254;

// What one exchange makes of the lines it reads.
struct Gathering {
  ModemLink& link;
  const AtCommand& cmd;
  const char* sent;  // the command as written, without its CR
  AtAnswer& answer;
  int droppedLines = 0;    // information lines past the answer's room
  int droppedReports = 0;  // reports past the link's room

  // A line of the answer: its final result code (the first), an information line before it, a
  // report the command asked for, the echo of the command, or an unsolicited line (set aside:
  // the traffic log shows it).
  void take(const Line& line) {
    if (line.text[0] == '\0') return;
    int number = -1;
    FinalCode code = finalCodeOf(line.text, line.afterCrLf, line.endsCrLf, &number);
    if (code != FinalCode::kNone && answer.final == FinalCode::kNone) {
      answer.final = code;
      answer.errorNumber = number;
    } else if (cmd.report != nullptr && startsWith(line.text, cmd.report)) {
      keepLine(link.reports, link.reportCount, droppedReports, line.text);
    } else if (cmd.prefix != nullptr && answer.final == FinalCode::kNone &&
               startsWith(line.text, cmd.prefix)) {
      int kept = keepLine(answer.lines, answer.lineCount, droppedLines, line.text);
      if (kept >= 0) answer.starts[kept] = line.start;
    }
  }

  // The exchange ended inside a line: a final result code that its start already shows counts.
  void finish(const LineSplitter& splitter) {
    if (answer.final == FinalCode::kNone) {
      int number = -1;
      FinalCode code = finalCodeOf(splitter.partial(), splitter.afterCrLf, false, &number);
      if (code != FinalCode::kNone) {
        answer.final = code;
        answer.errorNumber = -1;  // its number may go on in the next read
      }
    }
    link.midLine = splitter.inLine;
    answer.length = splitter.fed < kAnswerTextSize ? splitter.fed : kAnswerTextSize;
    if (droppedLines > 0) {
      LOGW("%d information lines of \"%s\" beyond %d dropped", droppedLines, sent, kAnswerLines);
    }
    if (droppedReports > 0) {
      LOGW("%d reports to \"%s\" beyond %d dropped", droppedReports, sent, kKeptReports);
    }
  }
};

// The end of what was received so far, kept in tail (at most N - 1 bytes) so that a text the
// next read completes is still found.
template <size_t N>
void keepTail(char (&tail)[N], const char* joined) {
  size_t length = strlen(joined);
  copyText(tail, joined + (length > N - 1 ? length - (N - 1) : 0));
}

// Where the first final result code in text starts; nullptr when it holds none.
const char* firstFinalCode(const char* text) {
  const char* first = nullptr;
  for (const FinalResultCode& code : kFinalResultCodes) {
    const char* found = strstr(text, code.text);
    if (found != nullptr && (first == nullptr || found < first)) first = found;
  }
  return first;
}

// Where the late answer in joined ends: after the line of its first final result code; nullptr
// when it holds none yet.
const char* endOfLateAnswer(const char* joined) {
  const char* first = firstFinalCode(joined);
  if (first == nullptr) return nullptr;
  const char* lineEnd = strstr(first + 2, "\r\n");
  return lineEnd != nullptr ? lineEnd + 2 : joined + strlen(joined);
}

bool endsInLine(const char* text) {
  size_t length = strlen(text);
  return length > 0 && text[length - 1] != '\n';
}

// After a timed-out exchange, reads off the late answer so that the next command does not take
// it for its own: up to its final result code, or until the modem has been quiet a while. What
// came after that code in the same read (unsolicited lines) is kept for the next exchange, which
// reads it as if it had come then.
void drainLateAnswer(ModemLink& link) {
  if (!link.lateAnswerPending) return;
  link.lateAnswerPending = false;
  link.carried[0] = '\0';
  char tail[kCodeTail + 1] = {};
  Deadline deadline = startDeadline();
  while (elapsedUs(deadline) < kDrainBoundUs) {
    Chunk chunk;
    if (waitReadable(link.line, kDrainQuietUs) <= 0 || readTraffic(link, chunk) <= 0) return;
    char joined[kCodeTail + AT_CHUNK_SIZE];
    ptrdiff_t tailLength = static_cast<ptrdiff_t>(strlen(tail));
    snprintf(joined, sizeof joined, "%s%s", tail, chunk.text);
    const char* end = endOfLateAnswer(joined);
    if (end == nullptr) {
      if (chunk.length > 0) link.midLine = endsInLine(chunk.text);
      keepTail(tail, joined);
      continue;
    }
    ptrdiff_t into = end - joined - tailLength;  // where the answer ends within this chunk
    copyText(link.carried, chunk.text + (into > 0 ? into : 0));
    link.midLine = link.carried[0] == '\0' && endsInLine(joined);
    return;
  }
}

// Waits for the next chunk of an exchange; 1 readable, -1 otherwise (logged).
int waitExchangeChunk(ModemLink& link, const Deadline& deadline, int64_t boundUs) {
  for (;;) {
    int64_t leftUs = boundUs - elapsedUs(deadline);
    if (leftUs <= 0) {
      logReadTimeOut(deadline.wallStart);
      link.lateAnswerPending = true;
      return -1;
    }
    int ready = waitReadable(link.line, leftUs);
    if (ready != 0) return ready;
  }
}

// A final result code that the last read completed: it begins in the end of the exchange so far
// (tail, at most kCodeTail bytes) and ends within the chunk's first kCodeTail bytes (one wholly
// inside the chunk was found by the chunk's own test). Keeps the new end in tail.
bool finalCodeAcrossReads(char (&tail)[kCodeTail + 1], const char* chunk) {
  char joined[2 * kCodeTail + 1];
  size_t tailLength = strlen(tail);
  size_t head = strnlen(chunk, kCodeTail);
  memcpy(joined, tail, tailLength);
  memcpy(joined + tailLength, chunk, head);
  joined[tailLength + head] = '\0';
  bool found = tailLength > 0 && firstFinalCode(joined) != nullptr;
  keepTail(tail, head < kCodeTail ? joined : chunk);
  return found;
}

// The command as written: its text with arg put in, then its CR. False when it does not fit.
bool frameCommand(const AtCommand& cmd, const char* arg, char (&out)[kCommandSize]) {
  int length = arg != nullptr ? snprintf(out, sizeof out - 1, cmd.text, arg)
                              : snprintf(out, sizeof out - 1, "%s", cmd.text);
  if (length < 0 || static_cast<size_t>(length) >= sizeof out - 1) {
    LOGE("command \"%s\" does not fit in %d bytes", cmd.text, static_cast<int>(kCommandSize - 1));
    return false;
  }
  out[length] = '\r';
  out[length + 1] = '\0';
  return true;
}

// The exchange's reads, up to the one that ends it (a final code in the read, or split between
// it and the one before): each read is logged and cut into lines.
int gatherAnswer(ModemLink& link, Gathering& gathering, const Deadline& deadline,
                 LineSplitter& splitter) {
  auto take = [&gathering](const Line& line) { gathering.take(line); };
  char tail[kCodeTail + 1] = {};
  for (;;) {
    Chunk chunk;
    if (waitExchangeChunk(link, deadline, gathering.cmd.boundUs) < 0) return -1;
    ssize_t n = readTraffic(link, chunk);
    if (n < 0) return -1;
    // Only NUL bytes: nothing to read or test. An empty read (end of file) ends the exchange
    // through isFinalReponse's empty-chunk rule below.
    if (n > 0 && chunk.length == 0) continue;
    splitter.feed(chunk.text, chunk.length, take);
    if (isFinalReponse(chunk.text) || finalCodeAcrossReads(tail, chunk.text)) return 0;
  }
}

int runExchange(ModemLink& link, const AtCommand& cmd, const char* sent, AtAnswer& answer) {
  if (writeCommand(link.line, sent) != 0) return -1;
  Deadline deadline = startDeadline();
  logAtTraffic(logline::kTrafficSent, sent, link.currentStandby);
  char bare[kCommandSize];
  copyText(bare, sent, strlen(sent) - 1);
  Gathering gathering{link, cmd, bare, answer};
  LineSplitter splitter(link.midLine);
  // Unsolicited text that followed a late answer is read as this exchange's beginning.
  splitter.feed(link.carried, strlen(link.carried),
                [&gathering](const Line& line) { gathering.take(line); });
  link.carried[0] = '\0';
  int result = gatherAnswer(link, gathering, deadline, splitter);
  gathering.finish(splitter);
  return result;
}

AtOutcome exchangeOk(ModemLink& link, const AtCommand& cmd, AtAnswer& answer, const char* arg) {
  return {sendAtSync(link, cmd, answer, arg), answer.final == FinalCode::kOk};
}

// What a switch's outcome tells of the standby: OK, it is there; no answer (a time-out, a
// hang-up), the modem may have switched or not; a refusal, it stayed.
bool noteSwitch(ModemLink& link, int standby, const AtOutcome& outcome) {
  if (outcome.succeeded()) {
    link.currentStandby = standby;
    link.standbyUnknown = false;
    return true;
  }
  if (outcome.result < 0) link.standbyUnknown = true;
  return false;
}

int standbyText(int standby, char (&text)[12]) {
  return snprintf(text, sizeof text, "%d", standby);
}

// A line that hung up (a modem reset re-enumerates the node): opened again within the open's own
// bounds, unlocked and pointed back at its standby. False when it stays gone; every later command
// is then refused as on a channel that never opened.
bool recoverLine(ModemLink& link) {
  link.lateAnswerPending = false;
  link.carried[0] = '\0';
  link.midLine = false;
  if (!reopenLine(link.line)) return false;
  AtAnswer ignored;
  sendAtSync(link, modemCommand(ModemCommand::kUnlock), ignored);
  int standby = link.standbyUnknown ? link.wantedStandby : link.currentStandby;
  if (standby >= 0) {
    char arg[12];
    standbyText(standby, arg);
    const AtCommand& cmd = modemCommand(ModemCommand::kSwitch);
    if (!noteSwitch(link, standby, exchangeOk(link, cmd, ignored, arg))) {
      link.currentStandby = -1;  // unknown: the next switch is sent whatever it names
      link.standbyUnknown = true;
    }
  }
  return link.isOpen() && !link.line.lost;
}

// The answer laid over out: its lines, then those of out that began past its end; the code is
// the new one's.
void layOver(AtAnswer& out, const AtAnswer& answer) {
  AtAnswer merged = answer;
  for (int i = 0; i < out.lineCount && merged.lineCount < kAnswerLines; i++) {
    if (out.starts[i] < answer.length) continue;
    copyText(merged.lines[merged.lineCount], out.lines[i]);
    merged.starts[merged.lineCount++] = out.starts[i];
  }
  if (out.length > merged.length) merged.length = out.length;
  out = merged;
}

// A command on the current standby while that is unknown goes where it was asked for first.
bool standbyReady(ModemLink& link, const AtCommand& cmd, const char* arg) {
  if (!cmd.onStandby || !link.standbyUnknown) return true;
  if (link.wantedStandby >= 0 && sendStandbySwitch(link, link.wantedStandby)) return true;
  char sent[kCommandSize] = {};
  if (frameCommand(cmd, arg, sent)) sent[strlen(sent) - 1] = '\0';
  LOGE("\"%s\" not sent: the modem's standby is unknown", sent);
  return false;
}

}  // namespace

const char* AtAnswer::value(const char* prefix) const {
  for (int i = 0; i < lineCount && i < kAnswerLines; i++) {
    if (startsWith(lines[i], prefix)) return lines[i] + strlen(prefix);
  }
  return nullptr;
}

bool AtAnswer::copyValue(const char* prefix, char* out, size_t size) const {
  const char* text = value(prefix);
  if (text == nullptr) return false;
  copyText(out, size, text, strcspn(text, "\r"));
  return true;
}

bool AtAnswer::hasLine(const char* prefix, const char* text) const {
  size_t prefixLength = strlen(prefix);
  for (int i = 0; i < lineCount && i < kAnswerLines; i++) {
    if (startsWith(lines[i], prefix) && strcmp(lines[i] + prefixLength, text) == 0) return true;
  }
  return false;
}

void openModemLine(ModemLink& link) {
  if (!openLine(link.line)) return;
  sendAtSyncOk(link, modemCommand(ModemCommand::kUnlock));
}

int sendAtSync(ModemLink& link, const AtCommand& cmd, AtAnswer& answer, const char* arg) {
  answer = {};
  answer.errorNumber = -1;
  // The command and the answer are always given; only the channel can be missing.
  if (!link.isOpen()) {
    LOGE("%s() parameter error: %d, %d, %d, %d", __func__, 1, 0, 0, 0);
    return -1;
  }
  char sent[kCommandSize];
  if (!frameCommand(cmd, arg, sent)) return -1;
  drainLateAnswer(link);
  link.reportCount = 0;  // a report set aside before this command never answers its wait
  return runExchange(link, cmd, sent, answer);
}

bool isFinalReponse(const char* chunk) {
  if (chunk[0] == '\0') {
    LOGE("%s() parameter error: %d", __func__, 1);
    return true;
  }
  return firstFinalCode(chunk) != nullptr;
}

AtOutcome sendAtSyncOk(ModemLink& link, const AtCommand& cmd, AtAnswer* out, const char* arg) {
  // A line lost at an earlier command is opened again first.
  if (link.line.lost && link.isOpen()) recoverLine(link);
  // The command and the flag are always given; only the channel can be missing.
  if (!link.isOpen()) {
    LOGE("%s() parameter error: %d, %d, %d", __func__, 1, 0, 0);
    return {-1, false};
  }
  if (!standbyReady(link, cmd, arg)) return {-1, false};
  AtAnswer answer;  // filled by the exchange
  AtOutcome outcome = exchangeOk(link, cmd, answer, arg);
  // A line lost during this exchange is opened again and the command sent once more.
  if (link.line.lost && recoverLine(link)) outcome = exchangeOk(link, cmd, answer, arg);
  if (out != nullptr) layOver(*out, answer);
  return outcome;
}

bool sendStandbySwitch(ModemLink& link, int standby) {
  link.wantedStandby = standby;
  char arg[12];
  standbyText(standby, arg);
  return noteSwitch(link, standby,
                    sendAtSyncOk(link, modemCommand(ModemCommand::kSwitch), nullptr, arg));
}

int writeAtCommand(ModemLink& link, const AtCommand& cmd) {
  int result = -1;
  char sent[kCommandSize];
  if (!frameCommand(cmd, nullptr, sent)) return -1;
  link.reportCount = 0;
  if (!link.isOpen()) {
    LOGE("invalid fd");
  } else {
    drainLateAnswer(link);
    if (writableNow(link.line) == 1) result = writeCommand(link.line, sent);
  }
  logAtTraffic(logline::kTrafficSent, sent, link.currentStandby);
  return result;
}

namespace {

// The first of the reports a line begins with, in list order; -1 when none.
int reportOf(const char* line, const char* const* reports, int count) {
  for (int i = 0; i < count; i++) {
    if (startsWith(line, reports[i])) return i;
  }
  return -1;
}

// The earlier in the list of two finds (-1: none).
int earlier(int a, int b) { return a < 0 ? b : b < 0 ? a : (a < b ? a : b); }

// The report a read shows: in the lines it ended, or at the start of the line it is inside.
int reportInRead(LineSplitter& splitter, const Chunk& chunk, const char* const* reports,
                 int count) {
  int found = -1;
  splitter.feed(chunk.text, chunk.length, [&](const Line& line) {
    found = earlier(found, reportOf(line.text, reports, count));
  });
  return earlier(found, reportOf(splitter.partial(), reports, count));
}

// One read of a wait, within what is left of its bound; 1 read, -1 the wait is over (logged).
ssize_t waitReportRead(ModemLink& link, const Deadline& whole, const ReportWait& wait,
                       Chunk& chunk) {
  int64_t leftUs = wait.totalUs - elapsedUs(whole);
  Deadline read = startDeadline();
  int ready =
      leftUs <= 0 ? 0 : waitReadable(link.line, leftUs < wait.silenceUs ? leftUs : wait.silenceUs);
  if (ready == 0) logReadTimeOut(read.wallStart);
  if (ready <= 0) return -1;
  ssize_t n = readTraffic(link, chunk);
  if (n == 0) LOGE("read() fail: end of file");
  return n <= 0 ? -1 : 1;
}

}  // namespace

int waitForReport(ModemLink& link, const char* const* reports, int count, const ReportWait& wait) {
  int found = -1;
  for (int i = 0; i < link.reportCount && i < kKeptReports; i++) {
    found = earlier(found, reportOf(link.reports[i], reports, count));
  }
  link.reportCount = 0;
  if (found >= 0) return found;
  if (!link.isOpen()) {
    LOGE("invalid fd");
    return -1;
  }
  LineSplitter splitter(link.midLine);
  Deadline whole = startDeadline();
  for (int reads = 0; found < 0 && (wait.maxReads == 0 || reads < wait.maxReads); reads++) {
    Chunk chunk;
    if (waitReportRead(link, whole, wait, chunk) < 0) break;
    found = reportInRead(splitter, chunk, reports, count);
  }
  link.midLine = splitter.inLine;
  return found;
}

AtAnswer readAnswerText(const AtCommand& cmd, const char* text) {
  ModemLink link;
  AtAnswer answer = {};
  answer.errorNumber = -1;
  Gathering gathering{link, cmd, cmd.text, answer};
  LineSplitter splitter(false);
  splitter.feed(text, strlen(text), [&gathering](const Line& line) { gathering.take(line); });
  gathering.finish(splitter);
  return answer;
}

void logAtTraffic(const char* prefix, const char* text, int standby) {
  char display[kDisplaySize] = {};
  int length = 0;
  for (const char* p = text; *p != '\0' && length <= kDisplayCut; p++) {
    const char* shown = *p == '\r'   ? logline::kCarriageReturn
                        : *p == '\n' ? logline::kLineFeed
                                     : nullptr;
    if (shown == nullptr) {
      display[length++] = *p;
    } else {
      memcpy(display + length, shown, 4);
      length += 4;
    }
  }
  LOGD(logline::kTraffic, standby, prefix, length, display);
}
