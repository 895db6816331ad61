// Host backend, radio log: every line to standard error in logcat's brief format
// ("D/modemprep( 4242): ..."), or its threadtime format when MODEMPREP_LOG_FORMAT=threadtime, so
// that host logs carry time the way phone logs do.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

constexpr size_t kLineSize = 1200;
constexpr char kLetters[] = "??VDIWEF";

struct LogSetup {
  int pid;
  int tid;
  bool threadtime;
};

// Read once: the daemon never forks and has one thread.
const LogSetup& logSetup() {
  static const LogSetup setup = [] {
    const char* format = getenv("MODEMPREP_LOG_FORMAT");
    return LogSetup{static_cast<int>(getpid()), static_cast<int>(syscall(SYS_gettid)),
                    format != nullptr && strcmp(format, "threadtime") == 0};
  }();
  return setup;
}

// The prefix of every line of one message; its length.
int linePrefix(char letter, char* out, size_t size) {
  const LogSetup& setup = logSetup();
  if (!setup.threadtime) return snprintf(out, size, "%c/%s(%5d): ", letter, kLogTag, setup.pid);
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm local;
  localtime_r(&now.tv_sec, &local);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%m-%d %H:%M:%S", &local);
  return snprintf(out, size, "%s.%03ld %5d %5d %c %-8s: ", stamp, now.tv_nsec / 1000000, setup.pid,
                  setup.tid, letter, kLogTag);
}

void writeAll(const char* text, size_t length) {
  while (length > 0) {
    ssize_t n = write(STDERR_FILENO, text, length);
    if (n <= 0) return;
    text += n;
    length -= static_cast<size_t>(n);
  }
}

}  // namespace

void platformLogWrite(int priority, const char* message) {
  char letter = priority >= 2 && priority <= 7 ? kLetters[priority] : '?';
  char prefix[96];
  int prefixLength = linePrefix(letter, prefix, sizeof prefix);
  size_t length = strlen(message);
  if (length > 0 && message[length - 1] == '\n') length--;
  const char* line = message;
  const char* end = message + length;
  for (;;) {
    const char* newline = static_cast<const char*>(memchr(line, '\n', end - line));
    const char* lineEnd = newline == nullptr ? end : newline;
    char out[kLineSize];
    int n = snprintf(out, sizeof out, "%.*s%.*s\n", prefixLength, prefix,
                     static_cast<int>(lineEnd - line), line);
    if (n > 0) writeAll(out, n < static_cast<int>(sizeof out) ? n : sizeof out - 1);
    if (newline == nullptr) break;
    line = newline + 1;
  }
}
