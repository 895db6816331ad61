// SIM hot-plug monitor: kernel uevents for card insertion and removal, and the per-slot
// reconfiguration.
#pragma once

#include <stdint.h>

constexpr int UEVENT_SOCKET_BUFFER = 65536;
constexpr int UEVENT_MESSAGE_SIZE = 1024;

// One pass: opens the uevent socket and handles messages until a receive fails.
void sim_hot_plug_monitor_loop();
// Handles one received message (message has room for length + 2 bytes).
void handleHotplugMessage(char* message, int length);
void check_modemprep_after_hotplug(int newSimOnline);
