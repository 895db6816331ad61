// Scenario of the modem simulator: what the fake modem holds and how it misbehaves.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace modemsim {

// Standbys (protocol stacks) of the modem; standby i serves SIM slot i.
constexpr int kMaxStandbys = 5;
// Writes that follow one another (an answer's pieces, noise before a report) are this far apart
// unless a fault says otherwise, so that the reader gets each in a read of its own.
constexpr int kDefaultGapMs = 30;

enum class Lock { kNone, kPin, kPuk };

struct Slot {
  bool present = false;
  std::string id;    // ^DCID
  std::string imsi;  // +CIMI
  int type = 2;      // ^DTOC: 1 SIM, 2 USIM
  Lock lock = Lock::kNone;
};

struct StatusReport {
  bool delayed = false;  // false: ^DUSIMU inside the answer to AT^DUSIMR=1
  int delayMs = 0;
  std::string noise;          // unrelated text written just before a delayed report
  std::vector<size_t> split;  // a delayed report cut before these offsets, kDefaultGapMs apart
};

struct Reset {
  int dmrstDelayMs = 200;
  bool never = false;         // the modem never reports ^DMRST
  bool swapRat = true;        // the reset exchanges the RAT masks of standbys 0 and 1
  std::vector<size_t> split;  // ^DMRST cut before these offsets, kDefaultGapMs apart
};

// A line the modem sends on its own, whatever the daemon does: first after firstMs, then every
// everyMs (a signal-quality report, say).
struct Unsolicited {
  std::string text;
  int everyMs = 0;
  int firstMs = 0;
};

// How the modem frames what it says, beyond its plain answers: the command echoed,
// unsolicited lines put into answers, NUL bytes, answers cut into pieces of random length.
struct Dialect {
  bool echo = false;
  std::string unsolicited;  // the line put in (with its CR LFs); empty: none
  // Where it goes: before the answer's first line, between its information lines and its final
  // code, between the final code's CR LF and its text, after the answer (between commands).
  std::vector<std::string> where;
  int burst = 1;     // the line that many times at each place
  int nulBytes = 0;  // NUL bytes put at random offsets of each answer
  int pieceMin = 0;  // > 0: every answer cut into pieces of pieceMin..pieceMax bytes
  int pieceMax = 0;
  int pieceGapMs = 2;
  unsigned seed = 1;
};
// Places an unsolicited line may go.
constexpr const char* kDialectPlaces[] = {"before", "before_final", "inside_final", "after"};

struct Fault {
  std::string command;  // exact command, or a prefix when it ends with '*'
  int standby = -1;     // -1: any standby
  int times = -1;       // -1: every matching occurrence
  int errorFirst = 0;
  bool silent = false;
  std::optional<std::string> reply;
  int latencyMs = -1;  // -1: the scenario's latency
  std::string noise;
  std::vector<size_t> split;
  int splitGapMs = kDefaultGapMs;
  int nulChunk = 0;           // that many NUL bytes as a write of their own before the answer
  std::vector<size_t> nulAt;  // a NUL byte put into the answer before each of these offsets
  bool hangup = false;
  int reopenMs = -1;  // -1: the line stays down after a hangup

  bool matches(const std::string& cmd, int currentStandby) const;
};

// A command pattern: the command exactly, or a prefix of it when the pattern ends with '*'.
bool matchesPattern(const std::string& pattern, const std::string& command);

struct Scenario {
  std::array<int, 3> dmcc{1, 2, 1};
  std::vector<int> rat{31, 1};
  std::vector<std::optional<std::string>> imei;
  std::vector<Slot> slots;
  StatusReport statusReport;
  Reset reset;
  int latencyMs = 0;
  int nodeDelayMs = 0;
  std::vector<Unsolicited> unsolicited;
  std::vector<Fault> faults;
  Dialect dialect;
};

// text cut before each offset, in increasing order; offsets at or past its end are ignored.
std::vector<std::string> cutAt(const std::string& text, const std::vector<size_t>& offsets);

// Both return false with a message naming the offending key on malformed input; unknown keys
// are errors so that a typo in a scenario does not silently test the default.
bool parseScenario(const std::string& json, Scenario* out, std::string* error);
bool loadScenarioFile(const std::string& path, Scenario* out, std::string* error);

}  // namespace modemsim
