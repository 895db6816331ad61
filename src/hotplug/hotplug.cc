// SIM hot-plug events: what a uevent message says about the slots' cards.
#include "hotplug/hotplug.h"

#include <string.h>

#include "platform/log_lines.h"
#include "platform/platform.h"

namespace {

constexpr const char* kSlotNames[] = {"USIM0", "USIM1"};
// The state word follows the slot name after one separator character.
constexpr int kStateOffset = 6;

// The candidate mask for one slot's event, computed from the stored mask.
uint32_t slotCandidate(const char* message, int slot, uint32_t stored, uint32_t candidate) {
  const char* name = strstr(message, kSlotNames[slot]);
  if (name == nullptr) return candidate;
  LOGD(logline::kHotplugMessage, message);
  LOGD("sim_hot_plug_monitor_loop g_dual_sim_online:%d", static_cast<int>(stored));
  const char* state = name + kStateOffset;
  uint32_t bit = 1u << slot;
  if (strncmp(state, "IN", 2) == 0) return (stored & bit) == 0 ? stored | bit : candidate;
  if (strncmp(state, "OUT", 3) == 0) return (stored & bit) != 0 ? stored & ~bit : candidate;
  return candidate;
}

}  // namespace

uint32_t hotplugCandidate(char* message, int length, uint32_t stored) {
  message[length] = '\0';
  message[length + 1] = '\0';
  for (int i = 0; i < length; i++) {
    if (message[i] == '\0') message[i] = ' ';
  }
  uint32_t candidate = stored;
  for (int slot = 0; slot < 2; slot++) candidate = slotCandidate(message, slot, stored, candidate);
  return candidate;
}
