// propctl: reads and writes the host property store the way the daemon sees it, and simulates a
// reboot (only persist. properties survive; init.log is cleared). It uses the daemon's own store
// code, so it locks, refuses and replaces the file exactly as the daemon does.
#include <errno.h>
#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <iostream>
#include <string>

#include "cli/files.h"
#include "cli/options.h"
#include "cli/store.h"
#include "platform/host/store.h"
#include "platform/platform.h"

namespace {

constexpr char kTool[] = "propctl";

constexpr char kUsage[] =
    "Usage: propctl [--root DIR] get NAME\n"
    "  or:  propctl [--root DIR] set NAME VALUE\n"
    "  or:  propctl [--root DIR] list\n"
    "  or:  propctl [--root DIR] reboot\n"
    "\n"
    "Reads and writes the property store of a host root (DIR/properties), as the daemon does.\n"
    "  get NAME         prints the value (an empty line when unset)\n"
    "  set NAME VALUE   writes it; ctl.start/ctl.restart/ctl.stop go to DIR/init.log\n"
    "  list             prints every name=value line (a NUL byte as \\x00); a line without\n"
    "                   '=' is no property: named on stderr (set and reboot drop it)\n"
    "  reboot           keeps only persist. properties and removes DIR/init.log\n"
    "Options may come anywhere: --root DIR (or --root=DIR; default $MODEMPREP_ROOT), --create\n"
    "(DIR need not be a daemon root yet: no properties, amt/ or data/ in it), --help, --version.\n"
    "A value that starts with '-' follows \"--\": propctl set NAME -- -1\n"
    "A set is refused, as the property service would, for an empty name, a name over 256\n"
    "bytes or holding '=' or a line break, a value over 91 bytes or holding a line break, an\n"
    "ro. name already set, a name listed in DIR/properties.refuse.\n"
    "Exit status: 0 done, 1 refused or the store unusable (the reason is printed), 2 a bad\n"
    "command line.\n";

int runtimeError(const std::string& message) {
  std::cerr << "propctl: " << message << "\n";
  return 1;
}

// getopt_long's refusal; a negative number is most likely a value that wanted "--".
std::string refusedOption(char** argv) {
  std::string message = cli::refusedOption(argv);
  if (optopt >= '0' && optopt <= '9') message += " (a value that starts with '-' follows \"--\")";
  return message;
}

// A property name for a message: quoted, and cut when it is too long to read.
std::string shownName(const std::string& name) {
  constexpr size_t kShown = 60;
  if (name.size() <= kShown) return "\"" + name + "\"";
  return "\"" + name.substr(0, kShown) + "...\" (" + std::to_string(name.size()) + " bytes)";
}

// The root must be a folder the daemon has run in (as radioplan checks it), or, with --create, a
// directory that becomes one; a store that is missing in a root is an empty store.
int rootError(const char* root, bool create) {
  const std::string problem = cli::rootProblem(root);
  const bool notYet = problem.rfind(cli::kNotADaemonRoot, 0) == 0;
  if (problem.empty() || (create && notYet)) return 0;
  return cli::fileError(kTool, root, problem + (notYet ? " (--create makes it one)" : ""));
}

// A store line as text: a NUL byte, which the store keeps like any other byte, shown as \x00.
std::string shownLine(const char* text, size_t length) {
  std::string shown;
  for (size_t i = 0; i < length; i++) {
    if (text[i] == '\0') {
      shown += "\\x00";
    } else {
      shown += text[i];
    }
  }
  return shown;
}

// Whether the lines are printed (list), and where they come from.
struct Listing {
  bool print;
  std::string store;
};

void visitLine(void* context, const hoststore::Line& line) {
  const Listing& listing = *static_cast<const Listing*>(context);
  const std::string shown = shownLine(line.text, line.length);
  if (line.nameLength == hoststore::kNotAProperty) {
    fprintf(stderr,
            "propctl: %s: line %d \"%s\" has no '=': not a property, dropped by the "
            "store's next write\n",
            listing.store.c_str(), line.number, shown.c_str());
    return;
  }
  if (!listing.print) return;
  if (line.fullLength > line.length) {
    fprintf(stderr, "propctl: %s: line %d holds %zu bytes: listed to its first %zu (kept whole)\n",
            listing.store.c_str(), line.number, line.fullLength, line.length);
  }
  std::cout << shown << "\n";
}

// The store's lines, read as the daemon reads them (by length, through the store's own reader);
// a missing store is an empty one. Only what the daemon ignores is left out, and named, so that
// a set or a reboot names what it is about to drop.
int list(const char* root, bool print) {
  Listing listing = {print, cli::storePath(root)};
  struct stat info;
  if (stat(listing.store.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    return cli::fileError(kTool, listing.store, "is a directory");
  }
  errno = 0;
  if (!hoststore::forEachLine(root, visitLine, &listing)) {
    return cli::fileError(kTool, listing.store, cli::reason(errno));
  }
  return 0;
}

// The store's own refusals say what was wrong with the write; a root it could not use is
// told by the system's reason.
int refused(const char* root, const char* name, hoststore::Refusal refusal, int error) {
  std::string why = hoststore::refusalText(refusal);
  if (refusal == hoststore::Refusal::kNoRoot) {
    why = std::string("cannot write the store in \"") + root + "\": " + strerror(error);
  }
  return runtimeError("set " + shownName(name) + ": " + why);
}

struct Command {
  const char* name;
  int words;  // the command's own word included
};
constexpr Command kCommands[] = {{"get", 2}, {"set", 3}, {"list", 1}, {"reboot", 1}};

// A usage problem of the command words, or "" when they are fine.
std::string checkWords(int count, char** words) {
  for (const Command& command : kCommands) {
    if (strcmp(words[0], command.name) != 0) continue;
    if (count == command.words) return "";
    return std::string(count < command.words ? "too few" : "too many") + " arguments for " +
           command.name;
  }
  return std::string("unknown command \"") + words[0] + "\"";
}

int run(const char* root, char** words) {
  const std::string command = words[0];
  // Every command reads the store first: list prints it; the others refuse a store they cannot
  // read, and name the lines that are no property.
  if (const int status = list(root, command == "list")) return status;
  if (command == "list") return 0;
  if (command == "get") {
    char value[PROPERTY_VALUE_SIZE] = {};
    hoststore::get(root, words[1], value, sizeof value);
    std::cout << value << "\n";
    return 0;
  }
  if (command == "set") {
    errno = 0;
    hoststore::Refusal refusal = hoststore::set(root, words[1], words[2]);
    if (refusal == hoststore::Refusal::kAccepted) return 0;
    return refused(root, words[1], refusal, errno);
  }
  errno = 0;
  if (hoststore::reboot(root)) return 0;
  return runtimeError(std::string("reboot: cannot rewrite \"") + root +
                      "/properties\": " + strerror(errno));
}

}  // namespace

int main(int argc, char** argv) {
  static const option kOptions[] = {{"root", required_argument, nullptr, 'r'},
                                    {"create", no_argument, nullptr, 'c'},
                                    {"help", no_argument, nullptr, 'h'},
                                    {"version", no_argument, nullptr, 'V'},
                                    {}};
  const char* root = getenv("MODEMPREP_ROOT");
  bool create = false;
  opterr = 0;
  // getopt_long moves the options out of the way wherever they are; "--" ends them, so a value
  // that starts with '-' is given as "set NAME -- VALUE".
  for (int c; (c = getopt_long(argc, argv, ":", kOptions, nullptr)) != -1;) {
    if (c == 'h') {
      std::cout << kUsage;
      return 0;
    }
    if (c == 'V') return cli::printVersion(kTool);
    if (c == 'r') {
      root = optarg;
    } else if (c == 'c') {
      create = true;
    } else if (c == ':') {
      return cli::usageError(kTool, cli::missingValue(argv));
    } else {
      return cli::usageError(kTool, refusedOption(argv));
    }
  }
  if (optind >= argc) return cli::usageError(kTool, "no command");
  const std::string wordProblem = checkWords(argc - optind, argv + optind);
  if (!wordProblem.empty()) return cli::usageError(kTool, wordProblem);
  if (root == nullptr || root[0] == '\0') return cli::usageError(kTool, "no root: give --root DIR");
  if (const int status = rootError(root, create)) return status;
  return run(root, argv + optind);
}
