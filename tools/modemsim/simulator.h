// A fake dual-SIM modem answering AT commands on a pseudo-terminal linked at
// <root>/dev/TTYEMS40: the line (line.h), the faults (faults.h) and a modem's behaviour
// (behaviour.h; the scenario's own in modem.h). One serving thread; safe to drive from others.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "modemsim/behaviour.h"
#include "modemsim/scenario.h"

namespace modemsim {

class Simulator {
 public:
  // The modem the scenario describes, with its faults and timing.
  explicit Simulator(Scenario scenario);
  // Any modem on the same line with the same faults: `latencyMs` delays every answer, the node
  // link appears `nodeDelayMs` after start.
  Simulator(std::unique_ptr<Behaviour> modem, std::vector<Fault> faults, int latencyMs = 0,
            int nodeDelayMs = 0, Dialect dialect = {});
  ~Simulator();  // stops the thread, removes the link
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Also writes each received command as a line to `path` (call before start).
  void setTranscriptFile(const std::string& path);

  // Opens the pseudo-terminal and starts serving; the link appears after node_delay_ms.
  bool start(const std::string& root, std::string* error = nullptr);
  void stop();

  // Waits until the node link is in place; false on time-out.
  bool waitLinked(int timeoutMs) const;

  // The card in `slot` (0-based) comes or goes; with sendUevent the matching "USIM<n>" "IN" or
  // "OUT" uevent is sent to <root>/dev/uevent.sock (blocking, retried for up to 5 s).
  bool insertCard(int slot, bool sendUevent, std::string* error = nullptr);
  bool removeCard(int slot, bool sendUevent, std::string* error = nullptr);

  // One "<standby> <command>" line per received command, standby as current at receipt.
  std::vector<std::string> transcript() const;
  std::string slavePath() const;
  std::string nodePath() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace modemsim
