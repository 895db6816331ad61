// Bounded text copy and comma-separated tokens: plain text handling, kept apart from the
// property and log wrappers so that tools can link it alone.
#include "platform/text.h"

#include <string.h>

void copyText(char* dst, size_t dstSize, const char* src, size_t srcLength) {
  if (dst == nullptr || dstSize == 0) return;
  size_t n = 0;
  if (src != nullptr) {
    size_t limit = dstSize - 1 < srcLength ? dstSize - 1 : srcLength;
    while (n < limit && src[n] != '\0') {
      dst[n] = src[n];
      n++;
    }
  }
  dst[n] = '\0';
}

const char* nextToken(const char** cursor, size_t* length) {
  const char* start = *cursor + strspn(*cursor, ",");
  if (*start == '\0') return nullptr;
  *length = strcspn(start, ",");
  *cursor = start + *length;
  return start;
}
