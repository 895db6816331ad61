// SIM hot-plug monitor: follows card insertion and removal through kernel uevents and
// reconfigures the radio for the slot concerned.
#include "hotplug/hotplug.h"

#include <string.h>

#include "card/card.h"
#include "main/startup.h"
#include "modem/modem.h"
#include "platform/platform.h"

namespace {

constexpr const char* kSlotNames[] = {"USIM0", "USIM1"};
// The state word follows the slot name after one separator character.
constexpr int kStateOffset = 6;

// The candidate mask for one slot's event, computed from the stored mask.
uint32_t slotCandidate(const char* message, int slot, uint32_t stored, uint32_t candidate) {
  const char* name = strstr(message, kSlotNames[slot]);
  if (name == nullptr) return candidate;
  LOGD("sim_hot_plug_monitor_loop msg=%s", message);
  LOGD("sim_hot_plug_monitor_loop g_dual_sim_online:%d", static_cast<int>(stored));
  const char* state = name + kStateOffset;
  uint32_t bit = 1u << slot;
  if (strncmp(state, "IN", 2) == 0) return (stored & bit) == 0 ? stored | bit : candidate;
  if (strncmp(state, "OUT", 3) == 0) return (stored & bit) != 0 ? stored & ~bit : candidate;
  return candidate;
}

}  // namespace

void handleHotplugMessage(char* message, int length) {
  message[length] = '\0';
  message[length + 1] = '\0';
  for (int i = 0; i < length; i++) {
    if (message[i] == '\0') message[i] = ' ';
  }
  uint32_t stored = g_dual_sim_online;
  uint32_t candidate = stored;
  for (int slot = 0; slot < 2; slot++) candidate = slotCandidate(message, slot, stored, candidate);
  if (candidate == stored) return;
  LOGD("sim_hot_plug_monitor_loop old_sim_online %d, new_sim_online: %d", static_cast<int>(stored),
       static_cast<int>(candidate));
  check_modemprep_after_hotplug(static_cast<int>(candidate));
  g_dual_sim_online = candidate;
}

void sim_hot_plug_monitor_loop() {
  int fd = platformUeventOpen(UEVENT_SOCKET_BUFFER, true);
  if (fd < 0) {
    LOGE("uevent_open_socket get device_fd error fd:%d", fd);
    return;
  }
  LOGD("uevent_open_socket device_fd: %d", fd);
  char message[UEVENT_MESSAGE_SIZE + 2];
  for (;;) {
    int length = platformUeventReceive(fd, message, UEVENT_MESSAGE_SIZE);
    if (length <= 0) break;
    handleHotplugMessage(message, length);
  }
  platformUeventClose(fd);
}

void check_modemprep_after_hotplug(int newSimOnline) {
  uint32_t change = static_cast<uint32_t>(newSimOnline) ^ g_dual_sim_online;
  char response[AT_CHUNK_SIZE] = {};
  int isOk = 0;
  LOGD("check_modemprep_after_hotplug sim_online_change:%d", static_cast<int>(change));
  if (change == 0) return;

  int hotplug_sim = (change & 1u) != 0 ? 0 : 1;
  openModemChannel();
  int oldState = g_cardInfo[hotplug_sim].m_cardStatus;
  switchToStandby(modemFd, hotplug_sim);
  int present = (newSimOnline >> hotplug_sim) & 1;
  int ret = sendAtSyncOk(modemFd, present ? "AT+DSIMIO=1\r" : "AT+DSIMIO=0\r", &isOk, response,
                         AT_CHUNK_SIZE);
  if (ret != 0 || isOk == 0) {
    LOGD("sim_hot_plug_monitor_loop phone %d AT+DSIMIO=%d fail , ret:%d, isOk=%d\n", hotplug_sim,
         present, ret, isOk);
  }
  queryCardInfo(modemFd, hotplug_sim, &g_cardInfo[hotplug_sim]);
  int newState = g_cardInfo[hotplug_sim].m_cardStatus;
  LOGD("check_modemprep_after_hotplug hotplug_sim:%d, old_state:%d, new_state:%d", hotplug_sim,
       oldState, newState);
  if (newState == oldState) {
    LOGE("check_modemprep_after_hotplug return for sim state not change after hotplug");
    return;
  }
  configureRadio(1, hotplug_sim);
}
