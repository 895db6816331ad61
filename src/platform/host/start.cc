// The host daemon's command line and environment: --help, --version, and the root and log format
// checked before anything under the root is touched.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/host/log.h"
#include "platform/host/root.h"
#include "platform/platform.h"

#ifndef MODEMPREP_VERSION
#define MODEMPREP_VERSION "unknown"
#endif

namespace {

constexpr char kUsage[] =
    "usage: MODEMPREP_ROOT=DIR modemprep\n"
    "Runs the daemon against a host root: DIR stands for / on the phone (DIR/dev/TTYEMS40 the\n"
    "modem, DIR/properties the property store, DIR/data/vantorel/radio its files). The radio\n"
    "log goes to standard error, in logcat's brief format, or its threadtime format with\n"
    "MODEMPREP_LOG_FORMAT=threadtime (brief when unset, empty or \"brief\"; any other value\n"
    "is refused). Options: --help, --version.\n";

}  // namespace

bool platformStart(int argc, char** argv, int* exitStatus) {
  if (argc > 1) {
    bool help = strcmp(argv[1], "--help") == 0, version = strcmp(argv[1], "--version") == 0;
    if (argc == 2 && (help || version)) {
      fputs(help ? kUsage : "modemprep " MODEMPREP_VERSION "\n", stdout);
      *exitStatus = 0;
    } else {
      fprintf(stderr, "modemprep: unexpected argument \"%s\" (try --help)\n",
              help || version ? argv[2] : argv[1]);
      *exitStatus = 2;
    }
    return false;
  }
  const char* format = getenv(kLogFormatVariable);
  if (!hostLogFormatKnown(format)) {
    fprintf(stderr, "modemprep: %s \"%s\": not a log format (brief or threadtime)\n",
            kLogFormatVariable, format);
    *exitStatus = 2;
    return false;
  }
  const char* root = getenv("MODEMPREP_ROOT");
  if (const char* reason = hostRootProblem(root)) {
    fprintf(stderr, "modemprep: root \"%s\": %s\n", root == nullptr ? "" : root, reason);
    *exitStatus = 2;
    return false;
  }
  hostUseRoot(root);
  return true;
}
