// ueventsend: injects a uevent into the host daemon's socket.
//   ueventsend --root DIR [--count N] FIELD...   fields joined and terminated by NUL bytes
//   ueventsend --root DIR [--count N] --raw TEXT the bytes of TEXT as given
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "modemsim/uevent.h"

namespace {

int usage() {
  fprintf(stderr, "usage: ueventsend --root DIR [--count N] (--raw TEXT | FIELD...)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string root;
  std::vector<std::string> fields;
  bool raw = false;
  std::string rawText;
  long count = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--root" && i + 1 < argc) {
      root = argv[++i];
    } else if (a == "--raw" && i + 1 < argc) {
      raw = true;
      rawText = argv[++i];
    } else if (a == "--count" && i + 1 < argc) {
      char* end = nullptr;
      count = strtol(argv[++i], &end, 10);
      if (*end != '\0' || count < 1) return usage();
    } else {
      fields.push_back(a);
    }
  }
  if (root.empty() || raw == !fields.empty()) return usage();
  const std::string payload = raw ? rawText : modemsim::ueventPayload(fields);
  for (long i = 0; i < count; ++i) {
    std::string error;
    if (!modemsim::sendUevent(root, payload, &error)) {
      fprintf(stderr, "ueventsend: %s\n", error.c_str());
      return 1;
    }
  }
  return 0;
}
