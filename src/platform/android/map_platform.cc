// Platform integration (system_ext, coredomain): the daemon's names and paths work as they are.
#include <stdio.h>

#include "platform/android/property_map.h"

const char* androidPropertyName(const char* name, char*, size_t) { return name; }

const char* androidPropertyValue(const char*, const char* value, char*, size_t) { return value; }

int androidPath(const char* path, char* out, size_t size) {
  int n = snprintf(out, size, "%s", path);
  return n >= 0 && static_cast<size_t>(n) < size ? 0 : -1;
}
