// Reading the daemon's lines back; see records.h. Every format is the daemon's own
// (platform/log_lines.h), matched by cutting it where its arguments go; the names of properties
// and commands a decision reads are the daemon's declarations.
#include "daemonlog/records.h"

#include <stdlib.h>

#include <array>
#include <iterator>
#include <string_view>
#include <vector>

#include "card/classify.h"
#include "modem/commands.h"
#include "platform/log_lines.h"
#include "platform/properties.h"

namespace daemonlog {
namespace {

using Json = nlohmann::json;

// One conversion of a format: its letter ('s', 'd') and where the literal after it starts.
struct Conversion {
  char letter;
  size_t end;
};

// The conversion at format[at] ('%'): "%s", "%d", "%ld".
Conversion conversionAt(std::string_view format, size_t at) {
  size_t i = at + 1;
  if (format[i] == 'l') i++;
  return {format[i], i + 1};
}

bool isNumber(std::string_view text) {
  size_t i = !text.empty() && text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  for (; i < text.size(); i++) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

// The arguments of `message` written with `format`, or false when it is not that format's line.
// Each argument runs up to the next literal piece's first occurrence, the last piece ends the
// message; a number must be one.
bool match(std::string_view format, std::string_view m, std::vector<std::string_view>* args) {
  args->clear();
  size_t pct = format.find('%');
  std::string_view piece = format.substr(0, pct);
  if (m.substr(0, piece.size()) != piece) return false;
  size_t at = piece.size();
  while (pct != std::string_view::npos) {
    const Conversion c = conversionAt(format, pct);
    pct = format.find('%', c.end);
    piece = format.substr(c.end, pct == std::string_view::npos ? pct : pct - c.end);
    const bool last = pct == std::string_view::npos;
    size_t end = last ? m.size() - piece.size() : m.find(piece, at);
    if (last && (m.size() < piece.size() || m.substr(end) != piece)) return false;
    if (end == std::string_view::npos || end < at) return false;
    const std::string_view arg = m.substr(at, end - at);
    if (c.letter == 'd' && !isNumber(arg)) return false;
    args->push_back(arg);
    at = end + piece.size();
  }
  return at == m.size();
}

// A known line: its kind, the operation it names, its format, the names of its arguments.
struct Format {
  const char* kind;
  const char* op;
  const char* format;
  std::array<const char*, 5> fields;
  bool varies;
};

// Order matters where one format's line also fits another: a failed write before the write, the
// defaulted read before the unset one.
constexpr Format kFormats[] = {
    {"property", "read", logline::kPropertyGot, {"name", "value"}, false},
    {"property", "defaulted", logline::kPropertyEmptyWithDefault, {"name", "value"}, false},
    {"property", "unset", logline::kPropertyEmpty, {"name"}, false},
    {"property", "write failed", logline::kPropertySetFailed, {"name", "value"}, false},
    {"property", "written", logline::kPropertySet, {"name", "value"}, false},
    {"hotplug", nullptr, logline::kHotplugMessage, {"event"}, false},
    {"line lost", nullptr, logline::kLineLost, {"path"}, false},
    {"time-out", nullptr, logline::kReadTimeOut, {"from_s", "from_ns", "to_s", "to_ns"}, false},
    {"open failure", nullptr, logline::kOpenFailed, {"path", "error", "reason"}, false},
    {"saved card", nullptr, logline::kSavedCard, {}, false},
    {"card class", nullptr, logline::kCardClass, {"function", "slot", "class"}, false},
    {"card not covered",
     nullptr,
     logline::kCardNotCovered,
     {"table", "status", "type", "locale"},
     false},
    {"combination", "actual", logline::kActualCombination, {"combination"}, false},
    {"combination", "capability", logline::kCapabilityCombination, {"combination"}, false},
    {"modem rat", nullptr, logline::kModemRat, {"rat"}, false},
    {"rat list", "before", logline::kRatListBefore, {"list"}, false},
    {"rat list", "after", logline::kRatListAfter, {"list"}, false},
    {"actual rat", "single card", logline::kActualRatSingleCard, {}, false},
    {"actual rat", "manual", logline::kActualRatManual, {"rat", "standby", "other"}, false},
    {"actual rat", "dstmex", logline::kActualRatDstmex, {"dstmex0", "dstmex1"}, false},
    {"switch nvram", nullptr, logline::kSwitchNvram, {"switch"}, false},
    {"imei", nullptr, logline::kImeis, {"imei0", "imei1"}, false},
    {"rild file", nullptr, logline::kOldDstmex, {"standby", "old", "new", "restart"}, false},
    {"rild round", nullptr, logline::kRildRound, {"switch_modem", "hotplug_sim"}, false},
    {"rild request", nullptr, logline::kRildRequest, {"service"}, false},
    {"rild hotplug restart", nullptr, logline::kRildHotplugRestart, {"restart", "slot"}, false},
    {"boot marker", nullptr, logline::kBootUp, {}, true},
    {"start", nullptr, logline::kBuildTime, {}, true},
    {"resident", nullptr, logline::kResident, {"fd"}, true},
    {"device", "ready", logline::kDeviceReady, {"path"}, true},
    {"device",
     "open failed",
     logline::kDeviceOpenFailed,
     {"attempt", "attempts", "path", "error", "reason"},
     true},
    {"device",
     "absent",
     logline::kDeviceAbsent,
     {"attempt", "attempts", "path", "error", "reason"},
     true},
};

// What a decision reads: "classes" (both cards' classes), a command (the modem's last answer to
// it) or a property; kCard: the card the line names, with kCardAnswers and kCardProperties.
constexpr char kCard[] = "card";
constexpr char kClasses[] = "classes";
constexpr const char* kCapability = modemCommand(ModemCommand::kCapability).text;
constexpr const char* kCardAnswers[] = {
    cardCommand(CardCommand::kStatusOn).command.text, cardCommand(CardCommand::kId).command.text,
    cardCommand(CardCommand::kImsi).command.text, cardCommand(CardCommand::kType).command.text};
constexpr const char* kCardProperties[] = {prop::kProjectTarget.name, prop::kCmccPlmnList.name,
                                           prop::kCuccPlmnList.name};

// Each decision the daemon makes and what its code reads.
struct Decision {
  const char* name;
  std::array<const char*, 5> inputs;
};
constexpr Decision kDecisions[] = {
    {decision::kCardClass, {kCard}},
    {decision::kCapabilityCombination, {kClasses}},
    {decision::kActualCombination, {kClasses}},
    {decision::kModemRat, {kCapability}},
    {decision::kRatList, {prop::kProjectRat.name}},
    {decision::kRatListAfterModem, {prop::kProjectRat.name, kCapability}},
    {decision::kActualRat, {kClasses, prop::kPrefNetType.name, prop::kManualRat.name}},
    {decision::kMasterCard,
     {kClasses, prop::kDefaultData.name, prop::kMasterCard.name, prop::kManualRat.name,
      prop::kDynamicRat.name}},
    {decision::kNvram, {kCapability, kClasses, prop::kManualRat.name}},
};

// The lines a decision shows itself in: a format's line, the write of a property, or a command
// sent.
struct Decider {
  const char* format;
  const char* written;
  const char* sent;
  const char* decision;
};
constexpr Decider kDeciders[] = {
    {logline::kCardClass, nullptr, nullptr, decision::kCardClass},
    {logline::kCapabilityCombination, nullptr, nullptr, decision::kCapabilityCombination},
    {logline::kActualCombination, nullptr, nullptr, decision::kActualCombination},
    {logline::kModemRat, nullptr, nullptr, decision::kModemRat},
    {logline::kRatListBefore, nullptr, nullptr, decision::kRatList},
    {logline::kRatListAfter, nullptr, nullptr, decision::kRatListAfterModem},
    {logline::kActualRatSingleCard, nullptr, nullptr, decision::kActualRat},
    {logline::kActualRatManual, nullptr, nullptr, decision::kActualRat},
    {logline::kActualRatDstmex, nullptr, nullptr, decision::kActualRat},
    {nullptr, prop::kActualRat.name, nullptr, decision::kActualRat},
    {nullptr, prop::kMasterCard.name, nullptr, decision::kMasterCard},
    {logline::kSwitchNvram, nullptr, nullptr, decision::kNvram},
    {nullptr, prop::kSwapNvram.name, nullptr, decision::kNvram},
    {nullptr, nullptr, cardCommand(CardCommand::kImsi).command.text, decision::kCardClass},
    {nullptr, nullptr, cardCommand(CardCommand::kType).command.text, decision::kCardClass},
    {logline::kSavedCard, nullptr, nullptr, decision::kCardClass},
};

bool startsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

bool isControl(const std::string& name) {
  for (const Property* p : kDaemonProperties) {
    if (p->kind == PropertyKind::kControl && name == p->name) return true;
  }
  return false;
}

bool decides(const Decider& d, const char* format, const Json& r) {
  if (d.format != nullptr) return d.format == format;
  if (d.written != nullptr)
    return r.value("op", "") == "written" && r.value("name", "") == d.written;
  return r["kind"] == "traffic" && r["direction"] == "sent" &&
         startsWith(r["bytes"].get<std::string>(), d.sent);
}

// The inputs the decision shown in record r read, if it is a decision line.
void addInputs(const char* format, Json* r) {
  for (const Decider& d : kDeciders) {
    if (!decides(d, format, *r)) continue;
    r->update(decisionReads(d.decision));
    if (!r->contains("card")) return;
    if (r->contains("slot")) (*r)["card"]["slot"] = (*r)["slot"];
    if (r->contains("standby")) (*r)["card"]["slot"] = (*r)["standby"];
    return;
  }
}

Json trafficRecord(const Traffic& t) {
  return {{"kind", "traffic"},
          {"standby", t.standby},
          {"direction", t.sent ? "sent" : "received"},
          {"bytes", undisplay(t.shown)},
          {"shown", t.shown}};
}

// The record of a line of one of kFormats.
Json formatRecord(const Format& f, const std::vector<std::string_view>& args) {
  Json r = {{"kind", f.kind}};
  if (f.op != nullptr) r["op"] = f.op;
  std::string_view format = f.format;
  size_t pct = format.find('%');
  for (size_t i = 0; i < args.size(); i++, pct = format.find('%', pct + 1)) {
    const std::string arg(args[i]);
    if (f.fields[i] == nullptr) continue;
    const bool number = conversionAt(format, pct).letter == 'd';
    r[f.fields[i]] = number ? Json(strtoll(arg.c_str(), nullptr, 10)) : Json(arg);
  }
  if (f.varies) r["varies"] = true;
  if (r["kind"] == "property" && isControl(r["name"])) r["kind"] = "init request";
  return r;
}

// A time-out's wait in ms, from its two clock readings.
void addWait(Json* r) {
  const long long from_s = (*r)["from_s"], to_s = (*r)["to_s"];
  const long long from_ns = (*r)["from_ns"], to_ns = (*r)["to_ns"];
  (*r)["waited_ms"] = static_cast<double>((to_s - from_s) * 1000) + (to_ns - from_ns) / 1e6;
}

const Format* findFormat(const std::string& m, std::vector<std::string_view>* args) {
  for (const Format& f : kFormats) {
    if (match(f.format, m, args)) return &f;
  }
  return nullptr;
}

}  // namespace

Json decisionReads(const char* decision) {
  Json reads = Json::object();
  for (const Decision& d : kDecisions) {
    if (std::string_view(decision) != d.name) continue;
    Json inputs = Json::array();
    for (const char* input : d.inputs) {
      if (input == nullptr) break;
      if (input == kCard) {
        reads["card"] = {{"answers", kCardAnswers}, {"properties", kCardProperties}};
      } else {
        inputs.push_back(input);
      }
    }
    if (!inputs.empty()) reads["inputs"] = inputs;
  }
  return reads;
}

Json readRecord(const std::string& m) {
  Traffic t;
  std::vector<std::string_view> args;
  const bool traffic = parseTraffic(m, &t);
  const Format* f = traffic ? nullptr : findFormat(m, &args);
  if (!traffic && f == nullptr) return {{"kind", "line"}};
  Json r = traffic ? trafficRecord(t) : formatRecord(*f, args);
  if (f != nullptr && f->format == logline::kReadTimeOut) addWait(&r);
  addInputs(f ? f->format : nullptr, &r);
  return r;
}

bool parseProperty(const std::string& m, PropertyRecord* out) {
  std::vector<std::string_view> args;
  const Format* f = findFormat(m, &args);
  // The first rows of kFormats, in their order.
  constexpr PropertyRecord::Kind kKinds[] = {PropertyRecord::kRead, PropertyRecord::kDefaulted,
                                             PropertyRecord::kUnset, PropertyRecord::kWriteFailed,
                                             PropertyRecord::kWritten};
  const size_t row = f == nullptr ? std::size(kKinds) : static_cast<size_t>(f - kFormats);
  if (row >= std::size(kKinds) || args[0].empty()) return false;
  out->kind = kKinds[row];
  out->name = std::string(args[0]);
  out->value = args.size() > 1 ? std::string(args[1]) : "";
  return true;
}

bool parseClass(const std::string& m, ClassRecord* out) {
  std::vector<std::string_view> args;
  if (!match(logline::kCardClass, m, &args)) return false;
  const bool actual = args[0] == logline::kActualIndexFunction;
  if (!actual && args[0] != logline::kCapabilityIndexFunction) return false;
  out->actualTable = actual;
  out->slot = atoi(std::string(args[1]).c_str());
  out->index = atoi(std::string(args[2]).c_str());
  return true;
}

bool parseOpenFailure(const std::string& m, OpenFailure* out) {
  std::vector<std::string_view> args;
  if (!match(logline::kOpenFailed, m, &args)) return false;
  out->path = std::string(args[0]);
  out->error = atoi(std::string(args[1]).c_str());
  return true;
}

bool parseHotplug(const std::string& m, std::string* event) {
  std::vector<std::string_view> args;
  if (!match(logline::kHotplugMessage, m, &args)) return false;
  *event = std::string(args[0]);
  return true;
}

bool isSavedCardLine(const std::string& m) { return m == logline::kSavedCard; }

bool isStartLine(const std::string& m) {
  const std::string_view format = logline::kBuildTime;
  return startsWith(m, format.substr(0, format.find('%')));
}

bool parseTraffic(const std::string& m, Traffic* t) {
  if (m.size() < 5 || m[0] != '[') return false;
  char* end = nullptr;
  const long standby = strtol(m.c_str() + 1, &end, 10);
  if (end == m.c_str() + 1 || *end != ']') return false;
  const std::string_view rest(end + 1);
  // The arrows without their blank, which may have been trimmed from an empty read.
  const std::string_view sent(logline::kTrafficSent, sizeof logline::kTrafficSent - 2);
  const std::string_view received(logline::kTrafficReceived, sizeof logline::kTrafficReceived - 2);
  if (!startsWith(rest, sent) && !startsWith(rest, received)) return false;
  if (rest.size() > sent.size() && rest[sent.size()] != ' ') return false;
  t->standby = static_cast<int>(standby);
  t->sent = startsWith(rest, sent);
  t->shown = std::string(rest.size() > sent.size() + 1 ? rest.substr(sent.size() + 1) : "");
  return true;
}

std::string undisplay(const std::string& shown) {
  const std::string_view cr(logline::kCarriageReturn), lf(logline::kLineFeed);
  std::string bytes;
  for (size_t i = 0; i < shown.size();) {
    const std::string_view at = std::string_view(shown).substr(i);
    if (startsWith(at, cr) || startsWith(at, lf)) {
      bytes += startsWith(at, cr) ? '\r' : '\n';
      i += startsWith(at, cr) ? cr.size() : lf.size();
    } else {
      bytes += shown[i++];
    }
  }
  return bytes;
}

std::string display(const std::string& bytes) {
  std::string shown;
  for (char b : bytes) {
    shown += b == '\r'   ? logline::kCarriageReturn
             : b == '\n' ? logline::kLineFeed
                         : std::string(1, b);
  }
  return shown;
}

}  // namespace daemonlog
