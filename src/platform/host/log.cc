// Host backend, radio log: every line to standard error in logcat's brief format
// ("D/modemprep( 4242): ..."), or its threadtime format when MODEMPREP_LOG_FORMAT=threadtime, so
// that host logs carry time the way phone logs do.
#include "platform/host/log.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

constexpr size_t kLineSize = 1200;
constexpr char kLetters[] = "??VDIWEF";

struct LogSetup {
  bool known;
  int pid;
  int tid;
  bool threadtime;
  char briefTail[32];  // what follows the priority letter in brief: "/modemprep( 4242): "
  size_t briefTailLength;
};

// Read at the first line: the daemon never forks and has one thread.
LogSetup g_setup;

const LogSetup& logSetup() {
  if (!g_setup.known) {
    const char* format = getenv(kLogFormatVariable);
    g_setup.known = true;
    g_setup.pid = static_cast<int>(getpid());
    g_setup.tid = static_cast<int>(syscall(SYS_gettid));
    g_setup.threadtime = format != nullptr && strcmp(format, "threadtime") == 0;
    int n =
        snprintf(g_setup.briefTail, sizeof g_setup.briefTail, "/%s(%5d): ", kLogTag, g_setup.pid);
    g_setup.briefTailLength = n > 0 ? static_cast<size_t>(n) : 0;
  }
  return g_setup;
}

// The prefix of every line of one message; its length.
size_t linePrefix(char letter, char* out, size_t size) {
  const LogSetup& setup = logSetup();
  if (!setup.threadtime) {
    out[0] = letter;
    memcpy(out + 1, setup.briefTail, setup.briefTailLength);
    return setup.briefTailLength + 1;
  }
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm local;
  localtime_r(&now.tv_sec, &local);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%m-%d %H:%M:%S", &local);
  int n = snprintf(out, size, "%s.%03ld %5d %5d %c %-8s: ", stamp, now.tv_nsec / 1000000, setup.pid,
                   setup.tid, letter, kLogTag);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

}  // namespace

bool hostLogFormatKnown(const char* value) {
  return value == nullptr || value[0] == '\0' || strcmp(value, "brief") == 0 ||
         strcmp(value, "threadtime") == 0;
}

void platformLogWrite(int priority, const char* message) {
  char letter = priority >= 2 && priority <= 7 ? kLetters[priority] : '?';
  char line[kLineSize];
  size_t prefixLength = linePrefix(letter, line, sizeof line);
  size_t length = strlen(message);
  if (length > 0 && message[length - 1] == '\n') length--;
  const char* text = message;
  const char* end = message + length;
  for (;;) {
    const char* newline = static_cast<const char*>(memchr(text, '\n', end - text));
    size_t textLength = (newline == nullptr ? end : newline) - text;
    if (textLength > sizeof line - prefixLength - 1) textLength = sizeof line - prefixLength - 1;
    memcpy(line + prefixLength, text, textLength);
    line[prefixLength + textLength] = '\n';
    writeAll(STDERR_FILENO, line, prefixLength + textLength + 1);
    if (newline == nullptr) break;
    text = newline + 1;
  }
}
