// A modem that answers from a radio log: each command the daemon writes gets the bytes the modem
// sent after that command in the log, chunk by chunk, with the logged delays. Answers are looked
// up per standby (the number the daemon logged with the command) and per command, in the order
// they occur: the third "AT^DCID" on standby 1 gets the answer the third logged one got.
#pragma once

#include <stdint.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "modemsim/behaviour.h"
#include "modemsim/radiolog.h"

namespace modemsim {

struct LoggedModemOptions {
  // No waits but those the daemon timed out on in the log, so that it times out again.
  bool fast = false;
};

class LoggedModem : public Behaviour {
 public:
  using Note = std::function<void(const std::string&)>;

  // `boot`: the daemon's lines of one start (bootLines). What the log could not say exactly (an
  // answer shown cut) is noted while building; a command the log cannot answer when it comes.
  LoggedModem(const std::vector<LogLine>& boot, LoggedModemOptions options, Note note);

  int standby() const override { return standby_; }
  Answer respond(const std::string& command, Wire& wire) override;
  bool setCard(int slot, bool present, Wire& wire, std::string* error) override;

  // How long the node was absent at the start, as the daemon's failed opens show.
  int nodeDelayMs() const { return nodeDelayMs_; }
  size_t exchanges() const { return exchanges_.size(); }
  // Commands answered, answered out of their logged order, unknown; logged ones never asked.
  std::string summary() const;

 private:
  struct Exchange {
    int lineNo = 0;
    int standby = -1;
    std::string command;
    int64_t ms = -1;
    std::vector<TimedWrite> writes;  // delays from the command
    int nextStandby = -1;            // of the next logged command: where a switch went
    bool used = false;
  };
  using Key = std::pair<int, std::string>;

  struct Reading;
  void build(const std::vector<LogLine>& boot, bool fast);
  void readTraffic(const LogLine& line, const Traffic& t, Reading& r);
  void readLineState(const LogLine& line, Reading& r);
  void completeCut(Exchange& ex, size_t write, int lineNo);
  const Exchange* firstUnused(int standby);

  Note note_;
  std::vector<Exchange> exchanges_;
  std::map<Key, std::vector<size_t>> byCommand_;  // exchanges per standby and command, in order
  std::map<Key, size_t> nextOfCommand_;
  std::map<int, std::vector<size_t>> byStandby_;
  std::map<int, size_t> nextOfStandby_;
  int standby_ = -1;
  int nodeDelayMs_ = 0;
  int answered_ = 0, outOfOrder_ = 0, unknown_ = 0;
};

}  // namespace modemsim
