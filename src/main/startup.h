// The start-up sequence and the resident loop.
#pragma once

// Runs the whole start-up sequence once. Returns 1 when the master-card switch guard stops the
// process (exit status 0), 0 when the daemon is configured and should stay resident.
int runStartupSequence();
// The configuration chain shared by the start-up and each hot-plug reconfiguration: master
// card, RAT decision, standby mapping, card history, NVRAM check, IMEI check, channel close and
// the rild files and requests.
void configureRadio(int nvramForce, int hotplugSim);
// One pass of the hot-plug monitor and the 2-second pause; main repeats it for ever.
void runResidentPass();
