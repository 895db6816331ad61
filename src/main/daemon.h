// The daemon's state, owned by main, and the steps that run on it: the start-up sequence, the
// configuration chain it shares with each hot-plug reconfiguration, and the resident loop.
#pragma once

#include <stdint.h>

#include "card/record.h"
#include "modem/exchange.h"
#include "profile/profile.h"
#include "rat/policy.h"

struct DaemonState {
  ProjectProfile profile = kInitialProjectProfile;  // read once at start-up
  ModemLink link;
  Cards cards;
  RadioPlan plan;
  bool isSwitchModem = false;  // the last modem check swapped the NVRAM and reset the modem
};

// Runs the whole start-up sequence once. False when the master-card switch guard stops the
// process (exit status 0); true when the daemon is configured and stays resident.
bool runStartupSequence(DaemonState& state);

// The configuration chain: master card, RAT decision, standby mapping, card history, modem
// check and NVRAM swap, IMEI check, channel close, and the rild files and requests. nvramForce
// asks the modem's capability afresh; hotplugSim is the slot just hot-plugged, or -1.
void configureRadio(DaemonState& state, bool nvramForce, int hotplugSim);

// Its steps, each reading its inputs, deciding through the policy, logging and acting.
// The master card, the actual RATs and the standby map, each read, decided, logged and written.
void decideRadioPlan(DaemonState& state);
void switchModemNvram(DaemonState& state, bool force);

// One pass of the hot-plug monitor: opens the uevent socket and handles messages until a
// receive fails.
void sim_hot_plug_monitor_loop(DaemonState& state);
// Reconfigures the radio for the slot whose bit differs between newSimOnline and the stored mask
// (slot 0 when both do); returns that slot, or -1 when none differs.
int check_modemprep_after_hotplug(DaemonState& state, uint32_t newSimOnline);
// One pass of the monitor and the 2-second pause; main repeats it for ever.
void runResidentPass(DaemonState& state);
