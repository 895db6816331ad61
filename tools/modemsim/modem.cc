#include "modemsim/modem.h"

#include <string.h>

#include <algorithm>
#include <vector>

namespace modemsim {

struct ModemState {
  Scenario sc;
  int standby = 0;
  std::vector<bool> reportOn = std::vector<bool>(kMaxStandbys, false);
  std::vector<uint64_t> reportToken = std::vector<uint64_t>(kMaxStandbys, 0);

  bool cardPresent(int sb) const {
    return sb < static_cast<int>(sc.slots.size()) && sc.slots[sb].present;
  }
  std::string statusLine(int sb) const {
    return std::string("\r\n^DUSIMU: ") + (cardPresent(sb) ? "1" : "0") + "\r\n";
  }
};

namespace {

using std::chrono::milliseconds;

const char kNoCard[] = "\r\n+CME ERROR: 10\r\n";

struct Request {
  const std::string& arg;  // what follows the prefix of a "...*" entry; empty otherwise
  int standby;             // current when the command arrived
  Wire& wire;
};

using Handler = Answer (*)(ModemState&, const Request&);

// One command of the modem: the command exactly, or a prefix ending in '*'.
struct Command {
  const char* pattern;
  Handler handle;
};

Answer ok(ModemState&, const Request&) { return kOkAnswer; }

// Writes text on `line` from now on, cut before the offsets of `split`, the pieces kDefaultGapMs
// apart so that each is read on its own.
void writeInPieces(Wire& wire, uint64_t line, const std::string& text,
                   const std::vector<size_t>& split) {
  Clock::time_point t = Clock::now();
  for (std::string& piece : cutAt(text, split)) {
    wire.at(t, [&wire, line, piece = std::move(piece)] { wire.write(line, piece); });
    t += milliseconds(kDefaultGapMs);
  }
}

// ---- SIM: card lock and I/O, the card-status report, the card queries ------------------------

Answer reportOn(ModemState& m, const Request& r) {
  const int sb = r.standby;
  m.reportOn[sb] = true;
  if (!m.sc.statusReport.delayed) return m.statusLine(sb) + kOkAnswer;
  Answer a = kOkAnswer;
  const uint64_t token = ++m.reportToken[sb];
  Wire& wire = r.wire;
  a.after = [&m, &wire, sb, token](Clock::time_point answerEnd) {
    const StatusReport& report = m.sc.statusReport;
    Clock::time_point t = std::max(Clock::now() + milliseconds(report.delayMs), answerEnd);
    const uint64_t line = wire.epoch();
    if (!report.noise.empty()) {
      wire.at(t, [&wire, line, noise = report.noise] { wire.write(line, noise); });
      t += milliseconds(kDefaultGapMs);
    }
    wire.at(t, [&m, &wire, sb, token, line] {
      // The card as it is when the report goes out; a report switched off since is not sent.
      if (m.reportToken[sb] == token) {
        writeInPieces(wire, line, m.statusLine(sb), m.sc.statusReport.split);
      }
    });
  };
  return a;
}

Answer reportOff(ModemState& m, const Request& r) {
  m.reportOn[r.standby] = false;
  ++m.reportToken[r.standby];
  return kOkAnswer;
}

Answer cardId(ModemState& m, const Request& r) {
  if (!m.cardPresent(r.standby)) return kNoCard;
  return "\r\n^DCID: " + m.sc.slots[r.standby].id + "\r\n" + kOkAnswer;
}

Answer imsi(ModemState& m, const Request& r) {
  if (!m.cardPresent(r.standby)) return kNoCard;
  const Slot& s = m.sc.slots[r.standby];
  if (s.lock == Lock::kPin) return "\r\n+CME ERROR: 11\r\n";
  if (s.lock == Lock::kPuk) return "\r\n+CME ERROR: 12\r\n";
  return "\r\n+CIMI: " + s.imsi + "\r\n" + kOkAnswer;
}

Answer cardType(ModemState& m, const Request& r) {
  if (!m.cardPresent(r.standby)) return kNoCard;
  return "\r\n^DTOC: " + std::to_string(m.sc.slots[r.standby].type) + "\r\n" + kOkAnswer;
}

constexpr Command kSimCommands[] = {
    {"AT^DLKS=0", ok},   {"AT^DLKS=1", ok},         {"AT+DSIMIO=0", ok},
    {"AT+DSIMIO=1", ok}, {"AT^DUSIMR=1", reportOn}, {"AT^DUSIMR=0", reportOff},
    {"AT^DCID", cardId}, {"AT+CIMI", imsi},         {"AT^DTOC", cardType},
};

// ---- Capability and the current standby ------------------------------------------------------

Answer capability(ModemState& m, const Request&) {
  std::string a = "\r\n^DMCC: " + std::to_string(m.sc.dmcc[0]) + "," +
                  std::to_string(m.sc.dmcc[1]) + "," + std::to_string(m.sc.dmcc[2]);
  for (int rat : m.sc.rat) a += "," + std::to_string(rat);
  return a + "\r\n" + kOkAnswer;
}

Answer selectStandby(ModemState& m, const Request& r) {
  if (r.arg.size() != 1 || r.arg[0] < '0' || r.arg[0] >= '0' + kMaxStandbys) return kErrorAnswer;
  m.standby = r.arg[0] - '0';
  return kOkAnswer;
}

constexpr Command kStandbyCommands[] = {
    {"AT^DMCC?", capability},
    {"AT^DMPCHN=*", selectStandby},
};

// ---- IMEI ---------------------------------------------------------------------------------------

Answer readImei(ModemState& m, const Request& r) {
  const std::optional<std::string>& imei = m.sc.imei[r.standby];
  if (!imei) return kOkAnswer;
  return "\r\n+CGSN: " + *imei + "\r\n" + kOkAnswer;
}

Answer writeImei(ModemState& m, const Request& r) {
  m.sc.imei[r.standby] = r.arg;
  return kOkAnswer;
}

constexpr Command kImeiCommands[] = {
    {"AT+CGSN", readImei},
    {"AT^DCGSNW=*", writeImei},
};

// ---- Reset --------------------------------------------------------------------------------------

// No answer; after dmrst_delay_ms the modem is back on standby 0 with its reports off (and, with
// swap_rat, the RAT masks of standbys 0 and 1 exchanged) and says "^DMRST" unless told never to.
Answer reset(ModemState& m, const Request& r) {
  Wire& wire = r.wire;
  const uint64_t line = wire.epoch();
  wire.at(Clock::now() + milliseconds(m.sc.reset.dmrstDelayMs), [&m, &wire, line] {
    m.standby = 0;
    std::fill(m.reportOn.begin(), m.reportOn.end(), false);
    if (m.sc.reset.swapRat && m.sc.rat.size() >= 2) std::swap(m.sc.rat[0], m.sc.rat[1]);
    if (!m.sc.reset.never) writeInPieces(wire, line, "\r\n^DMRST\r\n", m.sc.reset.split);
  });
  return Answer();
}

constexpr Command kResetCommands[] = {
    {"AT^DSRST", reset},
};

// ---------------------------------------------------------------------------------------------

struct Domain {
  const Command* begin;
  const Command* end;
};

template <size_t N>
constexpr Domain domain(const Command (&table)[N]) {
  return {table, table + N};
}

constexpr Domain kDomains[] = {domain(kSimCommands), domain(kStandbyCommands),
                               domain(kImeiCommands), domain(kResetCommands)};

}  // namespace

ScenarioModem::ScenarioModem(const Scenario& scenario) : state_(new ModemState{scenario}) {
  state_->sc.imei.resize(kMaxStandbys);
}

ScenarioModem::~ScenarioModem() = default;

int ScenarioModem::standby() const { return state_->standby; }

Answer ScenarioModem::respond(const std::string& command, Wire& wire) {
  for (const Domain& d : kDomains) {
    for (const Command* c = d.begin; c != d.end; ++c) {
      if (!matchesPattern(c->pattern, command)) continue;
      const size_t fixed = strlen(c->pattern);
      const std::string arg = c->pattern[fixed - 1] == '*' ? command.substr(fixed - 1) : "";
      return c->handle(*state_, Request{arg, state_->standby, wire});
    }
  }
  return kErrorAnswer;
}

bool ScenarioModem::setCard(int slot, bool present, Wire& wire, std::string* error) {
  ModemState& m = *state_;
  if (slot < 0 || slot >= kMaxStandbys) {
    if (error) *error = "no slot " + std::to_string(slot);
    return false;
  }
  if (static_cast<int>(m.sc.slots.size()) <= slot) m.sc.slots.resize(slot + 1);
  Slot& s = m.sc.slots[slot];
  if (present && s.id.empty()) s.id = "8986000000000000000" + std::to_string(slot);
  if (present && s.imsi.empty()) s.imsi = "46000000000000" + std::to_string(slot);
  const bool changed = s.present != present;
  s.present = present;
  // A report switched on announces the change on its own.
  if (changed && m.reportOn[slot]) {
    const uint64_t line = wire.epoch();
    wire.at(Clock::now(), [&wire, line, text = m.statusLine(slot)] { wire.write(line, text); });
  }
  return true;
}

}  // namespace modemsim
