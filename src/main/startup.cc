// The start-up sequence: one configuration of the radio per process start, then the resident
// hot-plug loop.
#include "main/startup.h"

#include "card/card.h"
#include "hotplug/hotplug.h"
#include "modem/modem.h"
#include "platform/platform.h"
#include "profile/profile.h"
#include "rat/rat.h"
#include "ril/ril.h"

namespace {

constexpr char kBootCompleted[] = "sys.vx.boot.completed";
constexpr char kMasterCardSwitch[] = "gsm.operator.mcard_switch";
constexpr int kMasterCardSwitchTries = 5;
constexpr uint64_t kResidentPauseUs = 2000000;

void logBootAndBuild() {
  char value[PROPERTY_VALUE_SIZE];
  getProp(kBootCompleted, value, "0");
  if (value[0] == '0') {
    setProp(kBootCompleted, "1", 3);
    LOGD("Boot up: %s %s", __DATE__, __TIME__);
  }
  LOGD("Build time: %s %s", __DATE__, __TIME__);
}

// A '1' in second place: a master-card switch (or another start-up) is under way.
bool masterCardSwitchUnderWay() {
  char value[PROPERTY_VALUE_SIZE];
  getProp(kMasterCardSwitch, value, "00");
  return value[1] == '1';
}

void loadProfileAndManualSetting() {
  loadProjectProfile();
  setRatTableTarget(g_projectProfile.projectTarget);
  getManualInfo();
  readPlmnList("persist.sys.vx.plmn.cmcc", "460,00,02,07,08,20", g_projectProfile.cmccPlmnList);
  readPlmnList("persist.sys.vx.plmn.cucc", "460,01,06,09", g_projectProfile.cuccPlmnList);
}

void queryEverySlot() {
  g_dual_sim_online = 0;
  for (int slot = 0; slot < g_projectProfile.simCount && slot < MAX_SIM; slot++) {
    queryCardInfo(modemFd, slot, &g_cardInfo[slot]);
    if (g_cardInfo[slot].m_cardStatus == 1) g_dual_sim_online |= 1u << slot;
  }
}

}  // namespace

void configureRadio(int nvramForce, int hotplugSim) {
  selectMasterCard();
  changeActualRat();
  mapStandbyToSim();
  updateSavedCardInfo();
  writeSavedCardInfo(&g_savedCardInfo);
  switchModemNvram(nvramForce);
  checkIMEI();
  closeModemChannel(0);
  startRildService(hotplugSim);
}

int runStartupSequence() {
  logBootAndBuild();
  if (masterCardSwitchUnderWay()) {
    LOGD("switching master card now, wait for a while!");
    return 1;
  }
  setProp(kMasterCardSwitch, "11", kMasterCardSwitchTries);

  loadProfileAndManualSetting();
  readSavedCardInfo(&g_savedCardInfo);
  openModemChannel();
  queryEverySlot();

  configureRadio(0, -1);

  if (g_isSwitchModem == 0) setProp(kMasterCardSwitch, "00", kMasterCardSwitchTries);
  return 0;
}

void runResidentPass() {
  sim_hot_plug_monitor_loop();
  platformSleepUs(kResidentPauseUs);
}
