// The modem a scenario describes: per standby and per slot its cards, locks, capability, IMEIs and
// reset, answering the AT commands of its tables (modem.cc, one table per domain).
#pragma once

#include <memory>
#include <string>

#include "modemsim/behaviour.h"
#include "modemsim/scenario.h"

namespace modemsim {

struct ModemState;

class ScenarioModem : public Behaviour {
 public:
  explicit ScenarioModem(const Scenario& scenario);  // its faults and line timing are not used
  ~ScenarioModem() override;

  int standby() const override;
  Answer respond(const std::string& command, Wire& wire) override;
  // A slot brought in that the scenario does not describe gets a made-up ID and IMSI; with the
  // card-status report on for that standby the change is announced on the line.
  bool setCard(int slot, bool present, Wire& wire, std::string* error) override;

 private:
  std::unique_ptr<ModemState> state_;
};

}  // namespace modemsim
