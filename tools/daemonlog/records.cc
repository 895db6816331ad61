// Reading the daemon's lines back; see records.h. The property, class and hot-plug formats are the
// daemon's own (platform/log_lines.h); the open-failure and saved-card lines are those of
// src/card/history_file.cc.
#include "daemonlog/records.h"

#include <stdio.h>

#include <string_view>

#include "platform/log_lines.h"

namespace daemonlog {
namespace {

// The literal text of a format of the daemon's between its n-th conversion and the next (0: before
// the first): what a reader matches, cut where the arguments go.
constexpr std::string_view piece(std::string_view format, int n) {
  size_t from = 0;
  for (; n > 0; n--) from = format.find('%', from) + 2;
  return format.substr(from, format.find('%', from) - from);
}

// The daemon's formats (platform/log_lines.h), each as it writes it.
constexpr std::string_view kGetPrefix = piece(logline::kPropertyGot, 0);
constexpr std::string_view kSetPrefix = piece(logline::kPropertySet, 0);
constexpr std::string_view kValueBetween = piece(logline::kPropertySet, 1);
constexpr std::string_view kValueEnd = piece(logline::kPropertySet, 2);
constexpr std::string_view kWriteFailed = piece(logline::kPropertySetFailed, 2);
constexpr std::string_view kEmptyPrefix = piece(logline::kPropertyEmpty, 0);
constexpr std::string_view kEmptyDefault = piece(logline::kPropertyEmptyWithDefault, 1);
constexpr std::string_view kEmptyDefaultEnd = piece(logline::kPropertyEmptyWithDefault, 2);
constexpr std::string_view kEmpty = piece(logline::kPropertyEmpty, 1);
constexpr std::string_view kHotplug = piece(logline::kHotplugMessage, 0);
constexpr char kOpenPrefix[] = "open \"";
constexpr char kOpenFail[] = "\" fail: %d - %n";
constexpr char kSavedCard[] = "Found a saved (U)SIM card info";

// A card class line of one of the two tables, as sscanf reads it ("%d" twice, then its length).
std::string classFormat(const char* indexFunction) {
  return indexFunction + std::string(piece(logline::kCardClass, 1)) + "%d" +
         std::string(piece(logline::kCardClass, 2)) + "%d%n";
}

bool startsWith(const std::string& s, std::string_view prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

bool endsWith(const std::string& s, std::string_view suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// "[N]: [V]" after a prefix, the value up to `end` (a property name holds no "]").
bool bracketed(const std::string& m, size_t from, std::string_view end, PropertyRecord* out) {
  const size_t between = m.find(kValueBetween, from);
  if (between == std::string::npos || !endsWith(m, end)) return false;
  const size_t value = between + kValueBetween.size();
  if (value > m.size() - end.size()) return false;
  out->name = m.substr(from, between - from);
  out->value = m.substr(value, m.size() - end.size() - value);
  return !out->name.empty();
}

bool emptyLine(const std::string& m, PropertyRecord* out) {
  const size_t from = kEmptyPrefix.size();
  const size_t withDefault = m.find(kEmptyDefault, from);
  if (withDefault != std::string::npos && endsWith(m, kEmptyDefaultEnd)) {
    out->kind = PropertyRecord::kDefaulted;
    out->name = m.substr(from, withDefault - from);
    const size_t value = withDefault + kEmptyDefault.size();
    out->value = m.substr(value, m.size() - kEmptyDefaultEnd.size() - value);
    return true;
  }
  if (!endsWith(m, kEmpty) || m.size() < from + kEmpty.size()) return false;
  out->kind = PropertyRecord::kUnset;
  out->name = m.substr(from, m.size() - kEmpty.size() - from);
  out->value.clear();
  return !out->name.empty();
}

}  // namespace

bool parseProperty(const std::string& m, PropertyRecord* out) {
  if (startsWith(m, kGetPrefix)) {
    out->kind = PropertyRecord::kRead;
    return bracketed(m, kGetPrefix.size(), kValueEnd, out);
  }
  if (startsWith(m, kSetPrefix)) {
    const bool failed = endsWith(m, kWriteFailed);
    out->kind = failed ? PropertyRecord::kWriteFailed : PropertyRecord::kWritten;
    return bracketed(m, kSetPrefix.size(), failed ? kWriteFailed : kValueEnd, out);
  }
  return startsWith(m, kEmptyPrefix) && emptyLine(m, out);
}

bool parseClass(const std::string& m, ClassRecord* out) {
  for (const char* table : {logline::kCapabilityIndexFunction, logline::kActualIndexFunction}) {
    int used = -1;
    if (sscanf(m.c_str(), classFormat(table).c_str(), &out->slot, &out->index, &used) == 2 &&
        used == static_cast<int>(m.size())) {
      out->actualTable = table == logline::kActualIndexFunction;
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
  *event = m.substr(kHotplug.size());
  return true;
}

bool isSavedCardLine(const std::string& m) { return m == kSavedCard; }

}  // namespace daemonlog
