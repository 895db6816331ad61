// The host property store as the tools read it: line by line through the store's own reader
// (hoststore::forEachLine), so that a tool sees exactly the properties the daemon sees, and
// refused whole when the file is no text store.
#pragma once

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/host/store.h"
#include "platform/platform.h"

namespace cli {

using StoreLines = std::vector<std::pair<std::string, std::string>>;  // name, value; file order

// ROOT/properties, where the store of a host root lives.
inline std::string storePath(const std::string& root) { return root + "/properties"; }

// How rootProblem begins for an existing directory the daemon has never run in.
constexpr char kNotADaemonRoot[] = "not a daemon root";

// Why `root` is not a folder the daemon has run in, or "" when it is: a daemon root holds at least
// one of the daemon's files (its property store, the factory file, its data directory).
inline std::string rootProblem(const std::string& root) {
  struct stat st;
  if (stat(root.c_str(), &st) != 0) return strerror(errno);
  if (!S_ISDIR(st.st_mode)) return "not a directory";
  const std::string factory = kFactoryFilePath, data = kDataDirectory.path;
  for (const std::string& mark : {storePath(root), root + factory, root + data}) {
    if (stat(mark.c_str(), &st) == 0) return "";
  }
  return std::string(kNotADaemonRoot) + ": none of properties, " + factory.substr(1) + ", " +
         data.substr(1) + " in it";
}

// The store's name=value lines (those without '=' are ignored, as the daemon ignores them).
// False with the reason in *why: the store is a directory, unreadable, or binary ("line N holds
// a NUL byte"). A missing store is an empty one.
inline bool readStore(const std::string& root, StoreLines* lines, std::string* why) {
  struct Reading {
    StoreLines* lines;
    int binaryLine = 0;
  } reading{lines};
  auto visit = [](void* context, const hoststore::Line& line) {
    Reading& r = *static_cast<Reading*>(context);
    if (r.binaryLine == 0 && memchr(line.text, '\0', line.length) != nullptr) {
      r.binaryLine = line.number;
    }
    // A name longer than the store's line buffer is none the daemon reads.
    if (line.nameLength >= line.length) return;
    r.lines->emplace_back(
        std::string(line.text, line.nameLength),
        std::string(line.text + line.nameLength + 1, line.length - line.nameLength - 1));
  };
  struct stat st;
  if (stat(storePath(root).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    *why = "is a directory";
    return false;
  }
  errno = 0;
  if (!hoststore::forEachLine(root.c_str(), visit, &reading)) {
    *why = errno == EISDIR ? "is a directory" : strerror(errno);
    return false;
  }
  if (reading.binaryLine != 0) {
    *why = "line " + std::to_string(reading.binaryLine) +
           " holds a NUL byte: a binary file, not a property store";
    return false;
  }
  return true;
}

}  // namespace cli
