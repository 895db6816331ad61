// Bounded text handling shared by every module and tool: the copy every text field is filled
// through, comma-separated tokens, fields that may lack a terminator, and clock arithmetic.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/time.h>
#include <time.h>

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

// A non-negative span in microseconds as select takes it.
inline struct timeval toTimeval(uint64_t us) {
  return {static_cast<time_t>(us / 1000000), static_cast<suseconds_t>(us % 1000000)};
}

// Microseconds from one clock reading to another.
inline int64_t usBetween(const struct timespec& from, const struct timespec& to) {
  return (static_cast<int64_t>(to.tv_sec) - from.tv_sec) * 1000000 +
         (to.tv_nsec - from.tv_nsec) / 1000;
}
