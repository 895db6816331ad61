// What the workstation tools share on their command lines (each parses with getopt_long).
#pragma once

#include <getopt.h>
#include <stdio.h>
#include <string.h>

#include <string>

namespace cli {

constexpr int kUsageStatus = 2;    // every tool's exit status for a bad command line
constexpr int kRuntimeStatus = 1;  // ... and for a file or root it cannot use

#ifdef MODEMPREP_VERSION
// --version, as every program prints it: the package version, with the commit of the build.
inline int printVersion(const char* tool) {
  printf("%s %s\n", tool, MODEMPREP_VERSION);
  return fflush(stdout) == 0 ? 0 : kRuntimeStatus;
}
#endif

// Names the bad argument on stderr, as every tool words it; returns kUsageStatus.
inline int usageError(const char* tool, const std::string& why) {
  fprintf(stderr, "%s: %s (try --help)\n", tool, why.c_str());
  return kUsageStatus;
}

// Names the file (or root) and what is wrong with it on stderr; returns kRuntimeStatus.
inline int fileError(const char* tool, const std::string& path, const std::string& why) {
  fprintf(stderr, "%s: %s: %s\n", tool, path.c_str(), why.c_str());
  return kRuntimeStatus;
}

// What getopt_long refused, as it was written: "--bogus", "--help=1" or the bad letter of "-xy".
inline std::string refusedOption(char** argv) {
  const char* arg = argv[optind - 1];
  if (strncmp(arg, "--", 2) == 0 && strchr(arg, '=') != nullptr && optopt != 0) {
    return std::string("option ") + std::string(arg, strchr(arg, '=')) + " takes no value";
  }
  if (strncmp(arg, "--", 2) == 0 || optopt == 0) return std::string("unknown option ") + arg;
  return std::string("unknown option -") + static_cast<char>(optopt);
}

// An option given without the value it takes, as it was written.
inline std::string missingValue(char** argv) {
  return std::string("option ") + argv[optind - 1] + " needs a value";
}

}  // namespace cli
