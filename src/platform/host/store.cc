// Host backend, properties: <root>/properties holds sorted name=value lines; a write replaces the
// file whole (temporary file, rename) under an exclusive flock on <root>/properties.lock (0600,
// had within 1 s or the write is refused). Init's control properties append to <root>/init.log
// instead.
#include "platform/host/store.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/platform.h"
#include "platform/text.h"

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

struct RefusalText {
  hoststore::Refusal refusal;
  const char* text;
};
constexpr RefusalText kRefusalTexts[] = {
    {hoststore::Refusal::kAccepted, "accepted"},
    {hoststore::Refusal::kEmptyName, "empty name"},
    {hoststore::Refusal::kBadName, "name holds '=' or a line break"},
    {hoststore::Refusal::kNameTooLong, "name longer than 256 bytes"},
    {hoststore::Refusal::kBadValue, "value holds a line break"},
    {hoststore::Refusal::kValueTooLong, "value longer than 91 bytes"},
    {hoststore::Refusal::kReadOnly, "read-only property already set"},
    {hoststore::Refusal::kListed, "listed in properties.refuse"},
    {hoststore::Refusal::kUnknownControl, "not a known control command with a service"},
    {hoststore::Refusal::kNoRoot, "the root or its store cannot be used"},
    {hoststore::Refusal::kLockBusy, "the store's lock is held by another process (1 s)"},
};

bool rootPath(const char* root, const char* relative, char* out, size_t size) {
  int n = snprintf(out, size, "%s%s", root, relative);
  return n >= 0 && static_cast<size_t>(n) < size;
}

// One line of a store file without its newline, by length: a NUL byte in it is kept as any other
// byte, so it neither ends the line early nor takes the next one with it.
struct StoreLine {
  char text[kLineSize];
  size_t length;
};

// A store file read a block at a time and split at '\n' by length, so that a NUL byte is kept
// like any other: the store is read whole at every property get.
struct LineReader {
  // The block is the buffer: stdio's own would be one more copy and one more allocation.
  explicit LineReader(FILE* opened) : file(opened) {
    if (file != nullptr) setvbuf(file, nullptr, _IONBF, 0);
  }
  FILE* file;
  char block[kLineSize];
  size_t start = 0, end = 0;
};

// The bytes up to the next '\n' (not kept) or the end of the file; false when none were left.
// tooLong when they did not fit in line.
bool nextLine(LineReader& in, StoreLine& line, bool& tooLong) {
  line.length = 0;
  tooLong = false;
  for (bool any = false;; any = true) {
    if (in.start == in.end) {
      in.start = 0;
      in.end = fread(in.block, 1, sizeof in.block, in.file);
      if (in.end == 0) return any;
    }
    const char* from = in.block + in.start;
    const char* newline = static_cast<const char*>(memchr(from, '\n', in.end - in.start));
    size_t take = newline != nullptr ? static_cast<size_t>(newline - from) : in.end - in.start;
    if (line.length + take <= sizeof line.text) {
      memcpy(line.text + line.length, from, take);
      line.length += take;
    } else {
      tooLong = true;
    }
    in.start += take;
    if (newline != nullptr) {
      in.start++;
      return true;
    }
  }
}

// Reads the next line; lines longer than the buffer are skipped whole. False at end of file.
bool readLine(LineReader& in, StoreLine& line) {
  bool tooLong;
  while (nextLine(in, line, tooLong)) {
    if (!tooLong) return true;
  }
  return false;
}

// The name of a store line is everything before its first '='; lines without one are ignored.
bool lineName(const StoreLine& line, size_t* nameLength) {
  const char* eq = static_cast<const char*>(memchr(line.text, '=', line.length));
  if (eq == nullptr) return false;
  *nameLength = static_cast<size_t>(eq - line.text);
  return true;
}

bool nameMatches(const StoreLine& line, size_t nameLength, const char* name) {
  return strlen(name) == nameLength && memcmp(line.text, name, nameLength) == 0;
}

int compareNames(const StoreLine& line, size_t nameLength, const char* name) {
  size_t n = strlen(name);
  int c = memcmp(line.text, name, nameLength < n ? nameLength : n);
  if (c != 0) return c;
  return nameLength < n ? -1 : (nameLength > n ? 1 : 0);
}

bool lineIs(const StoreLine& line, const char* text) {
  return line.length == strlen(text) && memcmp(line.text, text, line.length) == 0;
}

