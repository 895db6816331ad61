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
    "Usage: modemprep [--help | --version]\n"
    "\n"
    "Runs the daemon against the host root that MODEMPREP_ROOT=DIR names in the environment:\n"
    "DIR stands for / on the phone (DIR/dev/TTYEMS40 the modem, DIR/properties the property\n"
    "store, DIR/data/vantorel/radio its files). The radio log goes to standard error, in\n"
    "logcat's brief format, or its threadtime format with MODEMPREP_LOG_FORMAT=threadtime\n"
    "(brief when unset, empty or \"brief\"; any other value is refused).\n"
    "Exit status: 0 after --help or --version, or when a master-card switch is under way;\n"
    "2 a bad argument, root or log format (one line says which, nothing is touched).\n"
    "Otherwise it stays resident.\n";

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
