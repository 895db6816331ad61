// The resident loop: SIM hot-plug events and the reconfiguration of the slot concerned.
#include <errno.h>
#include <string.h>

#include "card/query.h"
#include "hotplug/hotplug.h"
#include "main/daemon.h"
#include "modem/commands.h"
#include "platform/platform.h"

namespace {

constexpr uint64_t kResidentPauseUs = 2000000;

// The main folder's commands: telling the modem that the current standby's slot lost (row 0) or
// gained (row 1) its card. Text, prefix, report, attempts, pause, bound, on the standby.
constexpr AtCommand kSimIoCommands[] = {
    {"AT+DSIMIO=0", nullptr, nullptr, 1, 0, kAtExchangeBoundUs, true},
    {"AT+DSIMIO=1", nullptr, nullptr, 1, 0, kAtExchangeBoundUs, true},
};

// What a failed receive means for the pass: one message lost, messages dropped by the kernel, or
// a socket that is no longer usable.
enum class ReceiveFailure { kSkipped, kOverflow, kSocketGone };

ReceiveFailure receiveFailure(int length, int error) {
  if (length == 0) return ReceiveFailure::kSkipped;
  if (error == ENOBUFS) return ReceiveFailure::kOverflow;
  if (error == EIO || error == EINTR || error == EAGAIN) return ReceiveFailure::kSkipped;
  return ReceiveFailure::kSocketGone;
}

// A slot's presence changed (from a message, or as the modem reports it after lost messages).
// The stored bit then follows the card the modem reported, not the event's word alone: a
// bouncing tray's spurious "OUT" must not hide the next real removal.
void handleCandidate(DaemonState& state, uint32_t candidate) {
  uint32_t stored = state.cards.dual_sim_online;
  LOGD("sim_hot_plug_monitor_loop old_sim_online %d, new_sim_online: %d", static_cast<int>(stored),
       static_cast<int>(candidate));
  int slot = check_modemprep_after_hotplug(state, candidate);
  if (slot < 0) return;
  uint32_t bit = 1u << slot;
  bool present = isPresent(state.cards.cardInfo[slot]);
  state.cards.dual_sim_online = present ? stored | bit : stored & ~bit;
}

// After the kernel dropped messages, the modem is asked what each slot holds and every change
// is handled as if its event had come.
void reconcileCards(DaemonState& state) {
  ModemLink& link = state.link;
  openModemChannel(link);
  for (int slot = 0; slot < 2 && slot < state.profile.simCount; slot++) {
    CardInfo seen = CARD_INFO_RESET;
    switchToStandby(link, slot);
    queryCardInfoStatus(link, seen);
    uint32_t bit = 1u << slot;
    bool stored = (state.cards.dual_sim_online & bit) != 0;
    if (isPresent(seen) != stored) handleCandidate(state, state.cards.dual_sim_online ^ bit);
  }
}

}  // namespace

void sim_hot_plug_monitor_loop(DaemonState& state) {
  int fd = platformUeventOpen(UEVENT_SOCKET_BUFFER, true);
  if (fd < 0) {
    LOGE("uevent_open_socket get device_fd error fd:%d", fd);
    return;
  }
  LOGD("uevent_open_socket device_fd: %d", fd);
  char message[UEVENT_MESSAGE_SIZE + 2];
  int skipped = 0;
  for (;;) {
    errno = 0;
    int length = platformUeventReceive(fd, message, UEVENT_MESSAGE_SIZE);
    if (length <= 0) {
      // One bad message does not cost the ones queued behind it.
      ReceiveFailure failure = receiveFailure(length, errno);
      if (failure == ReceiveFailure::kSocketGone) break;
      LOGW("uevent_kernel_multicast_recv fail: %d, %d - %s: message skipped, %d so far", length,
           errno, strerror(errno), ++skipped);
      if (failure == ReceiveFailure::kOverflow) reconcileCards(state);
      continue;
    }
    uint32_t stored = state.cards.dual_sim_online;
    uint32_t candidate = hotplugCandidate(message, length, stored);
    if (candidate != stored) handleCandidate(state, candidate);
  }
  platformUeventClose(fd);
}

int check_modemprep_after_hotplug(DaemonState& state, uint32_t newSimOnline) {
  uint32_t change = newSimOnline ^ state.cards.dual_sim_online;
  LOGD("check_modemprep_after_hotplug sim_online_change:%d", static_cast<int>(change));
  if (change == 0) return -1;

  // One call handles one slot: slot 0 when its bit changed, otherwise slot 1.
  int hotplug_sim = (change & 1u) != 0 ? 0 : 1;
  ModemLink& link = state.link;
  CardInfo& card = state.cards.cardInfo[hotplug_sim];
  openModemChannel(link);
  CardStatus oldState = card.m_cardStatus;
  switchToStandby(link, hotplug_sim);
  int present = (newSimOnline >> hotplug_sim) & 1;
  AtOutcome outcome = sendAtSyncOk(link, kSimIoCommands[present]);
  if (!outcome.succeeded()) {
    LOGD("sim_hot_plug_monitor_loop phone %d AT+DSIMIO=%d fail , ret:%d, isOk=%d\n", hotplug_sim,
         present, outcome.result, outcome.isOk);
  }
  queryCardInfo(link, hotplug_sim, card, state.profile, state.cards.savedCardInfo);
  LOGD("check_modemprep_after_hotplug hotplug_sim:%d, old_state:%d, new_state:%d", hotplug_sim,
       static_cast<int>(oldState), static_cast<int>(card.m_cardStatus));
  if (card.m_cardStatus == oldState) {
    LOGE("check_modemprep_after_hotplug return for sim state not change after hotplug");
    return hotplug_sim;
  }
  configureRadio(state, true, hotplug_sim);
  return hotplug_sim;
}

void runResidentPass(DaemonState& state) {
  sim_hot_plug_monitor_loop(state);
  platformSleepUs(kResidentPauseUs);
}
