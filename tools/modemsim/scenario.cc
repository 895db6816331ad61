#include "modemsim/scenario.h"

#include <fstream>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "cli/files.h"

namespace modemsim {
namespace {

using nlohmann::json;

struct ParseError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& where, const std::string& what) {
  throw ParseError(where + ": " + what);
}

void checkObject(const json& j, const std::string& where,
                 std::initializer_list<const char*> allowed) {
  if (!j.is_object()) fail(where, "expected an object");
  for (auto it = j.begin(); it != j.end(); ++it) {
    bool known = false;
    for (const char* key : allowed) known = known || it.key() == key;
    if (!known) fail(where, "unknown key '" + it.key() + "'");
  }
}

std::string path(const std::string& where, const std::string& key) {
  return where.empty() ? key : where + "." + key;
}

int getInt(const json& j, const std::string& where, int min, int max) {
  if (!j.is_number_integer()) fail(where, "expected an integer");
  const auto v = j.get<long long>();
  if (v < min || v > max) {
    fail(where, "expected a value from " + std::to_string(min) + " to " + std::to_string(max));
  }
  return static_cast<int>(v);
}

bool getBool(const json& j, const std::string& where) {
  if (!j.is_boolean()) fail(where, "expected true or false");
  return j.get<bool>();
}

std::string getString(const json& j, const std::string& where) {
  if (!j.is_string()) fail(where, "expected a string");
  return j.get<std::string>();
}

const json& getArray(const json& j, const std::string& where, size_t maxSize) {
  if (!j.is_array()) fail(where, "expected an array");
  if (j.size() > maxSize) fail(where, "at most " + std::to_string(maxSize) + " entries");
  return j;
}

constexpr int kMaxMs = 3600 * 1000;

// Increasing offsets into a text, from `min` on.
std::vector<size_t> getOffsets(const json& j, const std::string& where, int min) {
  std::vector<size_t> offsets;
  const json& a = getArray(j, where, 64);
  for (size_t i = 0; i < a.size(); ++i) {
    const int off = getInt(a[i], where + "[" + std::to_string(i) + "]", min, 1 << 20);
    if (!offsets.empty() && static_cast<size_t>(off) <= offsets.back()) {
      fail(where, "offsets must be increasing");
    }
    offsets.push_back(static_cast<size_t>(off));
  }
  return offsets;
}

Unsolicited parseUnsolicited(const json& j, const std::string& where) {
  checkObject(j, where, {"text", "every_ms", "first_ms"});
  if (!j.contains("text") || !j.contains("every_ms")) fail(where, "needs 'text' and 'every_ms'");
  Unsolicited u;
  u.text = getString(j["text"], path(where, "text"));
  if (u.text.empty()) fail(path(where, "text"), "must not be empty");
  u.everyMs = getInt(j["every_ms"], path(where, "every_ms"), 10, kMaxMs);
  u.firstMs = u.everyMs;
  if (j.contains("first_ms")) u.firstMs = getInt(j["first_ms"], path(where, "first_ms"), 0, kMaxMs);
  return u;
}

Slot parseSlot(const json& j, const std::string& where) {
  checkObject(j, where, {"present", "id", "imsi", "type", "lock"});
  Slot s;
  if (j.contains("present")) s.present = getBool(j["present"], path(where, "present"));
  if (j.contains("id")) s.id = getString(j["id"], path(where, "id"));
  if (j.contains("imsi")) s.imsi = getString(j["imsi"], path(where, "imsi"));
  if (j.contains("type")) s.type = getInt(j["type"], path(where, "type"), 1, 2);
  if (j.contains("lock")) {
    const std::string lock = getString(j["lock"], path(where, "lock"));
    if (lock == "none") {
      s.lock = Lock::kNone;
    } else if (lock == "pin") {
      s.lock = Lock::kPin;
    } else if (lock == "puk") {
      s.lock = Lock::kPuk;
    } else {
      fail(path(where, "lock"), "expected \"none\", \"pin\" or \"puk\"");
    }
  }
  return s;
}

Fault parseFault(const json& j, const std::string& where) {
  checkObject(j, where,
              {"command", "standby", "times", "error_first", "silent", "reply", "latency_ms",
               "noise", "split", "split_gap_ms", "nul_chunk", "nul_at", "hangup", "reopen_ms"});
  Fault f;
  if (!j.contains("command")) fail(where, "missing 'command'");
  f.command = getString(j["command"], path(where, "command"));
  if (f.command.empty() || f.command == "*") fail(path(where, "command"), "must name a command");
  if (j.contains("standby")) {
    f.standby = getInt(j["standby"], path(where, "standby"), 0, kMaxStandbys - 1);
  }
  if (j.contains("times")) f.times = getInt(j["times"], path(where, "times"), 1, 1 << 30);
  if (j.contains("error_first")) {
    f.errorFirst = getInt(j["error_first"], path(where, "error_first"), 0, 1 << 30);
  }
  if (j.contains("silent")) f.silent = getBool(j["silent"], path(where, "silent"));
  if (j.contains("reply")) f.reply = getString(j["reply"], path(where, "reply"));
  if (j.contains("latency_ms")) {
    f.latencyMs = getInt(j["latency_ms"], path(where, "latency_ms"), 0, kMaxMs);
  }
  if (j.contains("noise")) f.noise = getString(j["noise"], path(where, "noise"));
  if (j.contains("split")) f.split = getOffsets(j["split"], path(where, "split"), 1);
  if (j.contains("split_gap_ms")) {
    f.splitGapMs = getInt(j["split_gap_ms"], path(where, "split_gap_ms"), 0, kMaxMs);
  }
  if (j.contains("nul_chunk"))
    f.nulChunk = getInt(j["nul_chunk"], path(where, "nul_chunk"), 1, 255);
  if (j.contains("nul_at")) f.nulAt = getOffsets(j["nul_at"], path(where, "nul_at"), 0);
  if (j.contains("hangup")) f.hangup = getBool(j["hangup"], path(where, "hangup"));
  if (j.contains("reopen_ms")) {
    f.reopenMs = getInt(j["reopen_ms"], path(where, "reopen_ms"), 0, kMaxMs);
  }
  return f;
}

Dialect parseDialect(const json& j) {
  checkObject(
      j, "dialect",
      {"echo", "unsolicited", "where", "burst", "nul_bytes", "pieces", "piece_gap_ms", "seed"});
  Dialect d;
  if (j.contains("echo")) d.echo = getBool(j["echo"], "dialect.echo");
  if (j.contains("unsolicited")) d.unsolicited = getString(j["unsolicited"], "dialect.unsolicited");
  if (j.contains("where")) {
    const json& a = getArray(j["where"], "dialect.where", 4);
    for (size_t i = 0; i < a.size(); ++i) {
      const std::string place = getString(a[i], "dialect.where[" + std::to_string(i) + "]");
      bool known = false;
      for (const char* p : kDialectPlaces) known = known || place == p;
      if (!known) {
        fail("dialect.where[" + std::to_string(i) + "]",
             "expected \"before\", \"before_final\", \"inside_final\" or \"after\"");
      }
      d.where.push_back(place);
    }
  }
  if (j.contains("burst")) d.burst = getInt(j["burst"], "dialect.burst", 1, 100);
  if (j.contains("nul_bytes")) d.nulBytes = getInt(j["nul_bytes"], "dialect.nul_bytes", 0, 16);
  if (j.contains("pieces")) {
    const json& a = getArray(j["pieces"], "dialect.pieces", 2);
    if (a.size() != 2) fail("dialect.pieces", "expected [shortest, longest]");
    d.pieceMin = getInt(a[0], "dialect.pieces[0]", 1, 255);
    d.pieceMax = getInt(a[1], "dialect.pieces[1]", d.pieceMin, 255);
  }
  if (j.contains("piece_gap_ms")) {
    d.pieceGapMs = getInt(j["piece_gap_ms"], "dialect.piece_gap_ms", 0, kMaxMs);
  }
  if (j.contains("seed"))
    d.seed = static_cast<unsigned>(getInt(j["seed"], "dialect.seed", 0, 1 << 30));
  return d;
}

StatusReport parseStatusReport(const json& r) {
  checkObject(r, "status_report", {"mode", "delay_ms", "status_noise", "split"});
  StatusReport out;
  if (r.contains("mode")) {
    const std::string mode = getString(r["mode"], "status_report.mode");
    if (mode != "inline" && mode != "delayed") {
      fail("status_report.mode", "expected \"inline\" or \"delayed\"");
    }
    out.delayed = mode == "delayed";
  }
  if (r.contains("delay_ms"))
    out.delayMs = getInt(r["delay_ms"], "status_report.delay_ms", 0, kMaxMs);
  if (r.contains("status_noise")) {
    out.noise = getString(r["status_noise"], "status_report.status_noise");
  }
  if (r.contains("split")) out.split = getOffsets(r["split"], "status_report.split", 1);
  return out;
}

Reset parseReset(const json& r) {
  checkObject(r, "reset", {"dmrst_delay_ms", "never", "swap_rat", "split"});
  Reset out;
  if (r.contains("dmrst_delay_ms")) {
    out.dmrstDelayMs = getInt(r["dmrst_delay_ms"], "reset.dmrst_delay_ms", 0, kMaxMs);
  }
  if (r.contains("never")) out.never = getBool(r["never"], "reset.never");
  if (r.contains("swap_rat")) out.swapRat = getBool(r["swap_rat"], "reset.swap_rat");
  if (r.contains("split")) out.split = getOffsets(r["split"], "reset.split", 1);
  return out;
}

Scenario parse(const json& j) {
  checkObject(j, "scenario",
              {"dmcc", "rat", "imei", "slots", "status_report", "reset", "latency_ms",
               "node_delay_ms", "unsolicited", "faults", "dialect"});
  Scenario sc;
  if (j.contains("dmcc")) {
    const json& a = getArray(j["dmcc"], "dmcc", 3);
    if (a.size() != 3) fail("dmcc", "expected three numbers");
    for (size_t i = 0; i < 3; ++i) {
      sc.dmcc[i] = getInt(a[i], "dmcc[" + std::to_string(i) + "]", 0, 1 << 30);
    }
  }
  if (j.contains("rat")) {
    const json& a = getArray(j["rat"], "rat", kMaxStandbys);
    sc.rat.clear();
    for (size_t i = 0; i < a.size(); ++i) {
      sc.rat.push_back(getInt(a[i], "rat[" + std::to_string(i) + "]", 0, 1 << 30));
    }
  }
  if (j.contains("imei")) {
    const json& a = getArray(j["imei"], "imei", kMaxStandbys);
    for (size_t i = 0; i < a.size(); ++i) {
      if (a[i].is_null()) {
        sc.imei.emplace_back();
      } else {
        sc.imei.emplace_back(getString(a[i], "imei[" + std::to_string(i) + "]"));
      }
    }
  }
  if (j.contains("slots")) {
    const json& a = getArray(j["slots"], "slots", kMaxStandbys);
    for (size_t i = 0; i < a.size(); ++i) {
      sc.slots.push_back(parseSlot(a[i], "slots[" + std::to_string(i) + "]"));
    }
  }
  if (j.contains("status_report")) sc.statusReport = parseStatusReport(j["status_report"]);
  if (j.contains("reset")) sc.reset = parseReset(j["reset"]);
  if (j.contains("latency_ms")) sc.latencyMs = getInt(j["latency_ms"], "latency_ms", 0, kMaxMs);
  if (j.contains("node_delay_ms")) {
    sc.nodeDelayMs = getInt(j["node_delay_ms"], "node_delay_ms", 0, kMaxMs);
  }
  if (j.contains("unsolicited")) {
    const json& a = getArray(j["unsolicited"], "unsolicited", 16);
    for (size_t i = 0; i < a.size(); ++i) {
      sc.unsolicited.push_back(parseUnsolicited(a[i], "unsolicited[" + std::to_string(i) + "]"));
    }
  }
  if (j.contains("dialect")) sc.dialect = parseDialect(j["dialect"]);
  if (j.contains("faults")) {
    const json& a = getArray(j["faults"], "faults", 1000);
    for (size_t i = 0; i < a.size(); ++i) {
      sc.faults.push_back(parseFault(a[i], "faults[" + std::to_string(i) + "]"));
    }
  }
  return sc;
}

}  // namespace

