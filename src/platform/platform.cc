// Property wrappers and the log, shared by every backend.
#include "platform/platform.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

constexpr uint64_t kSetPropRetryPauseUs = 1000000;

// The name and the buffer or value are always given by this program; a caller that got them
// wrong is logged.
bool badPropertyArguments(const char* function, const char* name, const char* text) {
  if (name == nullptr || text == nullptr) {
    LOGE("%s() parameter error: %d, %d", function, name == nullptr, text == nullptr);
    return true;
  }
  if (name[0] == '\0') {
    LOGE("%s() parameter error: %d", function, 1);
    return true;
  }
  return false;
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

int getProp(const char* name, char* value, const char* defaultValue) {
  if (badPropertyArguments("getProp", name, value)) return -1;
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
  if (badPropertyArguments("setProp", name, value)) return -1;
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
