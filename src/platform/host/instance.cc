// One process of a kind per host root (see instance.h).
#include "platform/host/instance.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The pid /proc/locks gives for a granted flock on `file` ("1: FLOCK ADVISORY WRITE 4242
// 08:01:131 0 EOF"), or 0. Waiters ("1: -> FLOCK ...") are skipped by the pattern.
int holderOf(const struct stat& file) {
  const int fd = open("/proc/locks", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char chunk[1024], line[256];
  size_t length = 0;
  int found = 0;
  for (ssize_t n; found == 0 && (n = read(fd, chunk, sizeof chunk)) > 0;) {
    for (ssize_t i = 0; i < n && found == 0; i++) {
      if (chunk[i] != '\n') {
        if (length < sizeof line - 1) line[length++] = chunk[i];
        continue;
      }
      line[length] = '\0';
      length = 0;
      int pid = 0;
      unsigned major_ = 0, minor_ = 0;
      unsigned long inode = 0;
      if (sscanf(line, "%*d: FLOCK %*s WRITE %d %x:%x:%lu", &pid, &major_, &minor_, &inode) == 4 &&
          major_ == major(file.st_dev) && minor_ == minor(file.st_dev) && inode == file.st_ino) {
        found = pid;
      }
    }
  }
  close(fd);
  return found;
}

}  // namespace

bool hostLockInstance(const char* directory, int* holder) {
  // Held above the descriptors the program opens itself, whose numbers its log shows.
  constexpr int kHeldAbove = 100;
  const int opened = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int fd = opened < 0 ? -1 : fcntl(opened, F_DUPFD_CLOEXEC, kHeldAbove);
  if (opened >= 0) close(opened);
  struct stat file;
  if (fd < 0 || fstat(fd, &file) != 0) {
    *holder = -1;
    if (fd >= 0) close(fd);
    return false;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;  // fd stays open: the lock is the process's
  const int error = errno;
  close(fd);
  *holder = error == EWOULDBLOCK ? holderOf(file) : -1;
  errno = error;
  return false;
}
