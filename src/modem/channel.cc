// The AT channel: opening the device node, synchronous exchanges and the traffic log.
#include "modem/channel.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/select.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

constexpr int kExchangeResponseSize = 255;  // what one exchange stores of the modem's answer
constexpr int kDisplaySize = 256;           // traffic display; one log line per call
constexpr int kDisplayCut = 249;            // display length past which the rest is not shown
constexpr uint64_t kOpenSettleUs = 500000;
constexpr uint64_t kOpenRetryUs = 1000000;
constexpr long kNsPerSec = 1000000000L;
constexpr int64_t kUsPerSec = 1000000;
// A late answer to a timed-out exchange is read off before the next command: until the modem has
// been quiet this long, and never longer than the bound in all.
constexpr int64_t kDrainQuietUs = 100000;
constexpr int64_t kDrainBoundUs = 1000000;

timeval toTimeval(int64_t us) {
  timeval tv;
  tv.tv_sec = static_cast<time_t>(us / kUsPerSec);
  tv.tv_usec = static_cast<suseconds_t>(us % kUsPerSec);
  return tv;
}

void logReadTimeOut(const timespec& start, const timespec& now) {
  LOGE("read time out: %ld:%ld -> %ld:%ld", static_cast<long>(start.tv_sec), start.tv_nsec,
       static_cast<long>(now.tv_sec), now.tv_nsec);
}

// 1 when fd is readable, 0 when the limit passed, -1 on failure (logged).
int selectReadable(int fd, timeval* limit) {
  fd_set readSet;
  FD_ZERO(&readSet);
  FD_SET(fd, &readSet);
  int ready = platformSelect(fd + 1, &readSet, nullptr, limit);
  if (ready < 0) {
    LOGE("select() fail: %d - %s", errno, strerror(errno));
    return -1;
  }
  if (ready == 0) return 0;
  if (!FD_ISSET(fd, &readSet)) {
    LOGE("select OK, but fd is not ready");
    return -1;
  }
  return 1;
}

constexpr int kOpenAttempts = 100;
// Never the daemon's controlling terminal: a hang-up of the line (a modem reset re-enumerates the
// node) must not end the process.
constexpr int kOpenFlags = O_RDWR | O_NOCTTY | O_CLOEXEC;
// The longest final result code less one byte: what of the exchange so far can hold the start
// of a code that the next read completes.
constexpr size_t kCodeTail = 15;

// A hung-up or vanished line: end of file, or an error only a dead device gives.
bool lineGone(ssize_t result, int error) {
  return result == 0 || (result < 0 && (error == EIO || error == ENXIO || error == ENODEV));
}

// Reads one chunk into a zeroed AT_CHUNK_SIZE buffer; the byte count, or -1 (logged).
ssize_t readChunk(ModemLink& link, char* chunk) {
  memset(chunk, 0, AT_CHUNK_SIZE);
  ssize_t n = read(link.fd, chunk, AT_CHUNK_SIZE - 1);
  if (n < 0) LOGE("read() fail: %d - %s", errno, strerror(errno));
  if (lineGone(n, errno)) link.lineLost = true;
  return n;
}

// One write call; a partial write is not continued.
int writeCommand(ModemLink& link, const char* cmd) {
  int length = static_cast<int>(strlen(cmd));
  ssize_t written = write(link.fd, cmd, length);
  if (written < 0) {
    LOGE("write() fail: %d - %s", errno, strerror(errno));
    if (lineGone(written, errno) || errno == EPIPE) link.lineLost = true;
    return -1;
  }
  if (written != length) {
    LOGW("write not completed: to write(%d) != written(%d)", length, static_cast<int>(written));
    return -1;
  }
  return 0;
}

// Keeps the last kCodeTail bytes of joined in tail.
void keepTail(char (&tail)[kCodeTail + 1], const char* joined) {
  size_t length = strlen(joined);
  copyText(tail, joined + (length > kCodeTail ? length - kCodeTail : 0));
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
  timespec start, now;
  platformClockMonotonic(&start);
  for (now = start; usBetween(start, now) < kDrainBoundUs; platformClockMonotonic(&now)) {
    timeval quiet = toTimeval(kDrainQuietUs);
    char chunk[AT_CHUNK_SIZE];
    if (selectReadable(link.fd, &quiet) <= 0 || readChunk(link, chunk) <= 0) return;
    logAtTraffic("<< ", chunk, link.currentStandby);
    char joined[kCodeTail + AT_CHUNK_SIZE];
    ptrdiff_t tailLength = static_cast<ptrdiff_t>(strlen(tail));
    snprintf(joined, sizeof joined, "%s%s", tail, chunk);
    const char* end = endOfLateAnswer(joined);
    if (end == nullptr) {
      keepTail(tail, joined);
      continue;
    }
    ptrdiff_t into = end - joined - tailLength;  // where the answer ends within this chunk
    copyText(link.carried, chunk + (into > 0 ? into : 0));
    return;
  }
}

