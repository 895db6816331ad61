// The modem's line: opening the device node, raw reads and writes, and a hang-up noticed.
#include "modem/line.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/select.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/log_lines.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

constexpr uint64_t kOpenSettleUs = 500000;
constexpr uint64_t kOpenRetryUs = 1000000;
constexpr int kOpenAttempts = 100;
// Never the daemon's controlling terminal: a hang-up of the line (a modem reset re-enumerates the
// node) must not end the process.
constexpr int kOpenFlags = O_RDWR | O_NOCTTY | O_CLOEXEC;

// A hung-up or vanished line: end of file, or an error only a dead device gives.
bool lineGone(ssize_t result, int error) {
  return result == 0 || (result < 0 && (error == EIO || error == ENXIO || error == ENODEV));
}

// The channel's device node, where the platform keeps it; "" when the path does not fit, which
// tryOpenDevice refuses with its own message.
void devicePath(char (&path)[kFilePathSize]) {
  if (platformPath(kModemDevicePath, path, sizeof path) != 0) path[0] = '\0';
}

bool openNode(ModemLine& line) {
  char path[kFilePathSize];
  devicePath(path);
  line.fd = tryOpenDevice(path, kOpenFlags, kOpenAttempts);
  line.lost = false;
  line.state = line.fd > 0 ? LineState::kOpen : LineState::kNeverOpened;
  return line.state == LineState::kOpen;
}

// Drops the NUL bytes of the first n bytes of text in place; the length left.
size_t dropNuls(char* text, size_t n) {
  size_t kept = 0;
  for (size_t i = 0; i < n; i++) {
    if (text[i] != '\0') text[kept++] = text[i];
  }
  text[kept] = '\0';
  return kept;
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
      LOGI(logline::kDeviceReady, path);
      platformSleepUs(kOpenSettleUs);
      fd = open(path, flags);
      if (fd > 0) return fd;
      LOGE(logline::kDeviceOpenFailed, attempt, tries, path, errno, strerror(errno));
    } else {
      LOGE(logline::kDeviceAbsent, attempt, tries, path, errno, strerror(errno));
    }
    platformSleepUs(kOpenRetryUs);
  }
  return fd;
}

bool openLine(ModemLine& line) { return openNode(line); }

void closeLine(ModemLine& line) {
  if (line.state != LineState::kOpen) return;
  close(line.fd);
  line.fd = -1;
  line.state = LineState::kClosed;
  // A hang-up does not outlive the channel.
  line.lost = false;
}

bool reopenLine(ModemLine& line) {
  char path[kFilePathSize];
  devicePath(path);
  LOGE(logline::kLineLost, path);
  close(line.fd);
  line.reopens++;
  return openNode(line);
}

int waitReadable(ModemLine& line, int64_t limitUs) {
  fd_set readSet;
  FD_ZERO(&readSet);
  FD_SET(line.fd, &readSet);
  timeval limit = toTimeval(limitUs > 0 ? limitUs : 0);
  int ready = platformSelect(line.fd + 1, &readSet, nullptr, &limit);
  if (ready < 0) {
    LOGE("select() fail: %d - %s", errno, strerror(errno));
    return -1;
  }
  if (ready == 0) return 0;
  if (!FD_ISSET(line.fd, &readSet)) {
    LOGE("select OK, but fd is not ready");
    return -1;
  }
  return 1;
}

int writableNow(ModemLine& line) {
  fd_set writeSet;
  FD_ZERO(&writeSet);
  FD_SET(line.fd, &writeSet);
  timeval noWait = {0, 0};
  int ready = platformSelect(line.fd + 1, nullptr, &writeSet, &noWait);
  if (ready < 0) {
    LOGE("select() fail: %d - %s", errno, strerror(errno));
    return -1;
  }
  if (ready == 0) {
    LOGE("Can not write");
    return 0;
  }
  return FD_ISSET(line.fd, &writeSet) ? 1 : 0;
}

ssize_t readChunk(ModemLine& line, Chunk& chunk) {
  ssize_t n = read(line.fd, chunk.text, AT_CHUNK_SIZE - 1);
  int error = errno;
  if (n < 0) LOGE("read() fail: %d - %s", error, strerror(error));
  if (lineGone(n, error)) line.lost = true;
  chunk.read = n > 0 ? static_cast<size_t>(n) : 0;
  chunk.length = dropNuls(chunk.text, chunk.read);
  return n;
}

int writeCommand(ModemLine& line, const char* cmd) {
  int length = static_cast<int>(strlen(cmd));
  ssize_t written = write(line.fd, cmd, length);
  if (written < 0) {
    int error = errno;
    LOGE("write() fail: %d - %s", error, strerror(error));
    if (lineGone(written, error) || error == EPIPE) line.lost = true;
    return -1;
  }
  if (written != length) {
    LOGW("write not completed: to write(%d) != written(%d)", length, static_cast<int>(written));
    return -1;
  }
  return 0;
}
