// What the line and the faults ask of a modem, so that something other than the scenario's modem
// (a replay of logged answers, say) can answer the daemon on the same line with the same faults.
#pragma once

#include <stdint.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace modemsim {

using Clock = std::chrono::steady_clock;

constexpr char kOkAnswer[] = "\r\nOK\r\n";
constexpr char kErrorAnswer[] = "\r\nERROR\r\n";

// The line as a modem sees it: output of its own at a time of its choosing (status reports, the
// end of a reset). Called on the serving thread only.
class Wire {
 public:
  virtual ~Wire() = default;
  // Runs `fn` on the serving thread at `due` (timers of one due time run in the order set).
  virtual void at(Clock::time_point due, std::function<void()> fn) = 0;
  // Which line is up: changes on every hang-up and reopen.
  virtual uint64_t epoch() const = 0;
  // Writes `data` at once if the line of `epoch` is still up; drops it otherwise.
  virtual void write(uint64_t epoch, const std::string& data) = 0;
};

// Writes of a modem that keeps its own time (a replayed log) are at least this far apart, so that
// the reader gets each in a read of its own.
constexpr int kTimedGapMs = 10;

// One write of such a modem: `delayMs` after the command arrived (never before the previous write
// plus kTimedGapMs); or, with `hangup`, the line going down then, to come back `reopenMs` later
// (never when negative).
struct TimedWrite {
  int delayMs = 0;
  std::string text;
  bool hangup = false;
  int reopenMs = -1;
};

struct Answer {
  Answer() = default;
  Answer(std::string text) : text(std::move(text)) {}  // NOLINT: an answer is its text
  Answer(const char* text) : text(text) {}             // NOLINT

  std::optional<std::string> text;  // none: nothing is written now
  // When not empty: written instead of `text`, at their own times. The faults that change the
  // answer (reply, silence, noise, split, latency) leave these alone.
  std::vector<TimedWrite> timed;
  // Output that must follow the answer; gets the time the answer's last chunk goes out (the
  // faults may have delayed, split or dropped it).
  std::function<void(Clock::time_point answerEnd)> after;
};

class Behaviour {
 public:
  virtual ~Behaviour() = default;
  // The standby current now: the transcript and the faults' "standby" key use it.
  virtual int standby() const = 0;
  // Executes one command (CR stripped) and returns its answer.
  virtual Answer respond(const std::string& command, Wire& wire) = 0;
  // The card of `slot` comes or goes; false with a reason when this modem cannot do that.
  virtual bool setCard(int slot, bool present, Wire& wire, std::string* error) {
    (void)slot, (void)present, (void)wire;
    if (error) *error = "this modem has no card slots to change";
    return false;
  }
};

}  // namespace modemsim
