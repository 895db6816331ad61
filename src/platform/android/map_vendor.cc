// Vendor integration: the daemon's names moved into the namespaces a vendor domain may label and
// set ("vendor.", "persist.vendor.", "ro.vendor.", services "vendor.*" and their
// "init.svc.vendor.*" states) and its data into /data/vendor, as the daemon's declarations of its
// properties, services and data directory give them (platform/properties.h). "persist." names
// stay persistent and "ro." names read-only. Nothing else in the daemon changes: its log lines
// keep its own names.
#include <stdio.h>
#include <string.h>

#include "platform/android/property_map.h"
#include "platform/properties.h"

namespace {

constexpr char kNumberSuffix[] = "%d";
constexpr size_t kMaxNumberDigits = 3;

// Length of a name without its "%d" suffix, and whether it had one.
size_t stemLength(const char* name, bool* numbered) {
  size_t length = strlen(name);
  size_t suffix = sizeof kNumberSuffix - 1;
  *numbered = length >= suffix && strcmp(name + length - suffix, kNumberSuffix) == 0;
  return *numbered ? length - suffix : length;
}

// The vendor form of name under one declaration (a "%d" one takes the name's number), or nullptr
// when the declaration is not name's.
const char* mapOne(const char* daemonName, const char* vendorName, const char* name, char* buffer,
                   size_t size) {
  bool numbered = false;
  size_t stem = stemLength(daemonName, &numbered);
  if (!numbered) return strcmp(name, daemonName) == 0 ? vendorName : nullptr;
  if (strncmp(name, daemonName, stem) != 0) return nullptr;
  const char* digits = name + stem;
  size_t count = strspn(digits, "0123456789");
  if (count == 0 || count > kMaxNumberDigits || digits[count] != '\0') return nullptr;
  bool vendorNumbered = false;
  size_t vendorStem = stemLength(vendorName, &vendorNumbered);
  int n = snprintf(buffer, size, "%.*s%s", static_cast<int>(vendorStem), vendorName, digits);
  return n >= 0 && static_cast<size_t>(n) < size ? buffer : nullptr;
}

bool isControl(const char* name) {
  for (const Property* property : kDaemonProperties) {
    if (property->kind == PropertyKind::kControl && strcmp(name, property->name) == 0) return true;
  }
  return false;
}

}  // namespace

const char* androidPropertyName(const char* name, char* buffer, size_t size) {
  for (const Property* property : kDaemonProperties) {
    const char* mapped = mapOne(property->name, property->vendorName, name, buffer, size);
    if (mapped != nullptr) return mapped;
  }
  return nullptr;
}

const char* androidPropertyValue(const char* name, const char* value, char* buffer, size_t size) {
  if (!isControl(name)) return value;
  for (const Service* service : kDaemonServices) {
    const char* mapped = mapOne(service->name, service->vendorName, value, buffer, size);
    if (mapped != nullptr) return mapped;
  }
  return nullptr;
}

int androidPath(const char* path, char* out, size_t size) {
  size_t length = strlen(kDataDirectory.path);
  bool data = strncmp(path, kDataDirectory.path, length) == 0;
  int n = data ? snprintf(out, size, "%s%s", kDataDirectory.vendorPath, path + length)
               : snprintf(out, size, "%s", path);
  return n >= 0 && static_cast<size_t>(n) < size ? 0 : -1;
}
