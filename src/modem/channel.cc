// The AT channel: opening the device node, synchronous exchanges and the traffic log.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/select.h>
#include <unistd.h>

#include "modem/modem.h"
#include "platform/platform.h"

int modemFd = -1;
int g_currentStandby = -1;

namespace {

// Texts that end an exchange, tested in this order; the last one catches an ERROR whose line end
// falls into the next chunk.
constexpr const char* kFinalResultCodes[] = {
    "\r\nCONNECT\r\n",     "\r\nOK\r\n",    "\r\nBUSY\r\n",       "\r\n+CMS ERROR: ",
    "\r\n+CME ERROR: ",    "\r\nERROR\r\n", "\r\nNO CARRIER\r\n", "\r\nNO ANSWER\r\n",
    "\r\nNO DIALTONE\r\n", "\r\nERROR",
};

constexpr char kOkLine[] = "\r\nOK\r\n";
constexpr int kOkResponseSize = 255;  // sendAtSyncOk's own response buffer
constexpr int kDisplaySize = 256;     // traffic display; one log line per call
constexpr int kDisplayCut = 249;      // display length past which the rest is not shown
constexpr uint64_t kOpenSettleUs = 500000;
constexpr uint64_t kOpenRetryUs = 1000000;
constexpr long kNsPerSec = 1000000000L;
constexpr long kUsPerSec = 1000000L;
// A late answer to a timed-out exchange is read off before the next command: until the modem has
// been quiet this long, and never longer than the bound in all.
constexpr long kDrainQuietUs = 100000;
constexpr long kDrainBoundUs = 1000000;

// Set when an exchange timed out: the modem may still deliver that answer.
bool g_channelStale = false;

long usBetween(const timespec& from, const timespec& to) {
  return (to.tv_sec - from.tv_sec) * kUsPerSec + (to.tv_nsec - from.tv_nsec) / 1000;
}

timeval toTimeval(long us) {
  timeval tv;
  tv.tv_sec = us / kUsPerSec;
  tv.tv_usec = us % kUsPerSec;
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

// Reads one chunk into a zeroed AT_CHUNK_SIZE buffer; the byte count, or -1 (logged).
ssize_t readChunk(int fd, char* chunk) {
  memset(chunk, 0, AT_CHUNK_SIZE);
  ssize_t n = read(fd, chunk, AT_CHUNK_SIZE - 1);
  if (n < 0) LOGE("read() fail: %d - %s", errno, strerror(errno));
  return n;
}

// One write call; a partial write is not continued.
int writeCommand(int fd, const char* cmd) {
  int length = static_cast<int>(strlen(cmd));
  ssize_t written = write(fd, cmd, length);
  if (written < 0) {
    LOGE("write() fail: %d - %s", errno, strerror(errno));
    return -1;
  }
  if (written != length) {
    LOGW("write not completed: to write(%d) != written(%d)", length, static_cast<int>(written));
    return -1;
  }
  return 0;
}

// After a timed-out exchange, reads off whatever the modem still sends so that the next command
// does not take a late answer for its own.
void drainIfStale(int fd) {
  if (!g_channelStale) return;
  g_channelStale = false;
  timespec start, now;
  platformClockRealtime(&start);
  for (now = start; usBetween(start, now) < kDrainBoundUs; platformClockRealtime(&now)) {
    timeval quiet = toTimeval(kDrainQuietUs);
    char chunk[AT_CHUNK_SIZE];
    if (selectReadable(fd, &quiet) <= 0 || readChunk(fd, chunk) <= 0) return;
    logAtTraffic("<< ", chunk, getCurrentStandby());
  }
}

// Waits for the next chunk of an exchange until the deadline; 1 readable, -1 otherwise (logged).
int waitExchangeChunk(int fd, const timespec& start) {
  for (;;) {
    timespec now;
    platformClockRealtime(&now);
    long leftUs = AT_EXCHANGE_TIMEOUT_S * kUsPerSec - usBetween(start, now);
    if (leftUs <= 0) {
      logReadTimeOut(start, now);
      g_channelStale = true;
      return -1;
    }
    timeval limit = toTimeval(leftUs);
    int ready = selectReadable(fd, &limit);
    if (ready != 0) return ready;
  }
}

int writeWhenWritable(int fd, const char* cmd) {
  if (fd <= 0) {
    LOGE("invalid fd");
    return -1;
  }
  drainIfStale(fd);
  fd_set writeSet;
  FD_ZERO(&writeSet);
  FD_SET(fd, &writeSet);
  timeval noWait = {0, 0};
  int ready = platformSelect(fd + 1, nullptr, &writeSet, &noWait);
  if (ready < 0) {
    LOGE("select() fail: %d - %s", errno, strerror(errno));
    return -1;
  }
  if (ready == 0) {
    LOGE("Can not write");
    return -1;
  }
  if (!FD_ISSET(fd, &writeSet)) return -1;
  return writeCommand(fd, cmd);
}

}  // namespace

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

int sendAtSync(int fd, const char* cmd, char* resp, int size) {
  if (fd <= 0 || cmd == nullptr || resp == nullptr || size <= 0) {
    LOGE("%s() parameter error: %d, %d, %d, %d", __func__, fd <= 0, cmd == nullptr, resp == nullptr,
         size <= 0);
    return -1;
  }
  if (cmd[0] == '\0') {
    LOGE("%s() parameter error: %d", __func__, 1);
    return -1;
  }
  drainIfStale(fd);
  if (writeCommand(fd, cmd) != 0) {
    memset(resp, 0, size);
    return -1;
  }
  timespec start;
  platformClockRealtime(&start);
  logAtTraffic(">> ", cmd, getCurrentStandby());
  memset(resp, 0, size);
  int fill = 0;
  for (;;) {
    char chunk[AT_CHUNK_SIZE];
    if (waitExchangeChunk(fd, start) < 0) return -1;
    ssize_t n = readChunk(fd, chunk);
    if (n < 0) return -1;
    logAtTraffic("<< ", chunk, getCurrentStandby());
    // A chunk that does not fit is dropped whole; a later, smaller one may still fit.
    if (fill + n < size) {
      copyText(resp + fill, n + 1, chunk, n);
      fill += n;
    }
    if (isFinalReponse(chunk)) return 0;
  }
}

bool isFinalReponse(const char* chunk) {
  if (chunk == nullptr || chunk[0] == '\0') {
    LOGE("%s() parameter error: %d", __func__, 1);
    return true;
  }
  for (const char* code : kFinalResultCodes) {
    if (strstr(chunk, code) != nullptr) return true;
  }
  return false;
}

int sendAtSyncOk(int fd, const char* cmd, int* isOk, char* out, int outLen) {
  if (fd <= 0 || cmd == nullptr || isOk == nullptr) {
    LOGE("%s() parameter error: %d, %d, %d", __func__, fd <= 0, cmd == nullptr, isOk == nullptr);
    return -1;
  }
  if (cmd[0] == '\0') {
    LOGE("%s() parameter error: %d", __func__, 1);
    return -1;
  }
  *isOk = 0;
  char resp[kOkResponseSize] = {};
  int result = sendAtSync(fd, cmd, resp, kOkResponseSize);
  // Judged on the whole gathered text, so an OK split over two reads counts.
  if (strstr(resp, kOkLine) != nullptr) *isOk = 1;
  if (out != nullptr && outLen > 0) {
    size_t length = strlen(resp);
    memcpy(out, resp, length < static_cast<size_t>(outLen) ? length : outLen);
  }
  return result;
}

int writeAtCommand(int fd, const char* cmd) {
  if (cmd == nullptr) {
    LOGE("%s() parameter error: %d", __func__, 1);
    return -1;
  }
  int result = writeWhenWritable(fd, cmd);
  logAtTraffic(">> ", cmd, getCurrentStandby());
  return result;
}

int readAtWithTimeout(int fd, char* chunk, int seconds) {
  if (fd <= 0) {
    LOGE("invalid fd");
    return -1;
  }
  timeval limit = {seconds, 0};
  for (;;) {
    timespec start, now;
    platformClockRealtime(&start);
    int ready = selectReadable(fd, &limit);
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
  ssize_t n = readChunk(fd, chunk);
  if (n < 0) return -1;
  if (n == 0) {
    LOGE("read() fail: end of file");
    return -1;
  }
  logAtTraffic("<< ", chunk, getCurrentStandby());
  return 0;
}

void logAtTraffic(const char* prefix, const char* text, int standby) {
  if (text == nullptr) return;
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
  LOGD("[%d]%s%.*s", standby, prefix != nullptr ? prefix : "", length, display);
}

int getCurrentStandby() { return g_currentStandby; }

void forgetTimedOutExchange() { g_channelStale = false; }