bool matchesPattern(const std::string& pattern, const std::string& command) {
  if (!pattern.empty() && pattern.back() == '*') {
    return command.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
  }
  return command == pattern;
}

std::vector<std::string> cutAt(const std::string& text, const std::vector<size_t>& offsets) {
  std::vector<std::string> pieces;
  size_t from = 0;
  for (size_t cut : offsets) {
    if (cut >= text.size()) break;
    pieces.push_back(text.substr(from, cut - from));
    from = cut;
  }
  pieces.push_back(text.substr(from));
  return pieces;
}

bool Fault::matches(const std::string& cmd, int currentStandby) const {
  if (standby >= 0 && standby != currentStandby) return false;
  return matchesPattern(command, cmd);
}

bool parseScenario(const std::string& text, Scenario* out, std::string* error) {
  try {
    *out = parse(json::parse(text));
    return true;
  } catch (const json::parse_error& e) {
    if (error) *error = std::string("not valid JSON: ") + e.what();
  } catch (const ParseError& e) {
    if (error) *error = e.what();
  } catch (const json::exception& e) {
    if (error) *error = e.what();
  }
  return false;
}

bool loadScenarioFile(const std::string& file, Scenario* out, std::string* error) {
  std::string text, why;
  if (!cli::readFile(file, cli::Readable::kStreams, &text, &why)) {
    if (error) *error = file + ": " + why;
    return false;
  }
  if (!parseScenario(text, out, &why)) {
    if (error) *error = file + ": not a scenario: " + why;
    return false;
  }
  return true;
}

}  // namespace modemsim
