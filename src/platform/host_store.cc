// Host backend, properties: <root>/properties holds sorted name=value lines; a write replaces the
// file whole (temporary file, rename) under an exclusive flock on <root>/properties.lock. Init's
// control properties append to <root>/init.log instead. Also the root itself: chosen by
// MODEMPREP_ROOT and checked once at start, before anything under it is touched.
#include "platform/host_store.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/host_root.h"
#include "platform/platform.h"

#ifndef MODEMPREP_VERSION
#define MODEMPREP_VERSION "unknown"
#endif

namespace {

constexpr size_t kPathSize = 256;
constexpr size_t kLineSize = 1024;
constexpr size_t kMaxValueLength = PROPERTY_VALUE_SIZE - 1;

char g_root[kPathSize];

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
};

bool rootPath(const char* root, const char* relative, char* out, size_t size) {
  int n = snprintf(out, size, "%s%s", root, relative);
  return n >= 0 && static_cast<size_t>(n) < size;
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

bool fileListsName(const char* root, const char* relative, const char* name) {
  char path[kPathSize];
  if (!rootPath(root, relative, path, sizeof path)) return false;
  FILE* file = openForReading(path);
  if (file == nullptr) return false;
  char line[kLineSize];
  bool listed = false;
  while (!listed && readLine(file, line, sizeof line)) listed = strcmp(line, name) == 0;
  fclose(file);
  return listed;
}

// Which lines of the old store the new one keeps, and the one line it adds.
struct Rewrite {
  const char* name;   // dropped from the old store; nullptr: nothing dropped or added
  const char* value;  // the added line's value
  bool persistOnly;   // a reboot: only "persist." lines stay
};

bool keepsLine(const Rewrite& rewrite, const char* line, size_t nameLength) {
  if (rewrite.persistOnly) return strncmp(line, "persist.", 8) == 0;
  return rewrite.name == nullptr || !nameMatches(line, nameLength, rewrite.name);
}

// Copies the old store into out, sorted, with the rewrite applied.
bool copyStore(FILE* in, FILE* out, const Rewrite& rewrite) {
  bool added = rewrite.name == nullptr;
  char line[kLineSize];
  size_t nameLength;
  while (in != nullptr && readLine(in, line, sizeof line)) {
    if (!lineName(line, &nameLength) || !keepsLine(rewrite, line, nameLength)) continue;
    if (!added && compareNames(line, nameLength, rewrite.name) > 0) {
      if (fprintf(out, "%s=%s\n", rewrite.name, rewrite.value) < 0) return false;
      added = true;
    }
    if (fprintf(out, "%s\n", line) < 0) return false;
  }
  return added || fprintf(out, "%s=%s\n", rewrite.name, rewrite.value) > 0;
}

// Replaces the store whole under its lock. readOnlyOnce refuses the write when the name is
// already stored.
hoststore::Refusal replaceStore(const char* root, const Rewrite& rewrite, bool readOnlyOnce) {
  using hoststore::Refusal;
  char storePath[kPathSize], lockPath[kPathSize], tempPath[kPathSize];
  if (!rootPath(root, "/properties", storePath, sizeof storePath) ||
      !rootPath(root, "/properties.lock", lockPath, sizeof lockPath) ||
      !rootPath(root, "/properties.tmp", tempPath, sizeof tempPath)) {
    return Refusal::kNoRoot;
  }
  int lockFd = open(lockPath, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (lockFd < 0) return Refusal::kNoRoot;
  if (flock(lockFd, LOCK_EX) != 0) {
    close(lockFd);
    return Refusal::kNoRoot;
  }
  Refusal result = Refusal::kNoRoot;
  char ignored[2];
  if (readOnlyOnce && hoststore::get(root, rewrite.name, ignored, sizeof ignored)) {
    result = Refusal::kReadOnly;
  } else {
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
    if (ok && rename(tempPath, storePath) == 0) {
      result = Refusal::kAccepted;
    } else if (tempFd >= 0) {
      unlink(tempPath);
    }
  }
  close(lockFd);
  return result;
}

hoststore::Refusal runControlCommand(const char* root, const ControlCommand& command,
                                     const char* service) {
  using hoststore::Refusal;
  if (service[0] == '\0') return Refusal::kUnknownControl;
  char path[kPathSize], line[kLineSize], stateName[kLineSize];
  if (!rootPath(root, "/init.log", path, sizeof path)) return Refusal::kNoRoot;
  // Non-blocking: a FIFO planted there must not hold the property service.
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd < 0) return Refusal::kNoRoot;
  int length = snprintf(line, sizeof line, "%s %s\n", command.initVerb, service);
  bool logged = writeAll(fd, line, static_cast<size_t>(length));
  close(fd);
  if (!logged) return Refusal::kNoRoot;
  snprintf(stateName, sizeof stateName, "init.svc.%s", service);
  return replaceStore(root, {stateName, command.serviceState, false}, false);
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

// The root a daemon may use: an existing writable directory whose uevent socket path fits.
bool rootUsable(const char* root, const char** reason) {
  struct stat info;
  sockaddr_un address;
  char socketPath[kPathSize];
  if (root == nullptr || root[0] == '\0') {
    *reason = "MODEMPREP_ROOT is not set (it names the directory that stands for / on the phone)";
  } else if (stat(root, &info) != 0) {
    *reason = strerror(errno);
  } else if (!S_ISDIR(info.st_mode)) {
    *reason = "not a directory";
  } else if (access(root, W_OK | X_OK) != 0) {
    *reason = strerror(errno);
  } else if (!rootPath(root, "/dev/uevent.sock", socketPath, sizeof socketPath) ||
             strlen(socketPath) >= sizeof address.sun_path) {
    *reason = "too long: <root>/dev/uevent.sock must fit a Unix socket path (107 bytes)";
  } else {
    return true;
  }
  return false;
}

constexpr char kUsage[] =
    "usage: MODEMPREP_ROOT=DIR modemprep\n"
    "Runs the daemon against a host root: DIR stands for / on the phone (DIR/dev/TTYEMS40 the\n"
    "modem, DIR/properties the property store, DIR/data/vantorel/radio its files). The radio\n"
    "log goes to standard error. Options: --help, --version.\n";

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
  char line[kLineSize];
  bool found = false;
  size_t nameLength;
  while (!found && readLine(file, line, sizeof line)) {
    if (!lineName(line, &nameLength) || !nameMatches(line, nameLength, name)) continue;
    copyText(value, size, line + nameLength + 1);
    found = true;
  }
  fclose(file);
  return found;
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

const char* hostRoot() { return g_root; }

void hostUseRoot(const char* root) { copyText(g_root, root); }

bool hostPath(const char* path, char* out, size_t size) {
  return rootPath(g_root, path, out, size);
}

bool platformStart(int argc, char** argv, int* exitStatus) {
  if (argc > 1) {
    bool help = strcmp(argv[1], "--help") == 0, version = strcmp(argv[1], "--version") == 0;
    if (argc == 2 && (help || version)) {
      fputs(help ? kUsage : "modemprep " MODEMPREP_VERSION "\n", stdout);
      *exitStatus = 0;
    } else {
      fprintf(stderr, "modemprep: unexpected argument \"%s\" (try --help)\n",
              help || version ? argv[2] : argv[1]);
      *exitStatus = 2;
    }
    return false;
  }
  const char* root = getenv("MODEMPREP_ROOT");
  const char* reason = nullptr;
  if (!rootUsable(root, &reason)) {
    fprintf(stderr, "modemprep: root \"%s\": %s\n", root == nullptr ? "" : root, reason);
    *exitStatus = 2;
    return false;
  }
  hostUseRoot(root);
  return true;
}

int platformPath(const char* path, char* out, size_t size) {
  return hostPath(path, out, size) ? 0 : -1;
}

int platformPropertyGet(const char* name, char* value) {
  value[0] = '\0';
  if (!hoststore::get(g_root, name, value, PROPERTY_VALUE_SIZE)) return 0;
  return static_cast<int>(strlen(value));
}

int platformPropertySet(const char* name, const char* value) {
  return hoststore::set(g_root, name, value) == hoststore::Refusal::kAccepted ? 0 : -1;
}
