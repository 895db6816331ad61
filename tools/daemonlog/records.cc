// Reading the daemon's lines back; see records.h. The formats are those of src/platform/
// platform.cc (getNamed, setProp), src/main/configure.cc (the class lines), src/card/query.cc,
// src/card/history_file.cc and src/hotplug/hotplug.cc.
#include "daemonlog/records.h"

#include <stdio.h>

namespace daemonlog {
namespace {

// The daemon's formats, each as it writes it, cut where its arguments go.
constexpr char kGetPrefix[] = "get property: [";
constexpr char kSetPrefix[] = "set property: [";
constexpr char kValueBetween[] = "]: [";
constexpr char kWriteFailed[] = "] failed";
constexpr char kEmptyPrefix[] = "property \"";
constexpr char kEmptyDefault[] = "\" is empty, use default value \"";
constexpr char kEmpty[] = "\" is empty";
constexpr char kCapabilityClass[] = "getIndexOf_STANDBY_RAT_CAPABILITY() of card %d is %d%n";
constexpr char kActualClass[] = "getIndexOf_STANDBY_ACTUAL_RAT() of card %d is %d%n";
constexpr char kOpenPrefix[] = "open \"";
constexpr char kOpenFail[] = "\" fail: %d - %n";
constexpr char kHotplug[] = "sim_hot_plug_monitor_loop msg=";
constexpr char kSavedCard[] = "Found a saved (U)SIM card info";

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// "[N]: [V]" after a prefix, the value up to `end` (a property name holds no "]").
bool bracketed(const std::string& m, size_t from, const std::string& end, PropertyRecord* out) {
  const size_t between = m.find(kValueBetween, from);
  if (between == std::string::npos || !endsWith(m, end)) return false;
  const size_t value = between + sizeof kValueBetween - 1;
  if (value > m.size() - end.size()) return false;
  out->name = m.substr(from, between - from);
  out->value = m.substr(value, m.size() - end.size() - value);
  return !out->name.empty();
}

bool emptyLine(const std::string& m, PropertyRecord* out) {
  const size_t from = sizeof kEmptyPrefix - 1;
  const size_t withDefault = m.find(kEmptyDefault, from);
  if (withDefault != std::string::npos && endsWith(m, "\"")) {
    out->kind = PropertyRecord::kDefaulted;
    out->name = m.substr(from, withDefault - from);
    const size_t value = withDefault + sizeof kEmptyDefault - 1;
    out->value = m.substr(value, m.size() - 1 - value);
    return true;
  }
  if (!endsWith(m, kEmpty) || m.size() < from + sizeof kEmpty - 1) return false;
  out->kind = PropertyRecord::kUnset;
  out->name = m.substr(from, m.size() - (sizeof kEmpty - 1) - from);
  out->value.clear();
  return !out->name.empty();
}

}  // namespace

bool parseProperty(const std::string& m, PropertyRecord* out) {
  if (startsWith(m, kGetPrefix)) {
    out->kind = PropertyRecord::kRead;
    return bracketed(m, sizeof kGetPrefix - 1, "]", out);
  }
  if (startsWith(m, kSetPrefix)) {
    const bool failed = endsWith(m, kWriteFailed);
    out->kind = failed ? PropertyRecord::kWriteFailed : PropertyRecord::kWritten;
    return bracketed(m, sizeof kSetPrefix - 1, failed ? kWriteFailed : "]", out);
  }
  return startsWith(m, kEmptyPrefix) && emptyLine(m, out);
}

bool parseClass(const std::string& m, ClassRecord* out) {
  int used = -1;
  for (const char* format : {kCapabilityClass, kActualClass}) {
    if (sscanf(m.c_str(), format, &out->slot, &out->index, &used) == 2 &&
        used == static_cast<int>(m.size())) {
      out->actualTable = format == kActualClass;
      return true;
    }
  }
  return false;
}

bool parseOpenFailure(const std::string& m, OpenFailure* out) {
  if (!startsWith(m, kOpenPrefix)) return false;
  const size_t from = sizeof kOpenPrefix - 1;
  const size_t end = m.rfind("\" fail: ");
  int used = -1;
  if (end == std::string::npos || end < from ||
      sscanf(m.c_str() + end, kOpenFail, &out->error, &used) != 1 || used < 0) {
    return false;
  }
  out->path = m.substr(from, end - from);
  return true;
}

bool parseHotplug(const std::string& m, std::string* event) {
  if (!startsWith(m, kHotplug)) return false;
  *event = m.substr(sizeof kHotplug - 1);
  return true;
}

bool isSavedCardLine(const std::string& m) { return m == kSavedCard; }

}  // namespace daemonlog
