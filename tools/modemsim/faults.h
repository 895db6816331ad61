// The faults of a scenario: what to do to one command or its answer (error first, silence, another
// reply, latency, noise, splits, hang-up). Independent of which modem answers.
#pragma once

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "modemsim/behaviour.h"
#include "modemsim/scenario.h"

namespace modemsim {

// What the matching faults make of one command; with several, the last reply, latency or split
// wins and noises add up.
struct Treatment {
  bool error = false;   // answered kErrorAnswer without reaching the modem
  bool silent = false;  // no answer, though the command takes effect
  std::optional<std::string> reply;
  int latencyMs = 0;
  std::string noise;
  std::vector<size_t> split;
  int gapMs = kDefaultGapMs;
  int nulChunk = 0;
  std::vector<size_t> nulAt;
  bool hangup = false;  // the line goes down on receipt; the command is lost
  int reopenMs = -1;
};

class FaultPlan {
 public:
  FaultPlan(std::vector<Fault> faults, int latencyMs);
  // Counts this occurrence for every fault matching it.
  Treatment treat(const std::string& command, int standby);

 private:
  std::vector<Fault> faults_;
  std::vector<int> seen_;
  int latencyMs_;
};

// The answer as the faults leave it: `answer` is what the modem said (none when it said nothing),
// another reply or none at all, NUL bytes put in.
std::optional<std::string> treatedAnswer(const Treatment& t, std::optional<std::string> answer);

// The writes for one command: the noise, then the NUL bytes, each as its own chunk, then the
// answer cut at the offsets of `split` (offsets at or past its end are ignored).
std::vector<std::string> chunks(const Treatment& t, const std::optional<std::string>& answer);

// A modem's dialect applied to what it writes for one command: the echo and the answer with
// the dialect's unsolicited lines and NUL bytes put in; then every write cut into pieces of
// random length (the same for the same seed).
class DialectPlan {
 public:
  explicit DialectPlan(Dialect dialect) : dialect_(std::move(dialect)), random_(dialect_.seed) {}
  // What the modem says to command (none: nothing, though the echo still goes).
  std::optional<std::string> framed(const std::string& command,
                                    const std::optional<std::string>& answer);
  std::vector<std::string> cut(const std::vector<std::string>& writes);
  int gapMs(int otherwise) const { return dialect_.pieceMax > 0 ? dialect_.pieceGapMs : otherwise; }

 private:
  std::string withLines(const std::string& answer) const;
  Dialect dialect_;
  std::mt19937 random_;
};

}  // namespace modemsim