// When an exchange gives up: measured on the monotonic clock, shown on the wall clock.
struct Deadline {
  timespec wallStart;
  timespec start;
};

// Waits for the next chunk of an exchange; 1 readable, -1 otherwise (logged).
int waitExchangeChunk(ModemLink& link, const Deadline& deadline) {
  for (;;) {
    timespec now;
    platformClockMonotonic(&now);
    int64_t leftUs = AT_EXCHANGE_TIMEOUT_S * kUsPerSec - usBetween(deadline.start, now);
    if (leftUs <= 0) {
      timespec wallNow;
      platformClockRealtime(&wallNow);
      logReadTimeOut(deadline.wallStart, wallNow);
      link.lateAnswerPending = true;
      return -1;
    }
    timeval limit = toTimeval(leftUs);
    int ready = selectReadable(link.fd, &limit);
    if (ready != 0) return ready;
  }
}

int writeWhenWritable(ModemLink& link, const char* cmd) {
  if (!link.isOpen()) {
    LOGE("invalid fd");
    return -1;
  }
  drainLateAnswer(link);
  fd_set writeSet;
  FD_ZERO(&writeSet);
  FD_SET(link.fd, &writeSet);
  timeval noWait = {0, 0};
  int ready = platformSelect(link.fd + 1, nullptr, &writeSet, &noWait);
  if (ready < 0) {
    LOGE("select() fail: %d - %s", errno, strerror(errno));
    return -1;
  }
  if (ready == 0) {
    LOGE("Can not write");
    return -1;
  }
  if (!FD_ISSET(link.fd, &writeSet)) return -1;
  return writeCommand(link, cmd);
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

// The channel's device node, where the platform keeps it; "" when the path does not fit, which
// tryOpenDevice refuses with its own message.
void devicePath(char (&path)[kFilePathSize]) {
  if (platformPath(kModemDevicePath, path, sizeof path) != 0) path[0] = '\0';
}

// A line that hung up (a modem reset re-enumerates the node): closed, opened again within the
// open's own bounds, unlocked and pointed back at its standby. False when it stays gone; every
// later command is then refused as on a channel that never opened.
bool reopenLine(ModemLink& link) {
  char path[kFilePathSize];
  devicePath(path);
  LOGE("line of \"%s\" lost, opening it again", path);
  close(link.fd);
  link.lineLost = false;
  link.lateAnswerPending = false;
  link.carried[0] = '\0';
  link.reopens++;
  link.fd = tryOpenDevice(path, kOpenFlags, kOpenAttempts);
  if (!link.isOpen()) {
    link.fd = kChannelUnopened;
    return false;
  }
  AtResponse ignored;
  sendAtSync(link, "AT^DLKS=0\r", ignored);
  if (link.currentStandby >= 0) {
    char cmd[AT_CHUNK_SIZE];
    snprintf(cmd, sizeof cmd, "AT^DMPCHN=%d\r", link.currentStandby);
    if (sendAtSync(link, cmd, ignored) != 0 || !ignored.holds("\r\nOK\r\n")) {
      link.currentStandby = -1;  // unknown: the next switch is sent whatever it names
    }
  }
  return link.isOpen() && !link.lineLost;
}

AtOutcome exchangeOk(ModemLink& link, const char* cmd, AtResponse& resp) {
  AtOutcome outcome = {sendAtSync(link, cmd, resp), false};
  // Judged on the whole gathered text, so an OK split over two reads counts.
  for (const FinalResultCode& code : kFinalResultCodes) {
    if (code.success && resp.holds(code.text)) outcome.isOk = true;
  }
  return outcome;
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

int tryOpenDevice(const char* path, int flags, int tries) {
  if (path == nullptr || path[0] == '\0') {
    LOGE("%s() parameter error: %d", __func__, 1);
    return -1;
  }
  int fd = -1;
  for (int attempt = 1; attempt == 1 || attempt <= tries; attempt++) {
    if (access(path, F_OK) == 0) {
      LOGI("device \"%s\" is ready.", path);
      platformSleepUs(kOpenSettleUs);
      fd = open(path, flags);
      if (fd > 0) return fd;
      LOGE("(%d/%d)open device \"%s\" fail: %d - %s", attempt, tries, path, errno, strerror(errno));
    } else {
      LOGE("(%d/%d)access device \"%s\" fail: %d - %s", attempt, tries, path, errno,
           strerror(errno));
    }
    platformSleepUs(kOpenRetryUs);
  }
  return fd;
}

void openLine(ModemLink& link) {
  char path[kFilePathSize];
  devicePath(path);
  link.fd = tryOpenDevice(path, kOpenFlags, kOpenAttempts);
  link.lineLost = false;
  if (!link.isOpen()) return;
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
  if (writeCommand(link, cmd) != 0) return -1;
  Deadline deadline;
  platformClockRealtime(&deadline.wallStart);
  platformClockMonotonic(&deadline.start);
  logAtTraffic(">> ", cmd, link.currentStandby);
  // Unsolicited text that followed a late answer is read as this exchange's beginning.
  copyText(resp.text, link.carried);
  int fill = static_cast<int>(strlen(resp.text));
  link.carried[0] = '\0';
  char tail[kCodeTail + 1] = {};
  for (;;) {
    char chunk[AT_CHUNK_SIZE];
    if (waitExchangeChunk(link, deadline) < 0) return -1;
    ssize_t n = readChunk(link, chunk);
    if (n < 0) return -1;
    logAtTraffic("<< ", chunk, link.currentStandby);
    // A chunk that does not fit is dropped whole; a later, smaller one may still fit.
    if (fill + n < kExchangeResponseSize) {
      copyText(resp.text + fill, n + 1, chunk, n);
      fill += n;
    }
    // The design's rule tests each chunk alone; a code split between two reads counts as well.
    if (isFinalReponse(chunk) || finalCodeAcrossReads(tail, chunk)) return 0;
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
  if (link.lineLost && link.isOpen()) reopenLine(link);
  // The command and the flag are always given; only the channel can be missing.
  if (!link.isOpen()) {
    LOGE("%s() parameter error: %d, %d, %d", __func__, 1, 0, 0);
    return {-1, false};
  }
  AtResponse resp;  // filled by the exchange
  AtOutcome outcome = exchangeOk(link, cmd, resp);
  // A line lost during this exchange is opened again and the command sent once more.
  if (link.lineLost && reopenLine(link)) outcome = exchangeOk(link, cmd, resp);
  if (out != nullptr) memcpy(out->text, resp.text, strlen(resp.text));
  return outcome;
}

int writeAtCommand(ModemLink& link, const char* cmd) {
  int result = writeWhenWritable(link, cmd);
  logAtTraffic(">> ", cmd, link.currentStandby);
  return result;
}

int readAtWithTimeout(ModemLink& link, char* chunk, int seconds) {
  if (!link.isOpen()) {
    LOGE("invalid fd");
    return -1;
  }
  timeval limit = {seconds, 0};
  for (;;) {
    timespec start, now;
    platformClockRealtime(&start);
    int ready = selectReadable(link.fd, &limit);
    if (ready < 0) return -1;
    if (ready > 0) break;
    platformClockRealtime(&now);
    if (now.tv_sec > start.tv_sec) {
      logReadTimeOut(start, now);
      return -1;
    }
    // Select leaves no time on Linux: wait out the current second instead of spinning.
    limit = toTimeval((kNsPerSec - now.tv_nsec + 999) / 1000);
  }
  ssize_t n = readChunk(link, chunk);
  if (n < 0) return -1;
  if (n == 0) {
    LOGE("read() fail: end of file");
    return -1;
  }
  logAtTraffic("<< ", chunk, link.currentStandby);
  return 0;
}

void logAtTraffic(const char* prefix, const char* text, int standby) {
  char display[kDisplaySize] = {};
  int length = 0;
  for (const char* p = text; *p != '\0' && length <= kDisplayCut; p++) {
    const char* shown = *p == '\r' ? "<CR>" : *p == '\n' ? "<LF>" : nullptr;
    if (shown == nullptr) {
      display[length++] = *p;
    } else {
      memcpy(display + length, shown, 4);
      length += 4;
    }
  }
  LOGD("[%d]%s%.*s", standby, prefix, length, display);
}
