// The resident loop: SIM hot-plug events and the reconfiguration of the slot concerned.
#include "hotplug/hotplug.h"
#include "main/daemon.h"
#include "platform/platform.h"

namespace {

constexpr uint64_t kResidentPauseUs = 2000000;

}  // namespace

void sim_hot_plug_monitor_loop(DaemonState& state) {
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
    uint32_t stored = state.cards.dual_sim_online;
    uint32_t candidate = hotplugCandidate(message, length, stored);
    if (candidate == stored) continue;
    LOGD("sim_hot_plug_monitor_loop old_sim_online %d, new_sim_online: %d",
         static_cast<int>(stored), static_cast<int>(candidate));
    check_modemprep_after_hotplug(state, candidate);
    // Stored whatever the reconfiguration found: the steps it ran still saw the old mask.
    state.cards.dual_sim_online = candidate;
  }
  platformUeventClose(fd);
}

void check_modemprep_after_hotplug(DaemonState& state, uint32_t newSimOnline) {
  uint32_t change = newSimOnline ^ state.cards.dual_sim_online;
  LOGD("check_modemprep_after_hotplug sim_online_change:%d", static_cast<int>(change));
  if (change == 0) return;

  // One call handles one slot: slot 0 when its bit changed, otherwise slot 1.
  int hotplug_sim = (change & 1u) != 0 ? 0 : 1;
  ModemLink& link = state.link;
  CardInfo& card = state.cards.cardInfo[hotplug_sim];
  openModemChannel(link);
  CardStatus oldState = card.m_cardStatus;
  switchToStandby(link, hotplug_sim);
  int present = (newSimOnline >> hotplug_sim) & 1;
  AtResponse response = {};
  AtOutcome outcome =
      sendAtSyncOk(link, present != 0 ? "AT+DSIMIO=1\r" : "AT+DSIMIO=0\r", &response);
  if (!outcome.succeeded()) {
    LOGD("sim_hot_plug_monitor_loop phone %d AT+DSIMIO=%d fail , ret:%d, isOk=%d\n", hotplug_sim,
         present, outcome.result, outcome.isOk);
  }
  queryCardInfo(link, hotplug_sim, card, state.profile, state.cards.savedCardInfo);
  LOGD("check_modemprep_after_hotplug hotplug_sim:%d, old_state:%d, new_state:%d", hotplug_sim,
       static_cast<int>(oldState), static_cast<int>(card.m_cardStatus));
  if (card.m_cardStatus == oldState) {
    LOGE("check_modemprep_after_hotplug return for sim state not change after hotplug");
    return;
  }
  configureRadio(state, true, hotplug_sim);
}

void runResidentPass(DaemonState& state) {
  sim_hot_plug_monitor_loop(state);
  platformSleepUs(kResidentPauseUs);
}
