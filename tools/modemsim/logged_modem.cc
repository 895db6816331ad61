#include "modemsim/logged_modem.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "modem/commands.h"
#include "modem/exchange.h"

namespace modemsim {
namespace {

// The daemon shows at most this many characters of one read, then cuts.
constexpr size_t kDisplayCut = 250;
// The daemon waits this long between finding the node and opening it.
constexpr int64_t kOpenSettleMs = 500;
// The standby switch as the daemon writes it, up to its argument (the standby switched to).
const std::string kSwitchCommand(modemCommand(ModemCommand::kSwitch).text,
                                 strcspn(modemCommand(ModemCommand::kSwitch).text, "%"));

bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }
bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Length of the longest end of `bytes` that begins `code` (the code started but was cut).
size_t startedCode(const std::string& bytes, const std::string& code) {
  for (size_t k = std::min(bytes.size(), code.size() - 1); k > 0; --k) {
    if (endsWith(bytes, code.substr(0, k))) return k;
  }
  return 0;
}

}  // namespace

LoggedModem::LoggedModem(const std::vector<LogLine>& boot, LoggedModemOptions options, Note note)
    : note_(std::move(note)) {
  build(boot, options.fast);
  if (!exchanges_.empty()) standby_ = exchanges_.front().standby;
  for (size_t i = 0; i < exchanges_.size(); ++i) {
    const Exchange& ex = exchanges_[i];
    byCommand_[{ex.standby, ex.command}].push_back(i);
    byStandby_[ex.standby].push_back(i);
  }
}

// What reading the log carries from line to line.
struct LoggedModem::Reading {
  bool fast = false;
  int64_t startMs = -1;
  bool timedOut = false;   // the daemon gave up waiting since the current command
  int accessFailures = 0;  // the node was not there when the daemon looked
  int64_t hangupMs = -1;   // the line went down here and has not been seen back
  size_t hungUp = kNone;   // ... in this exchange
  size_t hangupWrite = 0;  // ... at this write
  struct Cut {
    size_t exchange, write;
    int lineNo;
  };
  std::vector<Cut> cuts;
  static constexpr size_t kNone = SIZE_MAX;

  // A write at the delay `line` shows from the exchange's command (none when fast, unless the
  // daemon timed out: then it must time out again).
  TimedWrite writeAt(const LogLine& line, const Exchange& ex) const {
    TimedWrite w;
    const int64_t logged = line.ms >= 0 && ex.ms >= 0 ? std::max<int64_t>(0, line.ms - ex.ms) : 0;
    w.delayMs = static_cast<int>(fast && !timedOut ? 0 : logged);
    return w;
  }
  void hangUp(const LogLine& line, std::vector<Exchange>& exchanges) {
    Exchange& ex = exchanges.back();
    TimedWrite w = writeAt(line, ex);
    w.hangup = true;
    hungUp = exchanges.size() - 1;
    hangupWrite = ex.writes.size();
    hangupMs = line.ms;
    accessFailures = 0;
    ex.writes.push_back(w);
  }
};

void LoggedModem::build(const std::vector<LogLine>& boot, bool fast) {
  Reading r;
  r.fast = fast;
  if (!boot.empty()) r.startMs = boot.front().ms;
  for (const LogLine& line : boot) {
    Traffic t;
    if (parseTraffic(line.message, &t)) {
      readTraffic(line, t, r);
    } else {
      readLineState(line, r);
    }
  }
  for (const Reading::Cut& c : r.cuts) completeCut(exchanges_[c.exchange], c.write, c.lineNo);
  // A switch the log ends with went where it asked when the modem said OK.
  if (!exchanges_.empty() && startsWith(exchanges_.back().command, kSwitchCommand)) {
    Exchange& last = exchanges_.back();
    for (const TimedWrite& w : last.writes) {
      if (w.text.find(kOkAnswer) != std::string::npos)
        last.nextStandby = atoi(last.command.c_str() + kSwitchCommand.size());
    }
  }
}

// A command starts an exchange; what is read after it is its answer, a read of nothing a hang-up.
void LoggedModem::readTraffic(const LogLine& line, const Traffic& t, Reading& r) {
  Exchange* ex = exchanges_.empty() ? nullptr : &exchanges_.back();
  if (t.sent) {
    Exchange next;
    next.lineNo = line.lineNo;
    next.standby = next.nextStandby = t.standby;
    next.command = undisplay(t.shown);
    if (endsWith(next.command, "\r")) next.command.pop_back();
    next.ms = line.ms;
    if (ex != nullptr) ex->nextStandby = t.standby;
    exchanges_.push_back(next);
    r.timedOut = false;
    return;
  }
  if (ex == nullptr) return;  // nothing read before the first command is an answer
  if (t.shown.empty()) {
    r.hangUp(line, exchanges_);
    return;
  }
  TimedWrite w = r.writeAt(line, *ex);
  w.text = undisplay(t.shown);
  if (t.shown.size() >= kDisplayCut) {
    r.cuts.push_back({exchanges_.size() - 1, ex->writes.size(), line.lineNo});
  }
  ex->writes.push_back(w);
}