bool fileListsName(const char* root, const char* relative, const char* name) {
  char path[kPathSize];
  if (!rootPath(root, relative, path, sizeof path)) return false;
  FILE* file = openForReading(path);
  if (file == nullptr) return false;
  LineReader in(file);
  StoreLine line;
  bool listed = false;
  while (!listed && readLine(in, line)) listed = lineIs(line, name);
  fclose(file);
  return listed;
}

// Which lines of the old store the new one keeps, and the one line it adds.
struct Rewrite {
  const char* name;   // dropped from the old store; nullptr: nothing dropped or added
  const char* value;  // the added line's value
  bool persistOnly;   // a reboot: only "persist." lines stay
};

bool keepsLine(const Rewrite& rewrite, const StoreLine& line, size_t nameLength) {
  if (rewrite.persistOnly) return line.length >= 8 && memcmp(line.text, "persist.", 8) == 0;
  return rewrite.name == nullptr || !nameMatches(line, nameLength, rewrite.name);
}

// Copies the old store into out, sorted, with the rewrite applied.
bool copyStore(FILE* old, FILE* out, const Rewrite& rewrite) {
  bool added = rewrite.name == nullptr;
  LineReader in(old);
  StoreLine line;
  size_t nameLength;
  while (old != nullptr && readLine(in, line)) {
    if (!lineName(line, &nameLength) || !keepsLine(rewrite, line, nameLength)) continue;
    if (!added && compareNames(line, nameLength, rewrite.name) > 0) {
      if (fprintf(out, "%s=%s\n", rewrite.name, rewrite.value) < 0) return false;
      added = true;
    }
    if (fwrite(line.text, 1, line.length, out) != line.length || putc('\n', out) == EOF) {
      return false;
    }
  }
  return added || fprintf(out, "%s=%s\n", rewrite.name, rewrite.value) > 0;
}

// Only the daemon's user may hold the lock, and nobody holds it for long: a writer holds it for one
// write, so a lock not had within a second is held by something else, and the write is refused
// rather than waited for.
constexpr mode_t kLockMode = 0600;
constexpr int64_t kLockWaitUs = 1000000;
constexpr uint64_t kLockPollUs = 10000;

// The lock file's descriptor, held exclusively; -1 with refusal set when it cannot be had.
int takeLock(const char* root, hoststore::Refusal* refusal) {
  char lockPath[kPathSize];
  *refusal = hoststore::Refusal::kNoRoot;
  if (!rootPath(root, "/properties.lock", lockPath, sizeof lockPath)) return -1;
  int fd = open(lockPath, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, kLockMode);
  struct stat info;
  if (fd < 0) return -1;
  // A lock file left readable by an older store is closed to others from now on.
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      ((info.st_mode & 07777) != kLockMode && fchmod(fd, kLockMode) != 0)) {
    close(fd);
    return -1;
  }
  timespec start, now;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (usBetween(start, now) >= kLockWaitUs) {
      *refusal = hoststore::Refusal::kLockBusy;
      break;
    }
    usleep(kLockPollUs);
  }
  int error = errno;
  close(fd);
  errno = error;
  return -1;
}

