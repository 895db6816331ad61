// Prints as JSON what the Android integration linked in (its name map) makes of every property the
// daemon reads or writes and every service it asks init for, as platform/properties.h declares
// them, and of every fixed path it opens (platform/platform.h): scripts/android_check.py and
// tests/android take the names from here. A name the map has no answer for is null.
#include <stdio.h>
#include <string.h>

#include <string>

#include "platform/android/property_map.h"
#include "platform/platform.h"
#include "platform/properties.h"

namespace {

constexpr const char* kFixedPaths[] = {kModemDevicePath, kFactoryFilePath, kCardHistoryPath,
                                       kRildConfigBasePath, kRestoreRecordPath};
constexpr int kStandbys = 2;  // a dual-SIM phone's: labels go by prefix, two show the pattern

// name, or with its "%d" suffix replaced by standby.
std::string expand(const char* name, int standby) {
  std::string text = name;
  size_t at = text.rfind("%d");
  return at == std::string::npos ? text : text.replace(at, 2, std::to_string(standby));
}

int count(const char* name) { return strstr(name, "%d") != nullptr ? kStandbys : 1; }

// Names and paths are the daemon's constants: no character needs escaping.
std::string quoted(const char* text) {
  return text == nullptr ? "null" : "\"" + std::string(text) + "\"";
}

const char* separator(bool* first) {
  const char* text = *first ? "\n  " : ",\n  ";
  *first = false;
  return text;
}

void printProperties() {
  bool first = true;
  for (const Property* property : kDaemonProperties) {
    if (property->kind == PropertyKind::kControl) continue;
    for (int standby = 0; standby < count(property->name); standby++) {
      std::string name = expand(property->name, standby);
      char buffer[128];
      printf("%s{\"name\": %s, \"target\": %s, \"read\": %s, \"write\": %s}", separator(&first),
             quoted(name.c_str()).c_str(),
             quoted(androidPropertyName(name.c_str(), buffer, sizeof buffer)).c_str(),
             (property->use & kReads) != 0 ? "true" : "false",
             (property->use & kWrites) != 0 ? "true" : "false");
    }
  }
}

void printControls() {
  bool first = true;
  for (const Property* control : kDaemonProperties) {
    if (control->kind != PropertyKind::kControl) continue;
    for (const Service* service : kDaemonServices) {
      for (int standby = 0; standby < count(service->name); standby++) {
        std::string name = expand(service->name, standby);
        char nameBuffer[128], valueBuffer[128];
        const char* property = androidPropertyName(control->name, nameBuffer, sizeof nameBuffer);
        printf("%s{\"property\": %s, \"target\": %s, \"service\": %s, \"target_service\": %s}",
               separator(&first), quoted(control->name).c_str(), quoted(property).c_str(),
               quoted(name.c_str()).c_str(),
               quoted(androidPropertyValue(control->name, name.c_str(), valueBuffer,
                                           sizeof valueBuffer))
                   .c_str());
      }
    }
  }
}

void printPaths() {
  bool first = true;
  for (const char* path : kFixedPaths) {
    char buffer[256];
    printf("%s{\"path\": %s, \"target\": %s}", separator(&first), quoted(path).c_str(),
           quoted(androidPath(path, buffer, sizeof buffer) == 0 ? buffer : nullptr).c_str());
  }
}

}  // namespace

int main() {
  printf("{\"properties\": [");
  printProperties();
  printf("],\n\"controls\": [");
  printControls();
  printf("],\n\"paths\": [");
  printPaths();
  printf("]}\n");
  return 0;
}
