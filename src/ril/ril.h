// rild configuration files and the start or restart of the rild instances.
#pragma once

#include "card/record.h"
#include "profile/profile.h"
#include "rat/policy.h"

// What init is asked for one standby's rild.
enum class RildRequest { kNone, kStart, kRestart };

// Started when stopped; a running one restarted when its RATs changed or its slot was just
// hot-plugged (restartRIL), unless the modem was just switched.
RildRequest rildRequest(const char* serviceState, bool restartRIL, bool isSwitchModem);

// Writes one file per standby from the plan and the card records, then starts each stopped rild
// and restarts a running one whose DSTMEX changed or whose slot (hotplug_sim; -1 at start-up) was
// just hot-plugged, unless the modem was just switched.
void startRildService(const ProjectProfile& profile, const CardInfo (&cards)[MAX_SIM],
                      const RadioPlan& plan, bool isSwitchModem, int hotplug_sim);

// The card ID standby's rild file names (empty for none): the card its rild was last configured
// for. False when there is no such file or it is not one the daemon wrote.
bool rildFileCardID(int standby, char (&cardID)[CARD_ID_SIZE]);
