// The resident loop: SIM hot-plug events and the reconfiguration of the slot concerned.
#include <errno.h>
#include <string.h>

#include "card/query.h"
#include "hotplug/hotplug.h"
#include "main/daemon.h"
#include "modem/commands.h"
#include "platform/log_lines.h"
#include "platform/platform.h"
#include "ril/ril.h"

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

// Tells the modem whether the slot holds a card ("AT+DSIMIO=1" or "=0"); a failure is logged and
// the reconfiguration goes on.
void tellModemSlot(ModemLink& link, int slot, int present) {
  AtOutcome outcome = sendAtSyncOk(link, kSimIoCommands[present != 0 ? 1 : 0]);
  if (!outcome.succeeded()) {
    LOGD("sim_hot_plug_monitor_loop phone %d AT+DSIMIO=%d fail , ret:%d, isOk=%d\n", slot, present,
         outcome.result, outcome.isOk);
  }
}

// A card pulled and another inserted while a pass was busy elsewhere: the slot's "OUT" finds it
// still present and its "IN" then changes nothing, so presence alone would never configure the
// new card. The slot's rild file names the card it was configured with; a card identified now
// that differs from it is handled as an insertion. Unknown either way (no file, no identity):
// nothing is assumed.
bool cardSwapped(const DaemonState& state, int slot) {
  const CardInfo& card = state.cards.cardInfo[slot];
  char configured[CARD_ID_SIZE];
  if (slot >= state.profile.standbyCount || card.m_cardID[0] == '\0' ||
      !rildFileCardID(slot, configured) ||
      strncmp(configured, card.m_cardID, sizeof configured) == 0) {
    return false;
  }
  LOGE(
      "check_modemprep_after_hotplug card of slot %d is %s, its rild was configured for %s: "
      "configured as for an insertion",
      slot, card.m_cardID, configured[0] != '\0' ? configured : "none");
  return true;
}

}  // namespace

void sim_hot_plug_monitor_loop(DaemonState& state) {
  errno = 0;
  int fd = platformUeventOpen(UEVENT_SOCKET_BUFFER, true);
  if (fd < 0) {
    // The reason as well, so that what stands in the way is named (a directory at the host's
    // socket path: "21 - Is a directory").
    LOGE("uevent_open_socket get device_fd error fd:%d, %d - %s", fd, errno, strerror(errno));
    return;
  }
  LOGD(logline::kResident, fd);
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
  tellModemSlot(link, hotplug_sim, present);
  queryCardInfo(link, hotplug_sim, card, state.profile, state.cards.savedCardInfo);
  LOGD("check_modemprep_after_hotplug hotplug_sim:%d, old_state:%d, new_state:%d", hotplug_sim,
       static_cast<int>(oldState), static_cast<int>(card.m_cardStatus));
  if (card.m_cardStatus == oldState && !cardSwapped(state, hotplug_sim)) {
    LOGE("check_modemprep_after_hotplug return for sim state not change after hotplug");
    return hotplug_sim;
  }
  if (card.m_cardStatus == oldState && present == 0) tellModemSlot(link, hotplug_sim, 1);
  configureRadio(state, true, hotplug_sim);
  return hotplug_sim;
}

void runResidentPass(DaemonState& state) {
  sim_hot_plug_monitor_loop(state);
  platformSleepUs(kResidentPauseUs);
}
