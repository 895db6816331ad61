// The daemon's own log lines read back as records: the modem traffic, property reads and writes,
// init requests, hot-plug messages, time-outs, open failures and the decision lines with the
// inputs each decision read. The formats are the daemon's own definitions
// (platform/log_lines.h), so a reworded line changes writer and reader together, and the golden
// test of the reader fails when they part.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace daemonlog {

struct PropertyRecord {
  enum Kind {
    kRead,         // logline::kPropertyGot: the value the phone held
    kDefaulted,    // logline::kPropertyEmptyWithDefault: unset, the default used
    kUnset,        // logline::kPropertyEmpty: unset, no default
    kWritten,      // logline::kPropertySet
    kWriteFailed,  // logline::kPropertySetFailed
  } kind = kRead;
  std::string name, value;
  // What the phone held when the daemon read it: "" for an unset property.
  std::string held() const { return kind == kRead ? value : ""; }
  bool isRead() const { return kind == kRead || kind == kDefaulted || kind == kUnset; }
};
bool parseProperty(const std::string& message, PropertyRecord* out);

// logline::kCardClass: the class a slot's card had at a decision, in either table.
struct ClassRecord {
  bool actualTable = false;
  int slot = -1, index = -1;
};
bool parseClass(const std::string& message, ClassRecord* out);

// logline::kOpenFailed: a file the daemon could not open (the host root's prefix is kept).
struct OpenFailure {
  std::string path;
  int error = 0;
};
bool parseOpenFailure(const std::string& message, OpenFailure* out);

// logline::kHotplugMessage: a uevent the hot-plug monitor received.
bool parseHotplug(const std::string& message, std::string* event);

// logline::kSavedCard: the card query found the slot's card in the daemon's history.
bool isSavedCardLine(const std::string& message);

// logline::kBuildTime: the line that marks a start of the daemon.
bool isStartLine(const std::string& message);

// logline::kTraffic: "[N]>> ..." or "[N]<< ..." (the blank after "<<" may have been trimmed from
// an empty read).
struct Traffic {
  int standby = 0;
  bool sent = false;  // to the modem; else from it
  std::string shown;
};
bool parseTraffic(const std::string& message, Traffic* out);
// The traffic display turned back into bytes, and bytes shown as the daemon logs them (uncut).
std::string undisplay(const std::string& shown);
std::string display(const std::string& bytes);

// One message of the daemon as a record: {"kind": ..., its arguments by name}. Kinds: "traffic"
// (with "bytes", and "shown" as the line showed them: a read shown cut is as long as the cut),
// "property" and "init request" (with "op": read, defaulted, unset, written, write failed),
// "hotplug", "time-out", "open failure", "device", "card class", "combination", ... and "line" for
// a message of no known format. "varies": true marks a line whose arguments differ between two
// runs of the same inputs; a decision line carries "inputs" (the properties and modem answers its
// decision read, "classes" for both cards' classes) and "card" (the card's own inputs).
nlohmann::json readRecord(const std::string& message);

// The daemon's decisions by name.
namespace decision {
constexpr char kCardClass[] = "card class";
constexpr char kCapabilityCombination[] = "capability combination";
constexpr char kActualCombination[] = "actual combination";
constexpr char kModemRat[] = "modem rat";
constexpr char kRatList[] = "rat list";
constexpr char kRatListAfterModem[] = "rat list after modem";
constexpr char kActualRat[] = "actual rat";
constexpr char kMasterCard[] = "master card";
constexpr char kNvram[] = "nvram";
}  // namespace decision

// What a decision reads, as its decision line's record says it: "inputs" (the properties and
// modem answers, "classes" for both cards' classes) and, for a card's class, "card" (the card's
// own inputs).
nlohmann::json decisionReads(const char* decision);

}  // namespace daemonlog
