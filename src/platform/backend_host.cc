// Host backend: runs the daemon on a Linux workstation under a root directory that stands for
// "/" on the phone. Properties live in <root>/properties (sorted name=value lines, replaced
// atomically under a flock), init's control properties append to <root>/init.log, the log goes
// to standard error in logcat's brief format and uevents arrive on a Unix datagram socket.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

constexpr size_t kPathSize = 256;
constexpr size_t kLineSize = 1024;
constexpr size_t kMaxValueLength = PROPERTY_VALUE_SIZE - 1;

struct ControlCommand {
  const char* property;
  const char* initVerb;
  const char* serviceState;
};

constexpr ControlCommand kControlCommands[] = {
    {"ctl.start", "start", "running"},
    {"ctl.restart", "restart", "running"},
    {"ctl.stop", "stop", "stopped"},
};

char g_ueventPath[kPathSize];
int g_logPid = 0;

const char* rootDir() {
  const char* root = getenv("MODEMPREP_ROOT");
  return root == nullptr ? "" : root;
}

bool rootPath(const char* relative, char* out, size_t size) {
  return platformPath(relative, out, size) == 0;
}

// Reads one line into line (without its newline). Lines longer than the buffer are skipped
// whole. Returns false at end of file.
bool readLine(FILE* file, char* line, size_t size) {
  for (;;) {
    if (fgets(line, static_cast<int>(size), file) == nullptr) return false;
    size_t n = strlen(line);
    if (n > 0 && line[n - 1] == '\n') {
      line[n - 1] = '\0';
      return true;
    }
    if (feof(file)) return true;
    int c;
    while ((c = fgetc(file)) != EOF && c != '\n') {
    }
  }
}

// The name of a store line is everything before its first '='; lines without one are ignored.
bool lineName(const char* line, size_t* nameLength) {
  const char* eq = strchr(line, '=');
  if (eq == nullptr) return false;
  *nameLength = static_cast<size_t>(eq - line);
  return true;
}

bool nameMatches(const char* line, size_t nameLength, const char* name) {
  return strlen(name) == nameLength && strncmp(line, name, nameLength) == 0;
}

int compareNames(const char* line, size_t nameLength, const char* name) {
  size_t n = strlen(name);
  int c = strncmp(line, name, nameLength < n ? nameLength : n);
  if (c != 0) return c;
  return nameLength < n ? -1 : (nameLength > n ? 1 : 0);
}

// Finds name in the store; copies its value (bounded) when value is not null.
bool storeLookup(const char* name, char* value, size_t valueSize) {
  char path[kPathSize];
  if (!rootPath("/properties", path, sizeof path)) return false;
  FILE* file = fopen(path, "re");
  if (file == nullptr) return false;
  char line[kLineSize];
  bool found = false;
  size_t nameLength;
  while (!found && readLine(file, line, sizeof line)) {
    if (!lineName(line, &nameLength) || !nameMatches(line, nameLength, name)) continue;
    if (value != nullptr) copyText(value, valueSize, line + nameLength + 1);
    found = true;
  }
  fclose(file);
  return found;
}

bool fileListsName(const char* relative, const char* name) {
  char path[kPathSize];
  if (!rootPath(relative, path, sizeof path)) return false;
  FILE* file = fopen(path, "re");
  if (file == nullptr) return false;
  char line[kLineSize];
  bool listed = false;
  while (!listed && readLine(file, line, sizeof line)) listed = strcmp(line, name) == 0;
  fclose(file);
  return listed;
}

