// Host backend, the platform's property calls: the store under the daemon's root.
#include <string.h>

#include "platform/host/root.h"
#include "platform/host/store.h"
#include "platform/platform.h"

int platformPropertyGet(const char* name, char* value) {
  value[0] = '\0';
  if (!hoststore::get(hostRoot(), name, value, PROPERTY_VALUE_SIZE)) return 0;
  return static_cast<int>(strlen(value));
}

int platformPropertySet(const char* name, const char* value) {
  return hoststore::set(hostRoot(), name, value) == hoststore::Refusal::kAccepted ? 0 : -1;
}
