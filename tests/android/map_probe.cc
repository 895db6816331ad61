// Prints what one Android integration's map (linked in) makes of each argument, one line each:
// "name:NAME" the property name handed to the property service, "value:NAME=VALUE" the value
// written to NAME, "path:PATH" the path opened; "-" when the integration has none.
#include <stdio.h>

#include <string>

#include "platform/android_property_map.h"

int main(int argc, char** argv) {
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
