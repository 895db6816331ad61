// ueventsend: injects a uevent into the host daemon's socket (<root>/dev/uevent.sock).
#include <errno.h>
#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "cli/options.h"
#include "modemsim/uevent.h"

namespace {

constexpr char kTool[] = "ueventsend";

constexpr char kUsage[] =
    "Usage: ueventsend [--root DIR] [--count N] FIELD...\n"
    "  or:  ueventsend [--root DIR] [--count N] --raw TEXT\n"
    "\n"
    "Sends one uevent datagram to %s, where a host daemon listens:\n"
    "  FIELD...     the fields, each ended by a NUL byte, as the kernel writes them, e.g.\n"
    "               ueventsend change@/devices/virtual/sim/sim1 USIM1 IN\n"
    "  --raw TEXT   the bytes of TEXT as given (for malformed events)\n"
    "  --count N    the same datagram N times (default 1)\n"
    "  --root DIR   the host root (default $MODEMPREP_ROOT)\n"
    "  --help, --version\n"
    "Options may come anywhere and as --opt=value; a field that starts with '-' follows \"--\".\n"
    "While nobody listens on the socket it retries for 5 s.\n"
    "Exit status: 0 sent, 1 not sent (the reason is printed), 2 a bad command line.\n";

}  // namespace

int main(int argc, char** argv) {
  static const option kOptions[] = {
      {"root", required_argument, nullptr, 'r'}, {"count", required_argument, nullptr, 'c'},
      {"raw", required_argument, nullptr, 'x'},  {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},    {}};
  const char* root = getenv("MODEMPREP_ROOT");
  const char* raw = nullptr;
  long count = 1;
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, ":", kOptions, nullptr)) != -1;) {
    if (c == 'h') {
      printf(kUsage, modemsim::ueventSocketPath("DIR").c_str());
      return 0;
    } else if (c == 'V') {
      return cli::printVersion(kTool);
    } else if (c == 'r') {
      root = optarg;
    } else if (c == 'x') {
      raw = optarg;
    } else if (c == 'c') {
      char* end = nullptr;
      errno = 0;
      count = strtol(optarg, &end, 10);
      if (end == optarg || *end != '\0' || errno != 0 || count < 1 || count > 1000000) {
        return cli::usageError(
            kTool, std::string("--count \"") + optarg + "\": not a number from 1 to 1000000");
      }
    } else if (c == ':') {
      return cli::usageError(kTool, cli::missingValue(argv));
    } else {
      return cli::usageError(kTool, cli::refusedOption(argv));
    }
  }
  std::vector<std::string> fields(argv + optind, argv + argc);
  if (raw != nullptr && !fields.empty()) {
    return cli::usageError(kTool, "--raw and fields exclude each other: \"" + fields[0] + "\"");
  }
  if (raw == nullptr && fields.empty())
    return cli::usageError(kTool, "no fields and no --raw TEXT");
  if (root == nullptr || root[0] == '\0') return cli::usageError(kTool, "no root: give --root DIR");
  struct stat info;
  const bool found = stat(root, &info) == 0;
  if (!found || !S_ISDIR(info.st_mode)) {
    fprintf(stderr, "ueventsend: root \"%s\": %s\n", root,
            found ? "not a directory" : strerror(errno));
    return 1;
  }
  const std::string payload = raw != nullptr ? raw : modemsim::ueventPayload(fields);
  for (long i = 0; i < count; ++i) {
    std::string error;
    if (!modemsim::sendUevent(root, payload, &error)) {
      fprintf(stderr, "ueventsend: %s\n", error.c_str());
      return 1;
    }
  }
  return 0;
}
