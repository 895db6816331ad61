// Property wrappers and the log, shared by every backend.
#include "platform/platform.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "platform/log_lines.h"
#include "platform/text.h"

namespace {

constexpr uint64_t kSetPropRetryPauseUs = 1000000;
// Longer than any name the registry holds once numbered.
constexpr size_t kNameSize = 96;

int getNamed(const char* name, char* value, const char* defaultValue) {
  memset(value, 0, PROPERTY_VALUE_SIZE);
  if (platformPropertyGet(name, value) > 0) {
    LOGI(logline::kPropertyGot, name, value);
    return 0;
  }
  if (defaultValue == nullptr) {
    LOGW(logline::kPropertyEmpty, name);
    return -1;
  }
  LOGW(logline::kPropertyEmptyWithDefault, name, defaultValue);
  copyText(value, PROPERTY_VALUE_SIZE, defaultValue);
  return 0;
}

}  // namespace

void logPrint(int priority, const char* format, ...) {
  char message[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof message, format, args);
  va_end(args);
  platformLogWrite(priority, message);
}

bool formatName(const char* pattern, int number, char* out, size_t size) {
  size_t length = strlen(pattern);
  bool numbered = length >= 2 && strcmp(pattern + length - 2, "%d") == 0;
  int n = numbered ? snprintf(out, size, "%.*s%d", static_cast<int>(length - 2), pattern, number)
                   : snprintf(out, size, "%s", pattern);
  return n >= 0 && static_cast<size_t>(n) < size;
}

void logPropertySet(const char* name, const char* value) {
  LOGI(logline::kPropertySet, name, value);
}

int getProp(const Property& property, char* value, const char* defaultValue) {
  return getNamed(property.name, value, defaultValue);
}

int getProp(const Property& property, int number, char* value, const char* defaultValue) {
  char name[kNameSize];
  if (!formatName(property.name, number, name, sizeof name)) {
    LOGE("%s() parameter error: %d", __func__, 1);
    return -1;
  }
  return getNamed(name, value, defaultValue);
}

int setProp(const Property& property, const char* value, int maxTries) {
  const char* name = property.name;
  for (int attempt = 1;; attempt++) {
    if (platformPropertySet(name, value) == 0) {
      logPropertySet(name, value);
      return 0;
    }
    LOGI(logline::kPropertySetFailed, name, value);
    platformSleepUs(kSetPropRetryPauseUs);
    if (attempt >= maxTries) return -1;
  }
}
