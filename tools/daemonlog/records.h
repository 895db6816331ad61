// The daemon's own log lines read back as records: property reads and writes, card classes at a
// decision, the history's verdict. The formats are the daemon's own definitions
// (platform/log_lines.h), so a reworded line changes writer and reader together, and the golden
// test of the reader fails when they part.
#pragma once

#include <string>

namespace daemonlog {

struct PropertyRecord {
  enum Kind {
    kRead,         // "get property: [N]: [V]": the value the phone held
    kDefaulted,    // "property "N" is empty, use default value "V"": unset, the default used
    kUnset,        // "property "N" is empty": unset, no default
    kWritten,      // logline::kPropertySet
    kWriteFailed,  // logline::kPropertySetFailed
  } kind = kRead;
  std::string name, value;
  // What the phone held when the daemon read it: "" for an unset property.
  std::string held() const { return kind == kRead ? value : ""; }
  bool isRead() const { return kind == kRead || kind == kDefaulted || kind == kUnset; }
};
bool parseProperty(const std::string& message, PropertyRecord* out);

// "getIndexOf_STANDBY_RAT_CAPABILITY() of card N is X" (and the actual table's line): the class
// a slot's card had at a decision.
struct ClassRecord {
  bool actualTable = false;
  int slot = -1, index = -1;
};
bool parseClass(const std::string& message, ClassRecord* out);

// "open "PATH" fail: ERRNO - TEXT": a file the daemon could not open (the host root's prefix is
// kept in the path).
struct OpenFailure {
  std::string path;
  int error = 0;
};
bool parseOpenFailure(const std::string& message, OpenFailure* out);

// "sim_hot_plug_monitor_loop msg=M": a uevent the hot-plug monitor received.
bool parseHotplug(const std::string& message, std::string* event);

// The card query found the slot's card in the daemon's history.
bool isSavedCardLine(const std::string& message);

}  // namespace daemonlog
