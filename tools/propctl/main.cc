// propctl: reads and writes the host property store the way the daemon sees it, and simulates a
// reboot (only persist. properties survive; init.log is cleared).
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

int usage() {
  std::cerr << "usage: propctl [--root DIR] get NAME\n"
               "       propctl [--root DIR] set NAME VALUE\n"
               "       propctl [--root DIR] list\n"
               "       propctl [--root DIR] reboot\n"
               "The root defaults to $MODEMPREP_ROOT, or / when unset.\n";
  return 2;
}

std::string rooted(const char* path) {
  char out[512];
  platformPath(path, out, sizeof out);
  return out;
}

int list() {
  std::ifstream in(rooted("/properties"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.find('=') != std::string::npos) std::cout << line << "\n";
  }
  return 0;
}

// Keeps what a phone keeps across a reboot: persist. properties and the files under /data.
int reboot() {
  int lock = open(rooted("/properties.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock < 0 || flock(lock, LOCK_EX) != 0) {
    perror("propctl: lock");
    return 1;
  }
  std::vector<std::string> kept;
  {
    std::ifstream in(rooted("/properties"));
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("persist.", 0) == 0 && line.find('=') != std::string::npos) {
        kept.push_back(line);
      }
    }
  }
  std::string temp = rooted("/properties.tmp.propctl");
  {
    std::ofstream out(temp);
    for (const std::string& line : kept) out << line << "\n";
  }
  int result = rename(temp.c_str(), rooted("/properties").c_str()) == 0 ? 0 : 1;
  unlink(rooted("/init.log").c_str());
  close(lock);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  int i = 1;
  if (i + 1 < argc && strcmp(argv[i], "--root") == 0) {
    setenv("MODEMPREP_ROOT", argv[i + 1], 1);
    i += 2;
  }
  if (i >= argc) return usage();
  std::string command = argv[i++];
  int rest = argc - i;
  if (command == "get" && rest == 1) {
    char value[PROPERTY_VALUE_SIZE];
    platformPropertyGet(argv[i], value);
    std::cout << value << "\n";
    return 0;
  }
  if (command == "set" && rest == 2) {
    if (platformPropertySet(argv[i], argv[i + 1]) == 0) return 0;
    std::cerr << "propctl: the store refused " << argv[i] << "\n";
    return 1;
  }
  if (command == "list" && rest == 0) return list();
  if (command == "reboot" && rest == 0) return reboot();
  return usage();
}