// Replaces the store whole; the caller holds the lock. readOnlyOnce refuses the write when the
// name is already stored.
hoststore::Refusal replaceLockedStore(const char* root, const Rewrite& rewrite, bool readOnlyOnce) {
  using hoststore::Refusal;
  char storePath[kPathSize], tempPath[kPathSize];
  if (!rootPath(root, "/properties", storePath, sizeof storePath) ||
      !rootPath(root, "/properties.tmp", tempPath, sizeof tempPath)) {
    return Refusal::kNoRoot;
  }
  char ignored[2];
  if (readOnlyOnce && hoststore::get(root, rewrite.name, ignored, sizeof ignored)) {
    return Refusal::kReadOnly;
  }
  // One name for every writer: the lock serializes them, and what a writer killed before its
  // rename left behind is removed by the next one instead of staying for ever.
  unlink(tempPath);
  int tempFd = open(tempPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  FILE* out = tempFd < 0 ? nullptr : fdopen(tempFd, "w");
  FILE* in = openForReading(storePath);
  // The rename makes the replacement atomic for readers; the host store needs no fsync.
  bool ok = out != nullptr && copyStore(in, out, rewrite) && fflush(out) == 0;
  if (out != nullptr && fclose(out) != 0) ok = false;
  if (out == nullptr && tempFd >= 0) close(tempFd);
  if (in != nullptr) fclose(in);
  if (ok && rename(tempPath, storePath) == 0) return Refusal::kAccepted;
  if (tempFd >= 0) unlink(tempPath);
  return Refusal::kNoRoot;
}

hoststore::Refusal replaceStore(const char* root, const Rewrite& rewrite, bool readOnlyOnce) {
  hoststore::Refusal refusal;
  int lockFd = takeLock(root, &refusal);
  if (lockFd < 0) return refusal;
  refusal = replaceLockedStore(root, rewrite, readOnlyOnce);
  close(lockFd);
  return refusal;
}

// init's log line and the service's state, under the store's lock, so that a refused command
// leaves neither.
hoststore::Refusal runControlCommand(const char* root, const ControlCommand& command,
                                     const char* service) {
  using hoststore::Refusal;
  if (service[0] == '\0') return Refusal::kUnknownControl;
  char path[kPathSize], line[kLineSize], stateName[kLineSize];
  if (!rootPath(root, "/init.log", path, sizeof path)) return Refusal::kNoRoot;
  Refusal refusal;
  int lockFd = takeLock(root, &refusal);
  if (lockFd < 0) return refusal;
  // Non-blocking: a FIFO planted there must not hold the property service.
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  int length = snprintf(line, sizeof line, "%s %s\n", command.initVerb, service);
  bool logged = fd >= 0 && writeAll(fd, line, static_cast<size_t>(length));
  if (fd >= 0) close(fd);
  snprintf(stateName, sizeof stateName, "init.svc.%s", service);
  refusal = logged ? replaceLockedStore(root, {stateName, command.serviceState, false}, false)
                   : Refusal::kNoRoot;
  close(lockFd);
  return refusal;
}

hoststore::Refusal checkNameAndValue(const char* name, const char* value) {
  using hoststore::Refusal;
  if (name[0] == '\0') return Refusal::kEmptyName;
  if (strpbrk(name, "=\n") != nullptr) return Refusal::kBadName;
  if (strlen(name) > hoststore::kMaxNameLength) return Refusal::kNameTooLong;
  if (strchr(value, '\n') != nullptr) return Refusal::kBadValue;
  if (strlen(value) > kMaxValueLength) return Refusal::kValueTooLong;
  return Refusal::kAccepted;
}

}  // namespace

namespace hoststore {

const char* refusalText(Refusal refusal) {
  for (const RefusalText& row : kRefusalTexts) {
    if (row.refusal == refusal) return row.text;
  }
  return "refused";
}

bool get(const char* root, const char* name, char* value, size_t size) {
  char path[kPathSize];
  if (!rootPath(root, "/properties", path, sizeof path)) return false;
  FILE* file = openForReading(path);
  if (file == nullptr) return false;
  LineReader in(file);
  StoreLine line;
  bool found = false;
  size_t nameLength;
  while (!found && readLine(in, line)) {
    if (!lineName(line, &nameLength) || !nameMatches(line, nameLength, name)) continue;
    copyText(value, size, line.text + nameLength + 1, line.length - nameLength - 1);
    found = true;
  }
  fclose(file);
  return found;
}

bool forEachLine(const char* root, LineVisitor visit, void* context) {
  char path[kPathSize];
  if (!rootPath(root, "/properties", path, sizeof path)) return false;
  FILE* file = openForReading(path);
  if (file == nullptr) return errno == ENOENT;
  LineReader in(file);
  StoreLine line;
  size_t nameLength = 0;
  for (int number = 1; readLine(in, line); number++) {
    bool named = lineName(line, &nameLength);
    visit(context, number, line.text, line.length, named ? nameLength : kNotAProperty);
  }
  bool readable = !ferror(file);
  fclose(file);
  return readable;
}

Refusal set(const char* root, const char* name, const char* value) {
  Refusal refusal = checkNameAndValue(name, value);
  if (refusal != Refusal::kAccepted) return refusal;
  if (fileListsName(root, "/properties.refuse", name)) return Refusal::kListed;
  if (strncmp(name, "ctl.", 4) == 0) {
    for (const ControlCommand& command : kControlCommands) {
      if (strcmp(name, command.property) == 0) return runControlCommand(root, command, value);
    }
    return Refusal::kUnknownControl;
  }
  return replaceStore(root, {name, value, false}, strncmp(name, "ro.", 3) == 0);
}

bool reboot(const char* root) {
  char path[kPathSize];
  if (replaceStore(root, {nullptr, nullptr, true}, false) != Refusal::kAccepted) return false;
  if (rootPath(root, "/init.log", path, sizeof path)) unlink(path);
  return true;
}

}  // namespace hoststore
