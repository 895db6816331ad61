// Opening files without blocking, and replacing files whole.
#include "platform/files.h"

#include <errno.h>
#include <fcntl.h>
#include <libgen.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/text.h"

namespace {

// Syncs the directory that holds path, so that a rename in it survives a crash.
bool syncDirectory(const char* path) {
  char copy[kFilePathSize];
  copyText(copy, path);
  int dir = open(dirname(copy), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  bool synced = fsync(dir) == 0;
  close(dir);
  return synced;
}

// Reads until the end of the file; -1 (errno EFBIG) when it holds more than size bytes.
ssize_t readAll(int fd, char* buffer, size_t size) {
  size_t length = 0;
  for (;;) {
    char extra;
    bool full = length == size;
    ssize_t n = full ? read(fd, &extra, 1) : read(fd, buffer + length, size - length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) return static_cast<ssize_t>(length);
    if (full) {
      errno = EFBIG;
      return -1;
    }
    length += static_cast<size_t>(n);
  }
}

}  // namespace

FILE* openForReading(const char* path) {
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info;
  if (fstat(fd, &info) != 0 || !(S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))) {
    close(fd);
    errno = EINVAL;
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* file = fdopen(fd, "rb");
  if (file == nullptr) close(fd);
  return file;
}

ssize_t readRegularFile(const char* path, char* buffer, size_t size) {
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat info;
  ssize_t length = -1;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    errno = EINVAL;
  } else if (static_cast<size_t>(info.st_size) > size) {
    errno = EFBIG;
  } else {
    length = readAll(fd, buffer, size);
  }
  int saved = errno;
  close(fd);
  errno = saved;
  return length;
}

bool fileHolds(const char* path, mode_t mode, const void* bytes, size_t length) {
  int saved = errno;
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  struct stat info;
  bool same = fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
              (info.st_mode & 07777) == mode && static_cast<size_t>(info.st_size) == length;
  const char* expected = static_cast<const char*>(bytes);
  char chunk[256];
  for (size_t at = 0; same && at < length;) {
    ssize_t n = read(fd, chunk, length - at < sizeof chunk ? length - at : sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    same = n > 0 && memcmp(chunk, expected + at, static_cast<size_t>(n)) == 0;
    at += n > 0 ? static_cast<size_t>(n) : 0;
  }
  if (fd >= 0) close(fd);
  errno = saved;
  return same;
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

bool beginReplacement(Replacement& replacement, const char* path, mode_t mode) {
  replacement.file = nullptr;
  // A directory at the path is refused before anything is written, as opening it for writing is.
  struct stat target;
  if (stat(path, &target) == 0 && S_ISDIR(target.st_mode)) {
    errno = EISDIR;
    return false;
  }
  copyText(replacement.path, path);
  snprintf(replacement.tempPath, sizeof replacement.tempPath, "%s.tmp", replacement.path);
  // A temporary file left by a crash (or planted) is removed, never written through.
  unlink(replacement.tempPath);
  int fd = open(replacement.tempPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return false;
  if (fchmod(fd, mode) != 0 || (replacement.file = fdopen(fd, "wb")) == nullptr) {
    int error = errno;
    close(fd);
    unlink(replacement.tempPath);
    errno = error;
    return false;
  }
  return true;
}

bool commitReplacement(Replacement& replacement) {
  FILE* file = replacement.file;
  replacement.file = nullptr;
  bool written = fflush(file) == 0 && fsync(fileno(file)) == 0;
  int error = errno;
  if (fclose(file) != 0 && written) {
    written = false;
    error = errno;
  }
  if (written && rename(replacement.tempPath, replacement.path) == 0) {
    syncDirectory(replacement.path);
    return true;
  }
  if (written) error = errno;
  unlink(replacement.tempPath);
  errno = error;
  return false;
}

void abandonReplacement(Replacement& replacement) {
  int error = errno;  // the failure's, which the caller logs after this cleanup
  if (replacement.file != nullptr) fclose(replacement.file);
  replacement.file = nullptr;
  unlink(replacement.tempPath);
  errno = error;
}
