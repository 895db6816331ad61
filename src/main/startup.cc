// The start-up sequence: one configuration of the radio per process start.
#include "card/history_file.h"
#include "card/query.h"
#include "main/daemon.h"
#include "modem/commands.h"
#include "modem/nvram.h"
#include "platform/log_lines.h"
#include "platform/platform.h"
#include "profile/load.h"

namespace {

constexpr int kMasterCardSwitchTries = 5;

void logBootAndBuild() {
  char value[PROPERTY_VALUE_SIZE];
  getProp(prop::kBootCompleted, value, "0");
  if (value[0] == '0') {
    setProp(prop::kBootCompleted, "1", 3);
    LOGD(logline::kBootUp, __DATE__, __TIME__);
  }
  LOGD(logline::kBuildTime, __DATE__, __TIME__);
}

// A '1' in second place: a master-card switch (or another start-up) is under way.
bool masterCardSwitchUnderWay() {
  char value[PROPERTY_VALUE_SIZE];
  getProp(prop::kMasterCardSwitch, value, "00");
  return value[1] == '1';
}

// The profile, with the modem opened and asked its capability where the RAT list needs it.
void loadProfileAndManualSetting(ProjectProfile& profile, ModemLink& link) {
  RatList ratList;
  loadProjectProfile(profile, ratList);
  openModemChannel(link);
  queryModemCapability(link, false);
  completeProjectProfile(profile, ratList, link.capability);
  getManualInfo(profile);
  readPlmnLists(profile);
}

void queryEverySlot(DaemonState& state) {
  Cards& cards = state.cards;
  cards.dual_sim_online = 0;
  for (int slot = 0; slot < state.profile.simCount && slot < MAX_SIM; slot++) {
    queryCardInfo(state.link, slot, cards.cardInfo[slot], state.profile, cards.savedCardInfo);
    if (isPresent(cards.cardInfo[slot])) cards.dual_sim_online |= 1u << slot;
  }
}

}  // namespace

bool runStartupSequence(DaemonState& state) {
  logBootAndBuild();
  if (masterCardSwitchUnderWay()) {
    LOGD("switching master card now, wait for a while!");
    return false;
  }
  setProp(prop::kMasterCardSwitch, "11", kMasterCardSwitchTries);
  restoreInterruptedSwap();

  loadProfileAndManualSetting(state.profile, state.link);
  readSavedCardInfo(state.cards.savedCardInfo);
  openModemChannel(state.link);
  queryEverySlot(state);

  configureRadio(state, false, -1);

  if (!state.isSwitchModem) setProp(prop::kMasterCardSwitch, "00", kMasterCardSwitchTries);
  return true;
}
