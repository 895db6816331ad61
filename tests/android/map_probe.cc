// Prints what one Android integration's map (linked in) makes of each argument, one line each:
// "name:NAME" the property name handed to the property service, "value:NAME=VALUE" the value
// written to NAME, "path:PATH" the path opened; "-" when the integration has none. With
// "--registry" alone it prints the daemon's own declarations instead, as JSON: every property
// (name, kind, what the daemon does with it), every service and every fixed path.
#include <stdio.h>

#include <string>

#include "platform/android/property_map.h"
#include "platform/platform.h"
#include "platform/properties.h"

namespace {

constexpr const char* kKinds[] = {"runtime", "persistent", "read-only", "control", "service-state"};
constexpr const char* kFixedPaths[] = {kModemDevicePath, kFactoryFilePath, kCardHistoryPath,
                                       kRildConfigBasePath, kRestoreRecordPath};

void printRegistry() {
  printf("{\"properties\": [");
  const char* comma = "";
  for (const Property* p : kDaemonProperties) {
    printf("%s\n  {\"name\": \"%s\", \"kind\": \"%s\", \"reads\": %s, \"writes\": %s}", comma,
           p->name, kKinds[static_cast<int>(p->kind)], p->use & kReads ? "true" : "false",
           p->use & kWrites ? "true" : "false");
    comma = ",";
  }
  printf("],\n \"services\": [");
  comma = "";
  for (const Service* s : kDaemonServices) {
    printf("%s\"%s\"", comma, s->name);
    comma = ", ";
  }
  printf("],\n \"paths\": [");
  comma = "";
  for (const char* path : kFixedPaths) {
    printf("%s\"%s\"", comma, path);
    comma = ", ";
  }
  printf("]}\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--registry") {
    printRegistry();
    return 0;
  }
  for (int i = 1; i < argc; i++) {
    const std::string arg = argv[i], kind = arg.substr(0, arg.find(':') + 1),
                      rest = arg.substr(kind.size()), name = rest.substr(0, rest.find('='));
    char buffer[256];
    const char* result = nullptr;
    if (kind == "name:") {
      result = androidPropertyName(rest.c_str(), buffer, sizeof buffer);
    } else if (kind == "value:" && name != rest) {
      result =
          androidPropertyValue(name.c_str(), rest.c_str() + name.size() + 1, buffer, sizeof buffer);
    } else if (kind == "path:") {
      result = androidPath(rest.c_str(), buffer, sizeof buffer) == 0 ? buffer : nullptr;
    } else {
      fprintf(stderr, "map_probe: bad argument: %s\n", argv[i]);
      return 2;
    }
    printf("%s\n", result != nullptr ? result : "-");
  }
  return 0;
}
