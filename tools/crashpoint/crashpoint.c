// crashpoint: an LD_PRELOAD library that kills the process at its Nth file-changing call, records
// the order of those calls, and can make a directory look full.
//
// Every call that can change a regular file or what a directory holds (open for writing, write,
// fwrite, fflush, fclose of a writable stream, fsync of a writable file or of a directory, fchmod,
// rename, unlink) is a point, counted from 1 in the order the process makes them. With
// CRASHPOINT_AT=N the process is killed with SIGKILL just before point N runs, as a power cut or
// the out-of-memory killer would; with CRASHPOINT_LOG=FILE each point is appended to FILE as
// "<n> <call> <path>" ("rename <from> <to>"; a descriptor's path is the one it has at the call), so
// that a first run tells how many points a start-up has and in which order files were written,
// synced and renamed. With CRASHPOINT_ENOSPC=PREFIX every write, fwrite and fflush to a file whose
// path begins with PREFIX fails with ENOSPC, as on a full data partition. Standard output and
// error (the daemon's log) are not points.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

static long g_count;

static void *next(const char *name) { return dlsym(RTLD_NEXT, name); }

enum FdKind { kOther, kWritableFile, kDirectory };

static enum FdKind kindOf(int fd) {
  struct stat info;
  if (fd <= STDERR_FILENO || fstat(fd, &info) != 0) return kOther;
  if (S_ISDIR(info.st_mode)) return kDirectory;
  if (!S_ISREG(info.st_mode)) return kOther;
  return (fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDONLY ? kWritableFile : kOther;
}

// The path a descriptor stands for now; "fd N" when the kernel does not say.
static const char *fdPath(int fd, char *path, size_t size) {
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, path, size - 1);
  if (n <= 0) {
    snprintf(path, size, "fd %d", fd);
  } else {
    path[n] = '\0';
  }
  return path;
}

// Counts one point; logs it or kills the process when it is the one asked for.
static void point(const char *call, const char *path, const char *to) {
  long n = ++g_count;
  const char *at = getenv("CRASHPOINT_AT");
  if (at != NULL && strtol(at, NULL, 10) == n) syscall(SYS_kill, getpid(), SIGKILL);
  const char *log = getenv("CRASHPOINT_LOG");
  if (log == NULL) return;
  char line[2 * PATH_MAX + 64];
  int length =
      snprintf(line, sizeof line, "%ld %s %s%s%s\n", n, call, path, to ? " " : "", to ? to : "");
  if (length < 0 || (size_t)length >= sizeof line) return;
  int out =
      (int)syscall(SYS_openat, AT_FDCWD, log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (out < 0) return;
  syscall(SYS_write, out, line, (size_t)length);
  syscall(SYS_close, out);
}

// A point for a call on a descriptor of one of the kinds given; true when it was one. The path
// goes into path.
static int fdPoint(const char *call, int fd, int kinds, char *path, size_t size) {
  enum FdKind kind = kindOf(fd);
  if (kind == kOther || (kinds & (1 << kind)) == 0) return 0;
  point(call, fdPath(fd, path, size), NULL);
  return 1;
}

#define FILES (1 << kWritableFile)

// Whether writes to this file are to fail as on a full partition.
static int full(const char *path) {
  const char *prefix = getenv("CRASHPOINT_ENOSPC");
  return prefix != NULL && prefix[0] != '\0' && strncmp(path, prefix, strlen(prefix)) == 0;
}

static int changes(int flags) { return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0; }

int open(const char *path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (flags & O_CREAT) ? va_arg(args, mode_t) : 0;
  va_end(args);
  if (changes(flags)) point("open", path, NULL);
  int (*real)(const char *, int, ...) = next("open");
  return real(path, flags, mode);
}

int openat(int dir, const char *path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (flags & O_CREAT) ? va_arg(args, mode_t) : 0;
  va_end(args);
  if (changes(flags)) point("openat", path, NULL);
  int (*real)(int, const char *, int, ...) = next("openat");
  return real(dir, path, flags, mode);
}

ssize_t write(int fd, const void *buffer, size_t count) {
  char path[PATH_MAX];
  if (fdPoint("write", fd, FILES, path, sizeof path) && full(path)) {
    errno = ENOSPC;
    return -1;
  }
  ssize_t (*real)(int, const void *, size_t) = next("write");
  return real(fd, buffer, count);
}

size_t fwrite(const void *buffer, size_t size, size_t count, FILE *file) {
  char path[PATH_MAX];
  if (fdPoint("fwrite", fileno(file), FILES, path, sizeof path) && full(path)) {
    errno = ENOSPC;
    return 0;
  }
  size_t (*real)(const void *, size_t, size_t, FILE *) = next("fwrite");
  return real(buffer, size, count, file);
}

int fflush(FILE *file) {
  char path[PATH_MAX];
  if (file != NULL && fdPoint("fflush", fileno(file), FILES, path, sizeof path) && full(path)) {
    errno = ENOSPC;
    return EOF;
  }
  int (*real)(FILE *) = next("fflush");
  return real(file);
}

int fclose(FILE *file) {
  char path[PATH_MAX];
  fdPoint("fclose", fileno(file), FILES, path, sizeof path);
  int (*real)(FILE *) = next("fclose");
  return real(file);
}

// A directory's sync is what makes a rename in it survive a power cut.
int fsync(int fd) {
  char path[PATH_MAX];
  if (!fdPoint("fsync", fd, FILES, path, sizeof path)) {
    fdPoint("fsyncdir", fd, 1 << kDirectory, path, sizeof path);
  }
  int (*real)(int) = next("fsync");
  return real(fd);
}

int fchmod(int fd, mode_t mode) {
  char path[PATH_MAX];
  fdPoint("fchmod", fd, FILES, path, sizeof path);
  int (*real)(int, mode_t) = next("fchmod");
  return real(fd, mode);
}

int rename(const char *from, const char *to) {
  point("rename", from, to);
  int (*real)(const char *, const char *) = next("rename");
  return real(from, to);
}

int unlink(const char *path) {
  point("unlink", path, NULL);
  int (*real)(const char *) = next("unlink");
  return real(path);
}
