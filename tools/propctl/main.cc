// propctl: reads and writes the host property store the way the daemon sees it, and simulates a
// reboot (only persist. properties survive; init.log is cleared). It uses the daemon's own store
// code, so it locks, refuses and replaces the file exactly as the daemon does.
#include <errno.h>
#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <fstream>
#include <iostream>
#include <string>

#include "platform/host_store.h"
#include "platform/platform.h"

namespace {

constexpr char kUsage[] =
    "usage: propctl [--root DIR] get NAME\n"
    "       propctl [--root DIR] set NAME VALUE\n"
    "       propctl [--root DIR] list\n"
    "       propctl [--root DIR] reboot\n"
    "\n"
    "Reads and writes the property store of a host root (DIR/properties), as the daemon does.\n"
    "  get NAME         prints the value (an empty line when unset)\n"
    "  set NAME VALUE   writes it; ctl.start/ctl.restart/ctl.stop go to DIR/init.log\n"
    "  list             prints every name=value line\n"
    "  reboot           keeps only persist. properties and removes DIR/init.log\n"
    "Options may come anywhere: --root DIR (or --root=DIR; default $MODEMPREP_ROOT), --help.\n"
    "A value that starts with '-' follows \"--\": propctl set NAME -- -1\n";

int usageError(const std::string& message) {
  std::cerr << "propctl: " << message << " (try --help)\n";
  return 2;
}

int runtimeError(const std::string& message) {
  std::cerr << "propctl: " << message << "\n";
  return 1;
}

// The root must be an existing directory; a store that is missing in it is an empty store.
bool checkRoot(const char* root, std::string* problem) {
  struct stat info;
  if (stat(root, &info) != 0) {
    *problem = std::string("root \"") + root + "\": " + strerror(errno);
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    *problem = std::string("root \"") + root + "\": not a directory";
    return false;
  }
  return true;
}

int list(const char* root) {
  std::ifstream in(std::string(root) + "/properties");
  std::string line;
  while (std::getline(in, line)) {
    if (line.find('=') != std::string::npos) std::cout << line << "\n";
  }
  return 0;
}

int run(const char* root, int count, char** words) {
  std::string command = words[0];
  if (command == "get" && count == 2) {
    char value[PROPERTY_VALUE_SIZE] = {};
    hoststore::get(root, words[1], value, sizeof value);
    std::cout << value << "\n";
    return 0;
  }
  if (command == "set" && count == 3) {
    hoststore::Refusal refusal = hoststore::set(root, words[1], words[2]);
    if (refusal == hoststore::Refusal::kAccepted) return 0;
    return runtimeError(std::string("set ") + words[1] + ": " + hoststore::refusalText(refusal));
  }
  if (command == "list" && count == 1) return list(root);
  if (command == "reboot" && count == 1) {
    if (hoststore::reboot(root)) return 0;
    return runtimeError(std::string("reboot: cannot rewrite \"") + root + "/properties\"");
  }
  if (command != "get" && command != "set" && command != "list" && command != "reboot") {
    return usageError("unknown command \"" + command + "\"");
  }
  return usageError("wrong number of arguments for " + command);
}

}  // namespace

int main(int argc, char** argv) {
  static const option kOptions[] = {
      {"root", required_argument, nullptr, 'r'}, {"help", no_argument, nullptr, 'h'}, {}};
  const char* root = getenv("MODEMPREP_ROOT");
  opterr = 0;
  // getopt_long moves the options out of the way wherever they are; "--" ends them, so a value
  // that starts with '-' is given as "set NAME -- VALUE".
  for (int c; (c = getopt_long(argc, argv, ":", kOptions, nullptr)) != -1;) {
    if (c == 'h') {
      std::cout << kUsage;
      return 0;
    }
    if (c == 'r') {
      root = optarg;
    } else if (c == ':') {
      return usageError(std::string("option ") + argv[optind - 1] + " needs a value");
    } else {
      return usageError(std::string("unknown option ") + argv[optind - 1]);
    }
  }
  if (optind >= argc) return usageError("no command");
  if (root == nullptr || root[0] == '\0') return usageError("no root: give --root DIR");
  std::string problem;
  if (!checkRoot(root, &problem)) return runtimeError(problem);
  return run(root, argc - optind, argv + optind);
}
