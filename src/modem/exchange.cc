// AT exchanges: a command and its answer up to a final result code, the wait for an unsolicited
// report, a late answer read off, a lost line opened again, and the traffic log.
#include "modem/exchange.h"

#include <stdio.h>
#include <string.h>

#include "platform/log_lines.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

constexpr int kExchangeResponseSize = 255;  // what one exchange stores of the modem's answer
constexpr int kDisplaySize = 256;           // traffic display; one log line per call
constexpr int kDisplayCut = 249;            // display length past which the rest is not shown
constexpr int64_t kUsPerSec = 1000000;
// A late answer to a timed-out exchange is read off before the next command: until the modem has
// been quiet this long, and never longer than the bound in all.
constexpr int64_t kDrainQuietUs = 100000;
constexpr int64_t kDrainBoundUs = 1000000;
// The longest final result code less one byte: what of the exchange so far can hold the start
// of a code that the next read completes.
constexpr size_t kCodeTail = 15;
// The longest report a wait looks for, less one byte, likewise.
constexpr size_t kReportTail = 31;

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
  LOGE("read time out: %ld:%ld -> %ld:%ld", static_cast<long>(start.tv_sec), start.tv_nsec,
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
      keepTail(tail, joined);
      continue;
    }
    ptrdiff_t into = end - joined - tailLength;  // where the answer ends within this chunk
    copyText(link.carried, chunk.text + (into > 0 ? into : 0));
    return;
  }
}

