// Reading the project profile at start-up: the factory file, the "persist." properties and the
// modem's capability, each setting published again as a read-only "ro." copy.
#pragma once

#include "modem/modem_capability.h"
#include "platform/platform.h"
#include "profile/profile.h"

// The project RAT list as read, before the modem's capability filters it.
typedef char RatList[PROPERTY_VALUE_SIZE];

// Start-up, up to the modem: the multi-SIM digits, the project type and target (each published as
// a "ro." copy) and the project RAT list as read. The caller then opens the modem and asks its
// capability.
void loadProjectProfile(ProjectProfile& profile, RatList& ratList);
// The rest, once the modem's capability is known: the RAT list filtered by it and its groups,
// the second card's RAT list, dynamic RAT and dual-to-single.
void completeProjectProfile(ProjectProfile& profile, RatList& ratList,
                            const ModemCapability& capability);
// Filters the RAT list in place by the modem's capability.
void updateRatByModem(RatList& ratList, const ModemCapability& capability);
void getManualInfo(ProjectProfile& profile);
// The operators' lists, each from its property or the operator's own default, in the order of the
// project targets.
void readPlmnLists(ProjectProfile& profile);
void readPlmnList(const Property& property, const char* defaultValue, PlmnList list);
