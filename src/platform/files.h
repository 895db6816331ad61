// Files as the daemon opens them: never blocking in the open, never written through a link, and
// replaced whole.
#pragma once

#include <stdio.h>
#include <sys/types.h>

// Opens an existing file for reading without ever blocking in the open: a FIFO or device planted
// at the path is refused (nullptr, errno EINVAL), a symbolic link is not followed (ELOOP). A
// directory is opened, so that reading it fails the way it always did.
FILE* openForReading(const char* path);
// Reads a whole regular file of at most size bytes into buffer, without blocking or following a
// link; its length, or -1 with errno: ENOENT when absent, EINVAL when not a regular file, EFBIG
// when longer than size.
ssize_t readRegularFile(const char* path, char* buffer, size_t size);
// Whether path is a regular file of this mode holding exactly these bytes: replacing it would
// change nothing, so the writer skips the replacement (no write, sync or rename wears the flash).
bool fileHolds(const char* path, mode_t mode, const void* bytes, size_t length);
// Writes all of text, continuing after partial writes and interruptions; false on a failure.
bool writeAll(int fd, const char* text, size_t length);

constexpr size_t kFilePathSize = 256;

// A file replaced whole, so that a reader or a crash never meets it half-written: the content is
// written to "<path>.tmp" (created afresh, never through a symbolic link, with the given mode
// whatever the umask), flushed to the disk and renamed over the path, and the directory synced.
struct Replacement {
  FILE* file;
  char path[kFilePathSize];
  char tempPath[kFilePathSize + 8];
};
// Creates the temporary file; false with errno when it cannot be created or the path is a
// directory (EISDIR).
bool beginReplacement(Replacement& replacement, const char* path, mode_t mode);
// Makes the content the file's; false with errno (the old file then stays as it was).
bool commitReplacement(Replacement& replacement);
// Drops the temporary file; errno stays as the failure that led here left it.
void abandonReplacement(Replacement& replacement);