// The daemon's lines about the line itself: a time-out, a lost line, the node absent and back.
void LoggedModem::readLineState(const LogLine& line, Reading& r) {
  const nlohmann::json record = daemonlog::readRecord(line.message);
  const std::string kind = record["kind"], op = record.value("op", "");
  if (kind == "time-out") {
    r.timedOut = true;
  } else if (kind == "line lost") {
    // Lost without a read of nothing: the hang-up is this line.
    if (!exchanges_.empty() && r.hungUp != exchanges_.size() - 1) r.hangUp(line, exchanges_);
  } else if (kind == "device" && op == "absent") {
    ++r.accessFailures;
  } else if (kind == "device" && op == "ready") {
    // The node came back somewhere between the last failed look and this one.
    const bool hungUp = r.hungUp != Reading::kNone;
    const int64_t from = hungUp ? r.hangupMs : r.startMs;
    const int64_t seen = line.ms >= 0 && from >= 0 ? line.ms - from : r.accessFailures * 1000;
    const int delay = static_cast<int>(std::max<int64_t>(0, seen - kOpenSettleMs));
    if (hungUp) {
      exchanges_[r.hungUp].writes[r.hangupWrite].reopenMs = delay;
      r.hungUp = Reading::kNone;
    } else if (exchanges_.empty() && r.accessFailures > 0) {
      nodeDelayMs_ = delay;
    }
    r.accessFailures = 0;
  }
}

// A read the log shows cut: when the exchange evidently ended with it, its final result code was
// in the part not shown. The code is completed: the one the shown part begins, else "ERROR" when
// the daemon sent the same command again at once (a failure it retried), else "OK".
void LoggedModem::completeCut(Exchange& ex, size_t write, int lineNo) {
  std::string& text = ex.writes[write].text;
  const std::string where = "line " + std::to_string(lineNo) + ": an answer shown cut at " +
                            std::to_string(kDisplayCut) + " characters";
  const bool more = write + 1 < ex.writes.size() && !ex.writes[write + 1].hangup;
  if (more) {
    note_(where + "; the exchange went on, so it is replayed as shown (the rest is not known)");
    return;
  }
  for (const FinalResultCode& code : kFinalResultCodes) {
    if (text.find(code.text) != std::string::npos) {
      note_(where + "; it holds its final result code, the rest is not known");
      return;
    }
  }
  const size_t index = &ex - exchanges_.data();
  const bool retried = index + 1 < exchanges_.size() &&
                       exchanges_[index + 1].command == ex.command &&
                       exchanges_[index + 1].standby == ex.standby;
  std::string code = retried ? kErrorAnswer : kOkAnswer;
  size_t begun = startedCode(text, code);
  for (const char* other : {kOkAnswer, kErrorAnswer}) {
    const size_t k = startedCode(text, other);
    if (k > 2 && k > begun) {
      code = other;
      begun = k;
    }
  }
  const std::string added = code.substr(begun);
  text += added;
  note_(where + "; completed with \"" + display(added) + "\"");
}

const LoggedModem::Exchange* LoggedModem::firstUnused(int standby) {
  auto it = byStandby_.find(standby);
  if (it == byStandby_.end()) return nullptr;
  size_t& next = nextOfStandby_[standby];
  while (next < it->second.size() && exchanges_[it->second[next]].used) ++next;
  return next < it->second.size() ? &exchanges_[it->second[next]] : nullptr;
}

Answer LoggedModem::respond(const std::string& command, Wire&) {
  const Key key{standby_, command};
  const Exchange* expected = firstUnused(standby_);
  auto it = byCommand_.find(key);
  size_t& next = nextOfCommand_[key];
  if (it == byCommand_.end() || next >= it->second.size()) {
    ++unknown_;
    std::string why = it == byCommand_.end() ? "not in the log"
                      : it->second.size() == 1
                          ? "logged only once"
                          : "logged only " + std::to_string(it->second.size()) + " times";
    note_("[" + std::to_string(standby_) + "] " + command + ": " + why + " on standby " +
          std::to_string(standby_) + "; answered ERROR" +
          (expected ? " (next logged: " + expected->command + ", line " +
                          std::to_string(expected->lineNo) + ")"
                    : ""));
    return kErrorAnswer;
  }
  Exchange& ex = exchanges_[it->second[next++]];
  if (&ex != expected) ++outOfOrder_;
  ex.used = true;
  ++answered_;
  if (startsWith(command, kSwitchCommand)) standby_ = ex.nextStandby;
  Answer answer;  // no writes: the modem said nothing
  answer.timed = ex.writes;
  return answer;
}

bool LoggedModem::setCard(int, bool, Wire&, std::string* error) {
  if (error) *error = "a logged modem answers as its log did; its cards cannot be changed";
  return false;
}

std::string LoggedModem::summary() const {
  size_t never = 0;
  const Exchange* first = nullptr;
  for (const Exchange& ex : exchanges_) {
    if (ex.used) continue;
    ++never;
    if (first == nullptr) first = &ex;
  }
  std::string s = std::to_string(answered_) + " commands answered from the log (" +
                  std::to_string(outOfOrder_) + " out of their logged order), " +
                  std::to_string(unknown_) + " not in the log (answered ERROR), " +
                  std::to_string(never) + " logged commands never sent";
  if (first != nullptr) {
    s += " (the first: [" + std::to_string(first->standby) + "] " + first->command + ", line " +
         std::to_string(first->lineNo) + ")";
  }
  return s;
}

}  // namespace modemsim
