#include "modemsim/simulator.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <utility>

#include "modemsim/faults.h"
#include "modemsim/line.h"
#include "modemsim/modem.h"
#include "modemsim/uevent.h"
#include "platform/platform.h"

namespace modemsim {

struct Simulator::Impl {
  Impl(std::unique_ptr<Behaviour> m, std::vector<Fault> faults, int latencyMs, int nodeDelay,
       Dialect dialect)
      : modem(std::move(m)),
        faults(std::move(faults), latencyMs),
        dialect(std::move(dialect)),
        nodeDelayMs(nodeDelay),
        line([this](const std::string& command) { handleCommand(command); }) {}

  std::unique_ptr<Behaviour> modem;
  FaultPlan faults;
  DialectPlan dialect;
  int nodeDelayMs;
  std::string root, node, transcriptPath;  // set before start, read-only while serving
  int transcriptFd = -1;
  std::vector<std::string> lines;  // the transcript, under the line's lock
  std::vector<Unsolicited> unsolicited;
  Line line;  // last: its thread stops before the rest goes

  // On the serving thread: u.text on whatever line is up at `due`, and again every everyMs.
  void repeat(const Unsolicited& u, Clock::time_point due) {
    line.at(due, [this, &u, due] {
      line.write(line.epoch(), u.text);
      repeat(u, due + std::chrono::milliseconds(u.everyMs));
    });
  }

  // On the serving thread: the command is logged, the faults decide what reaches the modem and
  // what becomes of its answer.
  void handleCommand(const std::string& command) {
    const int sb = modem->standby();
    const std::string entry = std::to_string(sb) + " " + command;
    lines.push_back(entry);
    if (transcriptFd >= 0 && write(transcriptFd, (entry + "\n").data(), entry.size() + 1) < 0) {
      // A full disk loses transcript lines, not answers.
    }
    const Treatment t = faults.treat(command, sb);
    if (t.hangup) {
      line.hangUp(t.reopenMs);  // the command is lost with the line
      return;
    }
    Answer answer = t.error ? Answer(kErrorAnswer) : modem->respond(command, line);
    const Clock::time_point end =
        !answer.timed.empty()
            ? line.sendTimed(answer.timed)
            : line.send(
                  dialect.cut(chunks(t, dialect.framed(command, treatedAnswer(t, answer.text)))),
                  t.latencyMs, dialect.gapMs(t.gapMs));
    if (answer.after) answer.after(end);
  }

  bool changeCard(int slot, bool present, bool sendEvent, std::string* error) {
    bool done = false;
    line.locked([&] { done = modem->setCard(slot, present, line, error); });
    if (!done || !sendEvent) return done;
    if (root.empty()) {
      if (error) *error = "simulator not started";
      return false;
    }
    return sendUevent(root, simUevent(slot, present), error);
  }
};

Simulator::Simulator(Scenario scenario)
    : Simulator(std::make_unique<ScenarioModem>(scenario), scenario.faults, scenario.latencyMs,
                scenario.nodeDelayMs, scenario.dialect) {
  impl_->unsolicited = scenario.unsolicited;
}

Simulator::Simulator(std::unique_ptr<Behaviour> modem, std::vector<Fault> faults, int latencyMs,
                     int nodeDelayMs, Dialect dialect)
    : impl_(new Impl(std::move(modem), std::move(faults), latencyMs, nodeDelayMs,
                     std::move(dialect))) {}

Simulator::~Simulator() { stop(); }

void Simulator::setTranscriptFile(const std::string& path) { impl_->transcriptPath = path; }

bool Simulator::start(const std::string& root, std::string* error) {
  Impl& d = *impl_;
  if (!d.root.empty()) {
    if (error) *error = "already started";
    return false;
  }
  if (!d.transcriptPath.empty()) {
    d.transcriptFd =
        open(d.transcriptPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (d.transcriptFd < 0) {
      if (error) *error = d.transcriptPath + ": " + strerror(errno);
      return false;
    }
  }
  d.node = root + kModemDevicePath;
  if (!d.line.start(d.node, d.nodeDelayMs, error)) {
    stop();
    return false;
  }
  d.root = root;
  d.line.locked([&d] {
    for (const Unsolicited& u : d.unsolicited) {
      d.repeat(u, Clock::now() + std::chrono::milliseconds(u.firstMs));
    }
  });
  return true;
}

void Simulator::stop() {
  Impl& d = *impl_;
  d.line.stop();
  if (d.transcriptFd >= 0) close(d.transcriptFd);
  d.transcriptFd = -1;
  d.root.clear();
}

bool Simulator::waitLinked(int timeoutMs) const { return impl_->line.waitLinked(timeoutMs); }

bool Simulator::insertCard(int slot, bool sendUevent, std::string* error) {
  return impl_->changeCard(slot, true, sendUevent, error);
}

bool Simulator::removeCard(int slot, bool sendUevent, std::string* error) {
  return impl_->changeCard(slot, false, sendUevent, error);
}

std::vector<std::string> Simulator::transcript() const {
  std::vector<std::string> copy;
  impl_->line.locked([&] { copy = impl_->lines; });
  return copy;
}

std::string Simulator::slavePath() const { return impl_->line.slavePath(); }

std::string Simulator::nodePath() const { return impl_->node; }

}  // namespace modemsim