// Waits for the next chunk of an exchange; 1 readable, -1 otherwise (logged).
int waitExchangeChunk(ModemLink& link, const Deadline& deadline) {
  for (;;) {
    int64_t leftUs = AT_EXCHANGE_TIMEOUT_S * kUsPerSec - elapsedUs(deadline);
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

// Unsolicited lines that filled the answer before the modem's reply would push the reply out: the
// oldest lines go instead, as few as leave room for a chunk of length (< 255) bytes. The cut is
// made at a CR LF, so that every line kept keeps the CR LF that the answer readers look for before
// it; with none, all of the old text goes. Returns the new fill.
size_t makeRoom(AtResponse& resp, size_t fill, size_t length) {
  size_t cut = fill + length + 1 - kExchangeResponseSize;
  while (cut < fill && !(resp.text[cut] == '\r' && resp.text[cut + 1] == '\n')) cut++;
  memmove(resp.text, resp.text + cut, fill - cut + 1);
  return fill - cut;
}

// Adds a chunk to the answer gathered so far (fill bytes), making room when it is full (said once
// an exchange). A chunk too long to fit even alone is dropped whole, and a later, smaller one may
// still fit.
void storeChunk(AtResponse& resp, size_t& fill, const Chunk& chunk, bool& trimmed) {
  if (fill + chunk.length >= kExchangeResponseSize && chunk.length < kExchangeResponseSize) {
    if (!trimmed) {
      LOGW("answer longer than %d bytes: its oldest lines dropped to keep the end",
           kExchangeResponseSize - 1);
    }
    trimmed = true;
    fill = makeRoom(resp, fill, chunk.length);
  }
  if (fill + chunk.length < kExchangeResponseSize) {
    copyText(resp.text + fill, chunk.length + 1, chunk.text, chunk.length);
    fill += chunk.length;
  }
}

// A line that hung up (a modem reset re-enumerates the node): opened again within the open's own
// bounds, unlocked and pointed back at its standby. False when it stays gone; every later command
// is then refused as on a channel that never opened.
bool recoverLine(ModemLink& link) {
  link.lateAnswerPending = false;
  link.carried[0] = '\0';
  if (!reopenLine(link.line)) return false;
  AtResponse ignored;
  sendAtSync(link, "AT^DLKS=0\r", ignored);
  if (link.currentStandby >= 0) {
    char cmd[AT_CHUNK_SIZE];
    snprintf(cmd, sizeof cmd, "AT^DMPCHN=%d\r", link.currentStandby);
    if (sendAtSync(link, cmd, ignored) != 0 || !ignored.holds("\r\nOK\r\n")) {
      link.currentStandby = -1;  // unknown: the next switch is sent whatever it names
    }
  }
  return link.isOpen() && !link.line.lost;
}

AtOutcome exchangeOk(ModemLink& link, const char* cmd, AtResponse& resp) {
  AtOutcome outcome = {sendAtSync(link, cmd, resp), false};
  // Judged on the whole gathered text, so an OK split over two reads counts.
  for (const FinalResultCode& code : kFinalResultCodes) {
    if (code.success && resp.holds(code.text)) outcome.isOk = true;
  }
  return outcome;
}

// The first of the reports that text holds, in list order; -1 when none.
int firstReport(const char* text, const char* const* reports, int count) {
  for (int i = 0; i < count; i++) {
    if (strstr(text, reports[i]) != nullptr) return i;
  }
  return -1;
}

}  // namespace

bool AtResponse::line(const char* prefix, char* out, size_t size) const {
  const char* start = strstr(text, prefix);
  if (start == nullptr) return false;
  start += strlen(prefix);
  if (strstr(start, "\r\n") == nullptr) return false;
  copyText(out, size, start, strcspn(start, "\r\n"));
  return true;
}

void openModemLine(ModemLink& link) {
  if (!openLine(link.line)) return;
  sendAtSyncOk(link, "AT^DLKS=0\r");
}

int sendAtSync(ModemLink& link, const char* cmd, AtResponse& resp) {
  resp = {};
  // The command and the response are always given; only the channel can be missing.
  if (!link.isOpen()) {
    LOGE("%s() parameter error: %d, %d, %d, %d", __func__, 1, 0, 0, 0);
    return -1;
  }
  drainLateAnswer(link);
  if (writeCommand(link.line, cmd) != 0) return -1;
  Deadline deadline = startDeadline();
  logAtTraffic(logline::kTrafficSent, cmd, link.currentStandby);
  // Unsolicited text that followed a late answer is read as this exchange's beginning.
  copyText(resp.text, link.carried);
  size_t fill = strlen(resp.text);
  link.carried[0] = '\0';
  char tail[kCodeTail + 1] = {};
  bool trimmed = false;
  for (;;) {
    Chunk chunk;
    if (waitExchangeChunk(link, deadline) < 0) return -1;
    ssize_t n = readTraffic(link, chunk);
    if (n < 0) return -1;
    // Only NUL bytes: nothing to store or test. An empty read (end of file) ends the exchange
    // through isFinalReponse's empty-chunk rule below.
    if (n > 0 && chunk.length == 0) continue;
    storeChunk(resp, fill, chunk, trimmed);
    // Each chunk is tested alone, and a code split between two reads counts as well.
    if (isFinalReponse(chunk.text) || finalCodeAcrossReads(tail, chunk.text)) return 0;
  }
}

bool isFinalReponse(const char* chunk) {
  if (chunk[0] == '\0') {
    LOGE("%s() parameter error: %d", __func__, 1);
    return true;
  }
  return firstFinalCode(chunk) != nullptr;
}

AtOutcome sendAtSyncOk(ModemLink& link, const char* cmd, AtResponse* out) {
  // A line lost at an earlier command is opened again first.
  if (link.line.lost && link.isOpen()) recoverLine(link);
  // The command and the flag are always given; only the channel can be missing.
  if (!link.isOpen()) {
    LOGE("%s() parameter error: %d, %d, %d", __func__, 1, 0, 0);
    return {-1, false};
  }
  AtResponse resp;  // filled by the exchange
  AtOutcome outcome = exchangeOk(link, cmd, resp);
  // A line lost during this exchange is opened again and the command sent once more.
  if (link.line.lost && recoverLine(link)) outcome = exchangeOk(link, cmd, resp);
  if (out != nullptr) memcpy(out->text, resp.text, strlen(resp.text));
  return outcome;
}

int writeAtCommand(ModemLink& link, const char* cmd) {
  int result = -1;
  if (!link.isOpen()) {
    LOGE("invalid fd");
  } else {
    drainLateAnswer(link);
    if (writableNow(link.line) == 1) result = writeCommand(link.line, cmd);
  }
  logAtTraffic(logline::kTrafficSent, cmd, link.currentStandby);
  return result;
}

int waitForReport(ModemLink& link, const char* seen, const char* const* reports, int count,
                  const ReportWait& wait) {
  int found = firstReport(seen, reports, count);
  if (found >= 0) return found;
  if (!link.isOpen()) {
    LOGE("invalid fd");
    return -1;
  }
  char tail[kReportTail + 1];
  keepTail(tail, seen);
  Deadline whole = startDeadline();
  for (int reads = 0; wait.maxReads == 0 || reads < wait.maxReads; reads++) {
    // Whatever else arrives, the wait never outlasts its bound.
    int64_t leftUs = wait.totalUs - elapsedUs(whole);
    Deadline read = startDeadline();
    int ready = leftUs <= 0
                    ? 0
                    : waitReadable(link.line, leftUs < wait.silenceUs ? leftUs : wait.silenceUs);
    if (ready == 0) logReadTimeOut(read.wallStart);
    if (ready <= 0) return -1;
    Chunk chunk;
    ssize_t n = readTraffic(link, chunk);
    if (n == 0) LOGE("read() fail: end of file");
    if (n <= 0) return -1;
    char joined[kReportTail + AT_CHUNK_SIZE];
    snprintf(joined, sizeof joined, "%s%s", tail, chunk.text);
    found = firstReport(joined, reports, count);
    if (found >= 0) return found;
    keepTail(tail, joined);
  }
  return -1;
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
