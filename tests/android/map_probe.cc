// Prints what one Android integration's map (linked in) makes of each argument, one line each:
//   name:NAME           the property name handed to the property service
//   value:NAME=VALUE    the value written to NAME
//   path:PATH           the path opened
// "-" when the integration has none.
#include <stdio.h>
#include <string.h>

#include "platform/android_property_map.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; i++) {
    char buffer[256];
    const char* result = nullptr;
    const char* arg = argv[i];
    if (strncmp(arg, "name:", 5) == 0) {
      result = androidPropertyName(arg + 5, buffer, sizeof buffer);
    } else if (strncmp(arg, "value:", 6) == 0) {
      char name[256];
      const char* equals = strchr(arg + 6, '=');
      if (equals == nullptr) return 2;
      snprintf(name, sizeof name, "%.*s", static_cast<int>(equals - arg - 6), arg + 6);
      result = androidPropertyValue(name, equals + 1, buffer, sizeof buffer);
    } else if (strncmp(arg, "path:", 5) == 0) {
      result = androidPath(arg + 5, buffer, sizeof buffer) == 0 ? buffer : nullptr;
    } else {
      fprintf(stderr, "map_probe: bad argument: %s\n", arg);
      return 2;
    }
    printf("%s\n", result != nullptr ? result : "-");
  }
  return 0;
}
