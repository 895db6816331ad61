// Reading a named file whole, as the workstation tools do.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace cli {

// What can stand at a path the tool reads.
enum class Readable {
  kRegularOnly,  // a FIFO or device planted where a file should be is refused, never waited on
  kStreams,      // a pipe given on purpose (<(adb shell cat ...)) is read to its end
};

// The system's reason for errno value error, in the tools' words.
inline std::string reason(int error) {
  return error == EISDIR ? "is a directory" : strerror(error);
}

// The file's bytes appended to *bytes, at most limit of them; false with the reason in *why. A
// directory is refused. *size, when asked for, gets a regular file's whole size.
inline bool readFile(const std::string& path, Readable what, std::string* bytes, std::string* why,
                     size_t limit = SIZE_MAX, size_t* size = nullptr) {
  const int flags = O_RDONLY | O_CLOEXEC | (what == Readable::kRegularOnly ? O_NONBLOCK : 0);
  const int fd = open(path.c_str(), flags);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    *why = reason(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  if (S_ISDIR(st.st_mode) || (what == Readable::kRegularOnly && !S_ISREG(st.st_mode))) {
    *why = S_ISDIR(st.st_mode) ? "is a directory" : "not a regular file";
    close(fd);
    return false;
  }
  if (size != nullptr) *size = static_cast<size_t>(st.st_size);
  char buf[4096];
  ssize_t n = 0;
  for (size_t got = 0; got < limit; got += static_cast<size_t>(n)) {
    if ((n = read(fd, buf, limit - got < sizeof buf ? limit - got : sizeof buf)) <= 0) break;
    bytes->append(buf, static_cast<size_t>(n));
  }
  if (n < 0) *why = reason(errno);
  close(fd);
  return n >= 0;
}

}  // namespace cli
