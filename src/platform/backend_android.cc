// Android backend: bionic's property calls, the radio log buffer and libcutils' uevent helpers.
// Built only in a platform tree (Android.bp); the paths are the phone's own.
#include <cutils/uevent.h>
#include <errno.h>
#include <log/log.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

#include "platform/platform.h"

extern "C" {
int __system_property_get(const char* name, char* value);
int __system_property_set(const char* name, const char* value);
}

int platformPropertyGet(const char* name, char* value) {
  return __system_property_get(name, value);
}

int platformPropertySet(const char* name, const char* value) {
  return __system_property_set(name, value);
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

int platformPath(const char* path, char* out, size_t size) {
  int n = snprintf(out, size, "%s", path);
  return n >= 0 && static_cast<size_t>(n) < size ? 0 : -1;
}

// The phone's daemon takes no command line: init starts it without arguments.
bool platformStart(int, char**, int*) { return true; }
