// Property wrappers and the log, shared by every backend.
#include "platform/platform.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

constexpr uint64_t kSetPropRetryPauseUs = 1000000;

}  // namespace

void logPrint(int priority, const char* format, ...) {
  char message[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof message, format, args);
  va_end(args);
  platformLogWrite(priority, message);
}

int getProp(const char* name, char* value, const char* defaultValue) {
  if (name == nullptr || value == nullptr) {
    LOGE("%s() parameter error: %d, %d", "getProp", name == nullptr, value == nullptr);
    return -1;
  }
  if (name[0] == '\0') {
    LOGE("%s() parameter error: %d", "getProp", 1);
    return -1;
  }
  memset(value, 0, PROPERTY_VALUE_SIZE);
  if (platformPropertyGet(name, value) > 0) {
    LOGI("get property: [%s]: [%s]", name, value);
    return 0;
  }
  if (defaultValue == nullptr) {
    LOGW("property \"%s\" is empty", name);
    return -1;
  }
  LOGW("property \"%s\" is empty, use default value \"%s\"", name, defaultValue);
  copyText(value, PROPERTY_VALUE_SIZE, defaultValue);
  return 0;
}

int setProp(const char* name, const char* value, int maxTries) {
  if (name == nullptr || value == nullptr) {
    LOGE("%s() parameter error: %d, %d", "setProp", name == nullptr, value == nullptr);
    return -1;
  }
  if (name[0] == '\0') {
    LOGE("%s() parameter error: %d", "setProp", 1);
    return -1;
  }
  for (int attempt = 1;; attempt++) {
    if (platformPropertySet(name, value) == 0) {
      LOGI("set property: [%s]: [%s]", name, value);
      return 0;
    }
    LOGI("set property: [%s]: [%s] failed", name, value);
    platformSleepUs(kSetPropRetryPauseUs);
    if (attempt >= maxTries) return -1;
  }
}
