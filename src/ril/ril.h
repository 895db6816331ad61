// rild configuration files and the start or restart of the rild instances.
#pragma once

// hotplug_sim: the slot whose card came or went, or -1 at start-up.
int startRildService(int hotplug_sim);