bool writeAll(int fd, const char* text, size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, text, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool writeLine(FILE* out, const char* name, const char* value) {
  return fprintf(out, "%s=%s\n", name, value) > 0;
}

// Copies the old store into out with name=value in its sorted place and any old line of the
// same name dropped.
bool rewriteStore(FILE* in, FILE* out, const char* name, const char* value) {
  bool written = false;
  char line[kLineSize];
  size_t nameLength;
  while (in != nullptr && readLine(in, line, sizeof line)) {
    if (!lineName(line, &nameLength) || nameMatches(line, nameLength, name)) continue;
    if (!written && compareNames(line, nameLength, name) > 0) {
      if (!writeLine(out, name, value)) return false;
      written = true;
    }
    if (fprintf(out, "%s\n", line) < 0) return false;
  }
  return written || writeLine(out, name, value);
}

// Replaces the store whole (temporary file, fsync, rename) under the store lock. readOnlyOnce
// refuses the write when the name is already stored.
int storeWrite(const char* name, const char* value, bool readOnlyOnce) {
  char storePath[kPathSize], lockPath[kPathSize], tempPath[kPathSize + 32];
  if (!rootPath("/properties", storePath, sizeof storePath) ||
      !rootPath("/properties.lock", lockPath, sizeof lockPath)) {
    return -1;
  }
  snprintf(tempPath, sizeof tempPath, "%s.tmp.%d", storePath, static_cast<int>(getpid()));
  int lockFd = open(lockPath, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lockFd < 0) return -1;
  int result = -1;
  if (flock(lockFd, LOCK_EX) == 0 && !(readOnlyOnce && storeLookup(name, nullptr, 0))) {
    FILE* in = fopen(storePath, "re");
    FILE* out = fopen(tempPath, "we");
    // The rename makes the replacement atomic for readers; the host store needs no fsync.
    bool ok = out != nullptr && rewriteStore(in, out, name, value) && fflush(out) == 0;
    if (out != nullptr && fclose(out) != 0) ok = false;
    if (in != nullptr) fclose(in);
    if (ok && rename(tempPath, storePath) == 0) {
      result = 0;
    } else {
      unlink(tempPath);
    }
  }
  close(lockFd);
  return result;
}

int runControlCommand(const ControlCommand& command, const char* service) {
  if (service[0] == '\0') return -1;
  char path[kPathSize], line[kLineSize], stateName[kLineSize];
  if (!rootPath("/init.log", path, sizeof path)) return -1;
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  int length = snprintf(line, sizeof line, "%s %s\n", command.initVerb, service);
  bool logged = writeAll(fd, line, static_cast<size_t>(length));
  close(fd);
  if (!logged) return -1;
  snprintf(stateName, sizeof stateName, "init.svc.%s", service);
  return storeWrite(stateName, command.serviceState, false);
}

bool acceptable(const char* name, const char* value) {
  return name[0] != '\0' && strlen(value) <= kMaxValueLength && strchr(name, '\n') == nullptr &&
         strchr(value, '\n') == nullptr && strchr(name, '=') == nullptr;
}

}  // namespace

int platformPath(const char* path, char* out, size_t size) {
  int n = snprintf(out, size, "%s%s", rootDir(), path);
  return n >= 0 && static_cast<size_t>(n) < size ? 0 : -1;
}

int platformPropertyGet(const char* name, char* value) {
  value[0] = '\0';
  if (!storeLookup(name, value, PROPERTY_VALUE_SIZE)) return 0;
  return static_cast<int>(strlen(value));
}

int platformPropertySet(const char* name, const char* value) {
  if (!acceptable(name, value) || fileListsName("/properties.refuse", name)) return -1;
  if (strncmp(name, "ctl.", 4) == 0) {
    for (const ControlCommand& command : kControlCommands) {
      if (strcmp(name, command.property) == 0) return runControlCommand(command, value);
    }
    return -1;
  }
  return storeWrite(name, value, strncmp(name, "ro.", 3) == 0);
}

void platformLogWrite(int priority, const char* message) {
  static constexpr char kLetters[] = "??VDIWEF";
  char letter = priority >= 2 && priority <= 7 ? kLetters[priority] : '?';
  if (g_logPid == 0) g_logPid = static_cast<int>(getpid());  // the daemon never forks
  int pid = g_logPid;
  size_t length = strlen(message);
  if (length > 0 && message[length - 1] == '\n') length--;
  const char* line = message;
  const char* end = message + length;
  for (;;) {
    const char* newline = static_cast<const char*>(memchr(line, '\n', end - line));
    const char* lineEnd = newline == nullptr ? end : newline;
    char out[kLineSize + 64];
    int n = snprintf(out, sizeof out, "%c/%s(%5d): %.*s\n", letter, kLogTag, pid,
                     static_cast<int>(lineEnd - line), line);
    if (n > 0) writeAll(STDERR_FILENO, out, n < static_cast<int>(sizeof out) ? n : sizeof out - 1);
    if (newline == nullptr) break;
    line = newline + 1;
  }
}

int platformUeventOpen(int receiveBufferSize, bool passCredentials) {
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (!rootPath("/dev/uevent.sock", g_ueventPath, sizeof g_ueventPath) ||
      strlen(g_ueventPath) >= sizeof address.sun_path) {
    return -1;
  }
  copyText(address.sun_path, g_ueventPath);
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int on = passCredentials ? 1 : 0;
  unlink(g_ueventPath);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferSize, sizeof receiveBufferSize);
  setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
  return fd;
}

int platformUeventReceive(int fd, char* buffer, size_t length) {
  ssize_t n;
  do {
    n = recv(fd, buffer, length, 0);
  } while (n < 0 && errno == EINTR);
  return static_cast<int>(n);
}

void platformUeventClose(int fd) {
  close(fd);
  unlink(g_ueventPath);
}
