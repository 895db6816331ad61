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
// byte, so it neither ends the line early nor takes the next one with it. A line longer than the
// buffer is held by its head; the rest is left in the file, where the copy streams it from.
struct StoreLine {
  char text[kLineSize];
  size_t length;      // bytes in text
  size_t fullLength;  // bytes of the whole line
  size_t nameLength;  // bytes before the first '=', also past the head; kNotAProperty: none
  off_t start;        // where the line begins in the file
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
  off_t blockStart = 0;  // where block[0] lies in the file
};

// Hands the bytes of the current line, a piece at a time, to take(piece, length) up to and
// without the '\n' (consumed) or the end of the file; false when the file had no bytes left.
template <typename Take>
bool eachPiece(LineReader& in, Take take) {
  for (bool any = false;; any = true) {
    if (in.start == in.end) {
      in.blockStart += static_cast<off_t>(in.end);
      in.start = 0;
      in.end = fread(in.block, 1, sizeof in.block, in.file);
      if (in.end == 0) return any;
    }
    const char* from = in.block + in.start;
    const char* newline = static_cast<const char*>(memchr(from, '\n', in.end - in.start));
    size_t length = newline != nullptr ? static_cast<size_t>(newline - from) : in.end - in.start;
    in.start += length + (newline != nullptr ? 1 : 0);
    if (!take(from, length)) return true;
    if (newline != nullptr) return true;
  }
}

// Reads the next line, its head into line.text and its name's length from the whole line. False
// at the end of the file.
bool readLine(LineReader& in, StoreLine& line) {
  line.length = line.fullLength = 0;
  line.nameLength = hoststore::kNotAProperty;
  line.start = in.blockStart + static_cast<off_t>(in.start);
  return eachPiece(in, [&line](const char* piece, size_t length) {
    const char* eq = static_cast<const char*>(memchr(piece, '=', length));
    if (eq != nullptr && line.nameLength == hoststore::kNotAProperty) {
      line.nameLength = line.fullLength + static_cast<size_t>(eq - piece);
    }
    size_t kept = length < sizeof line.text - line.length ? length : sizeof line.text - line.length;
    memcpy(line.text + line.length, piece, kept);
    line.length += kept;
    line.fullLength += length;
    return true;
  });
}

// Writes line whole to out: from its head, or, when it did not fit, again from the file.
bool copyLine(LineReader& in, const StoreLine& line, FILE* out) {
  if (line.length == line.fullLength) {
    return fwrite(line.text, 1, line.length, out) == line.length && putc('\n', out) != EOF;
  }
  off_t resume = in.blockStart + static_cast<off_t>(in.start);
  if (fseeko(in.file, line.start, SEEK_SET) != 0) return false;
  in.start = in.end = 0;
  in.blockStart = line.start;
  bool written = true;
  eachPiece(in, [out, &written](const char* piece, size_t length) {
    written = fwrite(piece, 1, length, out) == length;
    return written;
  });
  if (!written || putc('\n', out) == EOF || fseeko(in.file, resume, SEEK_SET) != 0) return false;
  in.start = in.end = 0;
  in.blockStart = resume;
  return true;
}

// The bytes of the line's name its head holds: all of it unless the name is longer than the head.
size_t nameHead(const StoreLine& line) {
  return line.nameLength < line.length ? line.nameLength : line.length;
}

bool nameMatches(const StoreLine& line, const char* name) {
  return strlen(name) == line.nameLength && line.nameLength < line.length &&
         memcmp(line.text, name, line.nameLength) == 0;
}

int compareNames(const StoreLine& line, const char* name) {
  size_t n = strlen(name), shown = nameHead(line);
  int c = memcmp(line.text, name, shown < n ? shown : n);
  if (c != 0) return c;
  return line.nameLength < n ? -1 : (line.nameLength > n ? 1 : 0);
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

bool keepsLine(const Rewrite& rewrite, const StoreLine& line) {
  if (line.nameLength == hoststore::kNotAProperty) return false;
  if (rewrite.persistOnly) return line.length >= 8 && memcmp(line.text, "persist.", 8) == 0;
  return rewrite.name == nullptr || !nameMatches(line, rewrite.name);
}

// Copies the old store into out, sorted, with the rewrite applied.
bool copyStore(FILE* old, FILE* out, const Rewrite& rewrite) {
  bool added = rewrite.name == nullptr;
  LineReader in(old);
  StoreLine line;
  while (old != nullptr && readLine(in, line)) {
    if (!keepsLine(rewrite, line)) continue;
    if (!added && compareNames(line, rewrite.name) > 0) {
      if (fprintf(out, "%s=%s\n", rewrite.name, rewrite.value) < 0) return false;
      added = true;
    }
    if (!copyLine(in, line, out)) return false;
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
  while (!found && readLine(in, line)) {
    if (!nameMatches(line, name)) continue;
    copyText(value, size, line.text + line.nameLength + 1, line.length - line.nameLength - 1);
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
  for (int number = 1; readLine(in, line); number++) {
    visit(context, {number, line.text, line.length, line.fullLength, line.nameLength});
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
