// The configuration chain, shared by the start-up and each hot-plug reconfiguration. Each step
// reads its inputs, lets the policy decide, logs the decision and acts on it.
#include "card/history.h"
#include "card/history_file.h"
#include "card/imei.h"
#include "main/daemon.h"
#include "modem/commands.h"
#include "modem/nvram.h"
#include "platform/platform.h"
#include "ril/ril.h"

namespace {

constexpr int kPropertyTries = 3;

// How one table lookup is logged: the index function and table names of its lines.
struct LookupLog {
  const char* indexFunction;
  const char* tableName;
};
constexpr LookupLog kCapabilityLog = {"getIndexOf_STANDBY_RAT_CAPABILITY", "RAT_CAPABILITY_XXXX"};
constexpr LookupLog kActualLog = {"getIndexOf_STANDBY_ACTUAL_RAT", "ACTUAL_RAT_CAPABILITY_XXXX"};

void logCardClasses(const LookupLog& names, const PairLookup& pair,
                    const CardInfo (&cards)[MAX_SIM]) {
  for (int i = 0; i < 2; i++) {
    const CardInfo& card = cards[i];
    if (!pair.card[i].covered) {
      LOGE("can not get index of %s by m_cardStatus(%d) & m_cardType(%d) & m_cardLocale(%d)",
           names.tableName, static_cast<int>(card.m_cardStatus), static_cast<int>(card.m_cardType),
           static_cast<int>(card.m_cardLocale));
    }
    LOGI("%s() of card %d is %d", names.indexFunction, i, pair.card[i].index);
  }
}

PairLookup lookUpCapability(const DaemonState& state) {
  const CardInfo(&cards)[MAX_SIM] = state.cards.cardInfo;
  PairLookup pair = ratGetDualCardCapability(state.profile.projectTarget, cards[0], cards[1]);
  logCardClasses(kCapabilityLog, pair, cards);
  if (pair.code < 0) {
    LOGE("combination of (U)SIM: unknown");
  } else {
    LOGI("combination of (U)SIM: %s", capabilityName(pair.code));
  }
  return pair;
}

PairLookup lookUpActual(const DaemonState& state) {
  const CardInfo(&cards)[MAX_SIM] = state.cards.cardInfo;
  PairLookup pair = ratGetDualCardActualCapability(state.profile.projectTarget, cards[0], cards[1]);
  logCardClasses(kActualLog, pair, cards);
  LOGI("actual combination of (U)SIM: %s", actualName(pair.code));
  return pair;
}

PolicyInputs policyInputs(const DaemonState& state, const char* storedMasterCard,
                          const char* defaultDataCard, const char* prefNetType) {
  return {state.profile,        state.cards.cardInfo, state.cards.savedCardInfo.m_slotCardID,
          storedMasterCard,     defaultDataCard,      prefNetType,
          state.link.capability};
}

}  // namespace

void decideMasterCard(DaemonState& state) {
  char stored[PROPERTY_VALUE_SIZE] = {};
  getProp(prop::kMasterCard, stored, "10");
  PairLookup capability = lookUpCapability(state);
  char defaultData[PROPERTY_VALUE_SIZE] = {};
  if (masterCardNeedsDefaultData(state.profile, capability)) {
    getProp(prop::kDefaultData, defaultData, nullptr);
  }
  RadioPlan& plan = state.plan;
  selectMasterCard(plan, policyInputs(state, stored, defaultData, ""), capability);

  const MasterDecision& master = plan.master;
  if (master.rule == MasterRule::kUnsupportedMode) {
    LOGE("unsupported mode: simCount(%d) and standbyCount(%d)", state.profile.simCount,
         state.profile.standbyCount);
  } else if (master.rule == MasterRule::kLastMasterCard ||
             master.rule == MasterRule::kLastMasterMissing) {
    LOGI("current master card is %d according to last master card id %s", master.lastMasterCard,
         master.lastMasterID);
  }
  if (master.written) setProp(prop::kMasterCard, plan.masterCard, kPropertyTries);
}

void decideActualRat(DaemonState& state) {
  PairLookup actual = lookUpActual(state);
  char prefNetType[PROPERTY_VALUE_SIZE];
  getProp(prop::kPrefNetType, prefNetType, "");
  RadioPlan& plan = state.plan;
  changeActualRat(plan, policyInputs(state, plan.masterCard, "", prefNetType), actual);

  const ProjectProfile& profile = state.profile;
  const ActualDecision& why = plan.actualRat;
  if (why.singleSimDualStandby) LOGI("[change actual RAT]single (U)SIM dual standby");
  if (why.manualOutOfRange) {
    LOGE("%s() invalid ratIdx: %d.", "changeActualRat", profile.manualRatStandby);
  } else if (why.manual) {
    LOGI(
        "[change actual RAT]Replace actual RAT to %d for standby %d by the manual setting, and "
        "set other standby to %d.",
        static_cast<int>(profile.manualRatMask), profile.manualRatStandby,
        static_cast<int>(profile.rat2GMask));
  }
  LOGI("[change actual RAT]standbyDSTMEX[0] = %s, standbyDSTMEX[1] = %s", plan.standbyDSTMEX[0],
       plan.standbyDSTMEX[1]);
  setProp(prop::kActualRat, plan.actualRatValue, kPropertyTries);
}

void decideStandbyMap(DaemonState& state) {
  mapStandbyToSim(state.plan, state.profile);
  if (!state.plan.slotModeSupported) {
    LOGE("Invalid (U)SIM(%d) and standby(%d).", state.profile.simCount, state.profile.standbyCount);
  }
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
  decideMasterCard(state);
  decideActualRat(state);
  decideStandbyMap(state);
  updateSavedCardInfo(cards.savedCardInfo, cards.cardInfo, state.profile.simCount);
  writeSavedCardInfo(cards.savedCardInfo);
  switchModemNvram(state, nvramForce);
  checkIMEI(state.link, state.profile.simCount);
  closeModemChannel(state.link, false);
  startRildService(state.profile, cards.cardInfo, state.plan, state.isSwitchModem, hotplugSim);
}
