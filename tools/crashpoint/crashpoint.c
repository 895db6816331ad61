// crashpoint: an LD_PRELOAD library that kills the process at its Nth file-changing call.
//
// Every call that can change a regular file (open for writing, write, fwrite, fflush, fclose of
// a writable stream, fsync, fchmod, rename, unlink) is a point, counted from 1 in the order the
// process makes them. With CRASHPOINT_AT=N the process is killed with SIGKILL just before point
// N runs, as a power cut or the out-of-memory killer would; with CRASHPOINT_LOG=FILE each point
// is appended to FILE as "<n> <call> <path or descriptor>", so that a first run tells how many
// points a start-up has. Standard output and error (the daemon's log) are not points.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
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

static int writableRegularFd(int fd) {
  struct stat info;
  if (fd <= STDERR_FILENO || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  return (fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDONLY;
}

// Counts one point; logs it or kills the process when it is the one asked for.
static void point(const char *call, const char *path, int fd) {
  long n = ++g_count;
  const char *at = getenv("CRASHPOINT_AT");
  if (at != NULL && strtol(at, NULL, 10) == n) syscall(SYS_kill, getpid(), SIGKILL);
  const char *log = getenv("CRASHPOINT_LOG");
  if (log == NULL) return;
  char line[512];
  int length = path != NULL ? snprintf(line, sizeof line, "%ld %s %s\n", n, call, path)
                            : snprintf(line, sizeof line, "%ld %s fd %d\n", n, call, fd);
  int out = (int)syscall(SYS_openat, AT_FDCWD, log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC,
                         0600);
  if (out < 0) return;
  syscall(SYS_write, out, line, (size_t)length);
  syscall(SYS_close, out);
}

static int changes(int flags) { return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0; }

int open(const char *path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (flags & O_CREAT) ? va_arg(args, mode_t) : 0;
  va_end(args);
  if (changes(flags)) point("open", path, -1);
  int (*real)(const char *, int, ...) = next("open");
  return real(path, flags, mode);
}

int openat(int dir, const char *path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (flags & O_CREAT) ? va_arg(args, mode_t) : 0;
  va_end(args);
  if (changes(flags)) point("openat", path, -1);
  int (*real)(int, const char *, int, ...) = next("openat");
  return real(dir, path, flags, mode);
}

ssize_t write(int fd, const void *buffer, size_t count) {
  if (writableRegularFd(fd)) point("write", NULL, fd);
  ssize_t (*real)(int, const void *, size_t) = next("write");
  return real(fd, buffer, count);
}

size_t fwrite(const void *buffer, size_t size, size_t count, FILE *file) {
  if (writableRegularFd(fileno(file))) point("fwrite", NULL, fileno(file));
  size_t (*real)(const void *, size_t, size_t, FILE *) = next("fwrite");
  return real(buffer, size, count, file);
}

int fflush(FILE *file) {
  if (file != NULL && writableRegularFd(fileno(file))) point("fflush", NULL, fileno(file));
  int (*real)(FILE *) = next("fflush");
  return real(file);
}

int fclose(FILE *file) {
  if (writableRegularFd(fileno(file))) point("fclose", NULL, fileno(file));
  int (*real)(FILE *) = next("fclose");
  return real(file);
}

int fsync(int fd) {
  if (writableRegularFd(fd)) point("fsync", NULL, fd);
  int (*real)(int) = next("fsync");
  return real(fd);
}

int fchmod(int fd, mode_t mode) {
  if (writableRegularFd(fd)) point("fchmod", NULL, fd);
  int (*real)(int, mode_t) = next("fchmod");
  return real(fd, mode);
}

int rename(const char *from, const char *to) {
  point("rename", to, -1);
  int (*real)(const char *, const char *) = next("rename");
  return real(from, to);
}

int unlink(const char *path) {
  point("unlink", path, -1);
  int (*real)(const char *) = next("unlink");
  return real(path);
}
