// Platform layer: the only place that knows where the daemon runs.
//
// The backend (host, android or the unit-test fake) is chosen at link time; it implements the
// platform* functions declared first. getProp/setProp, the log and the bounded text copy are
// built on top of them and shared by every backend.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/select.h>
#include <sys/types.h>
#include <time.h>

// ---- Backend interface --------------------------------------------------------------------

// Longest property value plus its terminating NUL; every getProp buffer has this size.
constexpr int PROPERTY_VALUE_SIZE = 92;

// Android log priorities.
enum LogPriority { LOG_PRIO_DEBUG = 3, LOG_PRIO_INFO = 4, LOG_PRIO_WARN = 5, LOG_PRIO_ERROR = 6 };

constexpr const char kLogTag[] = "modemprep";

// Fixed paths as the phone sees them; platformPath() maps them to where they really are.
constexpr const char kModemDevicePath[] = "/dev/TTYEMS40";
constexpr const char kFactoryFilePath[] = "/amt/msms_config.txt";
constexpr const char kCardHistoryPath[] = "/data/vantorel/radio/radio.cfg";
constexpr const char kRildConfigBasePath[] = "/data/vantorel/radio/rild.cfg";

// Called first by main with the command line. True when the daemon is to run; otherwise it is to
// end at once with *exitStatus (the host build answers --help and refuses a missing root; a phone
// build takes no command line and always runs).
bool platformStart(int argc, char** argv, int* exitStatus);
// Copies the property's value (at most 91 characters, NUL-terminated) into value, which has
// PROPERTY_VALUE_SIZE bytes; returns its length, 0 when unset or empty.
int platformPropertyGet(const char* name, char* value);
// Asks the property service to set a property; 0 when accepted, anything else when refused.
int platformPropertySet(const char* name, const char* value);
// Appends one message to the radio log under kLogTag.
void platformLogWrite(int priority, const char* message);
// Kernel uevent socket: descriptor or below 0; receive returns the length, below 1 on error with
// errno set (0 for an empty message, EIO for one refused as not the kernel's, ENOBUFS when the
// socket's buffer overflowed and messages were dropped).
int platformUeventOpen(int receiveBufferSize, bool passCredentials);
int platformUeventReceive(int fd, char* buffer, size_t length);
void platformUeventClose(int fd);
// Fixed waits and time-outs; the fake backend runs them on a virtual clock. The wall clock is
// what log lines show; bounds are measured on the monotonic clock, which no clock step moves.
void platformSleepUs(uint64_t microseconds);
void platformClockRealtime(struct timespec* now);
void platformClockMonotonic(struct timespec* now);
int platformSelect(int nfds, fd_set* readSet, fd_set* writeSet, struct timeval* limit);
// Writes the real location of a fixed path into out; returns 0, or -1 when it does not fit.
int platformPath(const char* path, char* out, size_t size);

// ---- Properties and log --------------------------------------------------------------------

int getProp(const char* name, char* value, const char* defaultValue);
int setProp(const char* name, const char* value, int maxTries);

void logPrint(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));

#define LOGD(...) logPrint(LOG_PRIO_DEBUG, __VA_ARGS__)
#define LOGI(...) logPrint(LOG_PRIO_INFO, __VA_ARGS__)
#define LOGW(...) logPrint(LOG_PRIO_WARN, __VA_ARGS__)
#define LOGE(...) logPrint(LOG_PRIO_ERROR, __VA_ARGS__)

// ---- Bounded text copy and parsing helpers -----------------------------------------------------

// Copies at most min(srcLength, dstSize - 1) bytes of src, stopping at a NUL, and terminates
// dst. Every text field of the daemon is filled through this, so it always ends inside.
void copyText(char* dst, size_t dstSize, const char* src,
              size_t srcLength = static_cast<size_t>(-1));

template <size_t N>
inline void copyText(char (&dst)[N], const char* src, size_t srcLength = static_cast<size_t>(-1)) {
  copyText(dst, N, src, srcLength);
}

// The next non-empty comma-separated token at or after *cursor (empty tokens are skipped): its
// start, with its length in *length and *cursor moved past it; nullptr when none is left.
const char* nextToken(const char** cursor, size_t* length);

// Length of a text field that may lack its terminator (read from a file): never past the field.
template <size_t N>
inline size_t fieldLength(const char (&field)[N]) {
  size_t n = 0;
  while (n < N && field[n] != '\0') n++;
  return n;
}

// Microseconds from one clock reading to another.
inline int64_t usBetween(const struct timespec& from, const struct timespec& to) {
  return (static_cast<int64_t>(to.tv_sec) - from.tv_sec) * 1000000 +
         (to.tv_nsec - from.tv_nsec) / 1000;
}

// ---- Files --------------------------------------------------------------------------------------

// Opens an existing file for reading without ever blocking in the open: a FIFO or device planted
// at the path is refused (nullptr, errno EINVAL), a symbolic link is not followed (ELOOP). A
// directory is opened, so that reading it fails the way it always did.
FILE* openForReading(const char* path);
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
// Drops the temporary file.
void abandonReplacement(Replacement& replacement);
