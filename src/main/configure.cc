// The configuration chain, shared by the start-up and each hot-plug reconfiguration. Each step
// reads its inputs, lets the policy decide, logs the decision and acts on it.
#include "card/history.h"
#include "card/history_file.h"
#include "card/imei.h"
#include "main/daemon.h"
#include "modem/commands.h"
#include "modem/nvram.h"
#include "platform/log_lines.h"
#include "platform/platform.h"
#include "ril/ril.h"

namespace {

constexpr int kPropertyTries = 3;

// How one table lookup is logged: the index function and table names of its lines.
struct LookupLog {
  const char* indexFunction;
  const char* tableName;
};
constexpr LookupLog kCapabilityLog = {logline::kCapabilityIndexFunction, "RAT_CAPABILITY_XXXX"};
constexpr LookupLog kActualLog = {logline::kActualIndexFunction, "ACTUAL_RAT_CAPABILITY_XXXX"};

void logCardClasses(const LookupLog& names, const PairLookup& pair,
                    const CardInfo (&cards)[MAX_SIM]) {
  for (int i = 0; i < 2; i++) {
    const CardInfo& card = cards[i];
    if (!pair.card[i].covered) {
      LOGE(logline::kCardNotCovered, names.tableName, static_cast<int>(card.m_cardStatus),
           static_cast<int>(card.m_cardType), static_cast<int>(card.m_cardLocale));
    }
    LOGI(logline::kCardClass, names.indexFunction, i, pair.card[i].index);
  }
}

// The policy's settings read from the properties as each stage needs them, and its lookups and
// decisions logged and written as they are made.
class DaemonSettings final : public PolicySettings {
 public:
  explicit DaemonSettings(const DaemonState& state) : state_(state) {}

  const char* storedMasterCard() override {
    getProp(prop::kMasterCard, stored_, "10");
    return stored_;
  }
  const char* defaultDataCard() override {
    getProp(prop::kDefaultData, defaultData_, nullptr);
    return defaultData_;
  }
  const char* prefNetType() override {
    getProp(prop::kPrefNetType, prefNetType_, "");
    return prefNetType_;
  }

  void capabilityLookedUp(const PairLookup& pair) override {
    logCardClasses(kCapabilityLog, pair, state_.cards.cardInfo);
    if (pair.code < 0) {
      LOGE(logline::kCapabilityCombination, capabilityName(pair.code));
    } else {
      LOGI(logline::kCapabilityCombination, capabilityName(pair.code));
    }
  }

  void masterSelected(const RadioPlan& plan) override {
    const ProjectProfile& profile = state_.profile;
    const MasterDecision& master = plan.master;
    if (master.rule == MasterRule::kUnsupportedMode) {
      LOGE("unsupported mode: simCount(%d) and standbyCount(%d)", profile.simCount,
           profile.standbyCount);
    } else if (master.rule == MasterRule::kLastMasterCard ||
               master.rule == MasterRule::kLastMasterMissing) {
      LOGI("current master card is %d according to last master card id %s", master.lastMasterCard,
           master.lastMasterID);
    }
    if (master.written) setProp(prop::kMasterCard, plan.masterCard, kPropertyTries);
  }

  void actualLookedUp(const PairLookup& pair) override {
    logCardClasses(kActualLog, pair, state_.cards.cardInfo);
    LOGI(logline::kActualCombination, actualName(pair.code));
  }

  void actualRatChanged(const RadioPlan& plan) override {
    const ProjectProfile& profile = state_.profile;
    const ActualDecision& why = plan.actualRat;
    if (why.singleSimDualStandby) LOGI(logline::kActualRatSingleCard);
    if (why.manualOutOfRange) {
      LOGE("%s() invalid ratIdx: %d.", "changeActualRat", profile.manualRatStandby);
    } else if (why.manual) {
      LOGI(logline::kActualRatManual, static_cast<int>(profile.manualRatMask),
           profile.manualRatStandby, static_cast<int>(profile.rat2GMask));
    }
    LOGI(logline::kActualRatDstmex, plan.standbyDSTMEX[0], plan.standbyDSTMEX[1]);
    setProp(prop::kActualRat, plan.actualRatValue, kPropertyTries);
  }

  void standbysMapped(const RadioPlan& plan) override {
    if (!plan.slotModeSupported) {
      LOGE("Invalid (U)SIM(%d) and standby(%d).", state_.profile.simCount,
           state_.profile.standbyCount);
    }
  }

 private:
  const DaemonState& state_;
  char stored_[PROPERTY_VALUE_SIZE] = {};
  char defaultData_[PROPERTY_VALUE_SIZE] = {};
  char prefNetType_[PROPERTY_VALUE_SIZE] = {};
};

}  // namespace

void decideRadioPlan(DaemonState& state) {
  DaemonSettings settings(state);
  decideRadio(state.plan, state.profile, state.cards.cardInfo,
              state.cards.savedCardInfo.m_slotCardID, settings);
}

void switchModemNvram(DaemonState& state, bool force) {
  const ProjectProfile& profile = state.profile;
  if (!modemCheckRuns(profile)) return;
  ModemLink& link = state.link;
  switchToStandby(link, 0);
  bool queried = queryModemCapability(link, force);
  checkStandbysServed(state.plan, profile, link.capability);
  const NvramCheck& check = state.plan.nvram;
  state.isSwitchModem = nvramSwapNeeded(check, queried);
  if (!state.isSwitchModem) {
    keepModemNvram();
    return;
  }
  if (!check.offeredElsewhere) {
    LOGE(
        "ERROR: AP and Modem are unmatched since Modem does not support the RAT that AP expected.");
  }
  swapModemNvram(link);
}

void configureRadio(DaemonState& state, bool nvramForce, int hotplugSim) {
  Cards& cards = state.cards;
  decideRadioPlan(state);
  updateSavedCardInfo(cards.savedCardInfo, cards.cardInfo, state.profile.simCount);
  writeSavedCardInfo(cards.savedCardInfo);
  switchModemNvram(state, nvramForce);
  checkIMEI(state.link, state.profile.simCount);
  closeModemChannel(state.link, false);
  startRildService(state.profile, cards.cardInfo, state.plan, state.isSwitchModem, hotplugSim);
}
