// Android backend: bionic's property calls, the radio log buffer and libcutils' uevent helpers.
// Built only in a platform tree (Android.bp). Which names and paths reach the platform is the
// integration's (property_map.h): each Android module links one map.
#include <cutils/uevent.h>
#include <errno.h>
#include <log/log.h>
#include <stdio.h>
#include <sys/system_properties.h>
#include <time.h>
#include <unistd.h>

#include "platform/android/property_map.h"
#include "platform/platform.h"

// __system_property_get writes up to PROP_VALUE_MAX bytes into the daemon's value buffers.
static_assert(PROPERTY_VALUE_SIZE == PROP_VALUE_MAX, "property value buffers differ from bionic's");

namespace {

// Longer than any name the maps produce; property names have had no length limit since O.
constexpr size_t kPropertyNameSize = 96;

// A name the integration cannot place is a build mistake, not a refusal of the property service:
// say so in the radio log, under the daemon's own name.
void logUnmapped(const char* what, const char* name) {
  __android_log_buf_print(LOG_ID_RADIO, ANDROID_LOG_ERROR, kLogTag,
                          "no name in this integration for %s \"%s\"", what, name);
}

}  // namespace

int platformPropertyGet(const char* name, char* value) {
  char buffer[kPropertyNameSize];
  const char* target = androidPropertyName(name, buffer, sizeof buffer);
  if (target == nullptr) {
    logUnmapped("property", name);
    value[0] = '\0';
    return 0;
  }
  return __system_property_get(target, value);
}

int platformPropertySet(const char* name, const char* value) {
  char nameBuffer[kPropertyNameSize], valueBuffer[PROPERTY_VALUE_SIZE];
  const char* target = androidPropertyName(name, nameBuffer, sizeof nameBuffer);
  if (target == nullptr) {
    logUnmapped("property", name);
    return -1;
  }
  const char* targetValue = androidPropertyValue(name, value, valueBuffer, sizeof valueBuffer);
  if (targetValue == nullptr) {
    logUnmapped("service", value);
    return -1;
  }
  return __system_property_set(target, targetValue);
}

void platformLogWrite(int priority, const char* message) {
  __android_log_buf_write(LOG_ID_RADIO, priority, kLogTag, message);
}

int platformUeventOpen(int receiveBufferSize, bool passCredentials) {
  return uevent_open_socket(receiveBufferSize, passCredentials);
}

int platformUeventReceive(int fd, char* buffer, size_t length) {
  return static_cast<int>(uevent_kernel_multicast_recv(fd, buffer, length));
}

void platformUeventClose(int fd) { close(fd); }

int platformPath(const char* path, char* out, size_t size) { return androidPath(path, out, size); }

// The phone's daemon takes no command line: init starts it without arguments.
bool platformStart(int, char**, int*) { return true; }
