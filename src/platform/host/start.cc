// The host daemon's command line and environment: --help, --version, and the root and log format
// checked before anything under the root is touched.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/host/instance.h"
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
    "1 another daemon runs on the root (\"already running on DIR\"); 2 a bad argument, root\n"
    "or log format (one line says which, nothing is touched).\n"
    "Otherwise it stays resident.\n";

// One daemon per root: a second one would take over the uevent socket and leave the first deaf.
bool lockRoot(const char* root, int* exitStatus) {
  int holder = 0;
  if (hostLockInstance(root, &holder)) {
    hostUseRoot(root);
    return true;
  }
  if (holder < 0) {
    fprintf(stderr, "modemprep: root \"%s\": cannot lock it: %s\n", root, strerror(errno));
    *exitStatus = 2;
  } else {
    char pid[24] = "";
    if (holder > 0) snprintf(pid, sizeof pid, " (pid %d)", holder);
    fprintf(stderr, "modemprep: already running on %s%s\n", root, pid);
    *exitStatus = 1;
  }
  return false;
}

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
  return lockRoot(root, exitStatus);
}
