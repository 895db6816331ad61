// Dual-standby RAT policy; see policy.h. No I/O here: every input arrives as an argument.
#include "rat/policy.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// ---- Policy tables: entry = table[first card's class][second card's class] ---------------------

// clang-format off
constexpr int32_t RAT_CAPABILITY_OPEN[4][4] = {
    {1, 2, 2, 2},
    {1, 1, 2, 2},
    {1, 1, 3, 2},
    {1, 1, 1, 3},
};

constexpr int32_t RAT_CAPABILITY_CMCC[8][8] = {
    {1, 2, 2, 2, 2, 2, 2, 2},
    {1, 1, 2, 1, 2, 2, 1, 2},
    {1, 1, 3, 1, 1, 2, 1, 1},
    {1, 2, 2, 3, 2, 2, 2, 2},
    {1, 1, 2, 1, 3, 2, 1, 2},
    {1, 1, 1, 1, 1, 3, 1, 1},
    {1, 2, 2, 1, 2, 2, 3, 2},
    {1, 1, 2, 1, 1, 2, 1, 3},
};

constexpr int32_t RAT_CAPABILITY_CUCC[6][6] = {
    {1, 2, 2, 2, 2, 2},
    {1, 1, 2, 2, 2, 2},
    {1, 1, 3, 1, 2, 2},
    {1, 1, 2, 3, 2, 2},
    {1, 1, 1, 1, 3, 1},
    {1, 1, 1, 1, 2, 3},
};

constexpr int32_t ACTUAL_RAT_CAPABILITY_OPEN[4][4] = {
    {1, 5, 6, 5},
    {1, 1, 6, 5},
    {3, 3, 4, 5},
    {1, 1, 1, 2},
};

constexpr int32_t ACTUAL_RAT_CAPABILITY_CMCC[8][8] = {
    {1, 5, 6, 6, 6, 5, 5, 5},
    {1, 1, 6, 1, 6, 5, 1, 5},
    {3, 3, 4, 3, 3, 5, 3, 3},
    {3, 5, 6, 4, 6, 5, 5, 5},
    {3, 3, 6, 3, 4, 5, 3, 5},
    {1, 1, 1, 1, 1, 2, 1, 1},
    {1, 5, 6, 1, 6, 5, 2, 5},
    {1, 1, 6, 1, 1, 5, 1, 2},
};

constexpr int32_t ACTUAL_RAT_CAPABILITY_CUCC[6][6] = {
    {1, 5, 6, 6, 5, 5},
    {1, 1, 6, 6, 5, 5},
    {3, 3, 4, 3, 5, 5},
    {3, 3, 6, 4, 5, 5},
    {1, 1, 1, 1, 2, 1},
    {1, 1, 1, 1, 5, 2},
};
// clang-format on

// ---- Card classes per target -------------------------------------------------------------------

// A card's class: the first row of its target's table that takes its type and locale.
using K = CardType;
using L = CardLocale;
constexpr CardClassRow kOpenClasses[] = {
    {kIndexNoCard, K::kUnknown, L::kUnknown, "no card"},
    {kIndexUnknownCard, K::kUnknown, L::kUnknown, "unknown card"},
    {2, K::kSim, kAnyLocale, "SIM"},
    {3, K::kUsim, kAnyLocale, "USIM"},
};
constexpr CardClassRow kCmccClasses[] = {
    {kIndexNoCard, K::kUnknown, L::kUnknown, "no card"},
    {kIndexUnknownCard, K::kUnknown, L::kUnknown, "unknown card"},
    {2, K::kSim, L::kCmccHome, "SIM, home operator"},
    {3, K::kSim, L::kCmccSameCountry, "SIM, other domestic operator"},
    {4, K::kSim, L::kCmccForeign, "SIM, foreign operator"},
    {5, K::kUsim, L::kCmccHome, "USIM, home operator"},
    {6, K::kUsim, L::kCmccSameCountry, "USIM, other domestic operator"},
    {7, K::kUsim, L::kCmccForeign, "USIM, foreign operator"},
};
constexpr CardClassRow kCuccClasses[] = {
    {kIndexNoCard, K::kUnknown, L::kUnknown, "no card"},
    {kIndexUnknownCard, K::kUnknown, L::kUnknown, "unknown card"},
    {2, K::kSim, L::kCuccHome, "SIM, home operator"},
    {3, K::kSim, kAnyLocale, "SIM, other operator"},
    {4, K::kUsim, L::kCuccHome, "USIM, home operator"},
    {5, K::kUsim, kAnyLocale, "USIM, other operator"},
};

template <size_t N>
constexpr bool indexedInOrder(const CardClassRow (&rows)[N]) {
  for (size_t i = 0; i < N; i++) {
    if (rows[i].index != static_cast<int>(i)) return false;
  }
  return true;
}
static_assert(indexedInOrder(kOpenClasses) && indexedInOrder(kCmccClasses) &&
                  indexedInOrder(kCuccClasses),
              "a class's index is its row in the target's table");

struct TargetTables {
  uint32_t target;
  CardClassTable classes;
  const int32_t* capability;
  const int32_t* actual;
};

template <size_t N>
constexpr CardClassTable classTable(const CardClassRow (&rows)[N]) {
  return {rows, static_cast<int>(N)};
}

constexpr TargetTables kTargetTables[] = {
    {PROJECT_TARGET_OPEN, classTable(kOpenClasses), &RAT_CAPABILITY_OPEN[0][0],
     &ACTUAL_RAT_CAPABILITY_OPEN[0][0]},
    {PROJECT_TARGET_CMCC, classTable(kCmccClasses), &RAT_CAPABILITY_CMCC[0][0],
     &ACTUAL_RAT_CAPABILITY_CMCC[0][0]},
    {PROJECT_TARGET_CUCC, classTable(kCuccClasses), &RAT_CAPABILITY_CUCC[0][0],
     &ACTUAL_RAT_CAPABILITY_CUCC[0][0]},
};
static_assert(sizeof RAT_CAPABILITY_CMCC == sizeof(int32_t) * 8 * 8 &&
                  sizeof RAT_CAPABILITY_CUCC == sizeof(int32_t) * 6 * 6 &&
                  sizeof RAT_CAPABILITY_OPEN == sizeof(int32_t) * 4 * 4,
              "each table has a row and a column per card class");

// The class of a known card (type and locale not 255); -1 when no row of the table takes it.
int classIndex(const CardClassTable& classes, CardType type, CardLocale locale) {
  for (int i = kIndexFirstClass; i < classes.count; i++) {
    const CardClassRow& row = classes.rows[i];
    if (row.type == type && (row.locale == kAnyLocale || row.locale == locale)) return row.index;
  }
  return -1;
}

const TargetTables* tablesOf(uint32_t target) {
  for (const TargetTables& row : kTargetTables) {
    if (row.target == target) return &row;
  }
  return nullptr;
}

PairLookup lookUp(uint32_t target, const CardInfo& first, const CardInfo& second,
                  const int32_t* TargetTables::*table) {
  PairLookup pair = {{cardClass(target, first), cardClass(target, second)}, kUnknownCombination};
  const TargetTables* tables = tablesOf(target);
  if (tables != nullptr) {
    pair.code = (tables->*table)[pair.card[0].index * tables->classes.count + pair.card[1].index];
  }
  return pair;
}

// ---- Combination names -------------------------------------------------------------------------

constexpr const char* kCapabilityNames[] = {"unknown", "RAT_234G_2G", "RAT_2G_234G",
                                            "RAT_234G_2G_O"};
constexpr const char* kActualNames[] = {
    "unknown",           "ACTUAL_RAT_234G_2G",  "ACTUAL_RAT_234G_2G_O",
    "ACTUAL_RAT_23G_2G", "ACTUAL_RAT_23G_2G_O", "ACTUAL_RAT_2G_234G",
    "ACTUAL_RAT_2G_23G", "ACTUAL_RAT_2G_2G",
};

template <size_t N>
const char* codeName(const char* const (&names)[N], int32_t code) {
  return code > 0 && code < static_cast<int32_t>(N) ? names[code] : names[0];
}

// ---- Master card -------------------------------------------------------------------------------

constexpr const char* kMasterCodeTexts[] = {"10", "20", "12", "21"};
// Two characters and the terminator: all of a master-card text that is ever written.
constexpr size_t kCodeBytes = 3;

bool modeSupported(const ProjectProfile& profile) {
  return (profile.simCount == 1 && (profile.standbyCount == 1 || profile.standbyCount == 2)) ||
         (profile.simCount == 2 && (profile.standbyCount == 2 || profile.standbyCount == 3));
}

bool manualStandbySet(const ProjectProfile& profile) {
  return profile.manualRatStandby >= 0 && profile.manualRatStandby <= profile.standbyCount;
}

// Both cards equally capable and no default data card: the card that was master last time,
// followed by its identity in case it moved to the other slot.
MasterCode followLastMaster(RadioPlan& plan, const MasterInputs& in) {
  const char(&lastMaster)[CARD_ID_SIZE] =
      in.lastSlotCardID[masterCardSlot(plan.masterCard) == MasterCardSlot::kSlot0 ? 0 : 1];
  MasterDecision& master = plan.master;
  memcpy(master.lastMasterID, lastMaster, CARD_ID_SIZE);
  master.lastMasterID[CARD_ID_SIZE - 1] = '\0';
  master.lastMasterCard = -1;
  for (int slot = 0; slot < 2 && master.lastMasterCard < 0; slot++) {
    if (strncmp(lastMaster, in.cards[slot].m_cardID, CARD_ID_SIZE) == 0) {
      master.lastMasterCard = slot + 1;
    }
  }
  master.rule =
      master.lastMasterCard < 0 ? MasterRule::kLastMasterMissing : MasterRule::kLastMasterCard;
  return master.lastMasterCard == 2 ? MasterCode::k21 : MasterCode::k12;
}

// The rule and code for this set-up; false when the stored code stays.
bool decideMaster(RadioPlan& plan, const MasterInputs& in, const PairLookup& capability,
                  MasterCode* code) {
  const ProjectProfile& profile = in.profile;
  MasterRule& rule = plan.master.rule;
  if (manualStandbySet(profile)) {
    rule = MasterRule::kManualSetting;
    *code = profile.manualRatStandby == 0 ? MasterCode::k10 : MasterCode::k20;
    return true;
  }
  if (!modeSupported(profile)) {
    rule = MasterRule::kUnsupportedMode;
    return false;
  }
  if (profile.simCount == 1 || profile.dynamicRat != 1) {
    rule = profile.simCount == 1 ? MasterRule::kSingleSim : MasterRule::kDynamicRatOff;
    *code = MasterCode::k10;
    return true;
  }
  switch (capability.code) {
    case RAT_234G_2G:
    case RAT_2G_234G:
      rule = MasterRule::kCapabilityTable;
      *code = capability.code == RAT_234G_2G ? MasterCode::k10 : MasterCode::k20;
      return true;
    case RAT_234G_2G_O:
      if (in.defaultDataCard[0] != '\0') {
        rule = MasterRule::kDefaultDataCard;
        *code = in.defaultDataCard[0] == '0' ? MasterCode::k12 : MasterCode::k21;
      } else {
        *code = followLastMaster(plan, in);
      }
      return true;
    default:
      rule = MasterRule::kUnknownCombination;
      return false;
  }
}

// ---- Actual RATs -------------------------------------------------------------------------------

constexpr int kMasterStandby = -1;  // the standby of the master card

struct ActualChoice {
  int32_t code;
  int standby;
  unsigned groups;
};
constexpr ActualChoice kActualChoices[] = {
    {ACTUAL_RAT_234G_2G, 0, kAllGroups},
    {ACTUAL_RAT_234G_2G_O, kMasterStandby, kAllGroups},
    {ACTUAL_RAT_23G_2G, 0, kGroup2G | kGroup3G},
    {ACTUAL_RAT_23G_2G_O, kMasterStandby, kGroup2G | kGroup3G},
    {ACTUAL_RAT_2G_234G, 1, kAllGroups},
    {ACTUAL_RAT_2G_23G, 1, kGroup2G | kGroup3G},
    {ACTUAL_RAT_2G_2G, kMasterStandby, kGroup2G},
};
// An unknown combination is no error: the master card's standby gets everything.
constexpr ActualChoice kUnknownChoice = {kUnknownCombination, kMasterStandby, kAllGroups};

const ActualChoice& actualChoice(int32_t code) {
  for (const ActualChoice& row : kActualChoices) {
    if (row.code == code) return row;
  }
  return kUnknownChoice;
}

// Groups the preferred network type takes away from the chosen standby.
struct PrefNetType {
  long value;
  unsigned cleared;
};
constexpr PrefNetType kPrefNetTypes[] = {
    {0, kGroup4G}, {102, kGroup4G}, {1, kGroup3G | kGroup4G}, {2, kGroup2G | kGroup4G}};

// DSTMEX of the chosen standby: "0", then the access technology of each group it has.
struct DstmexTech {
  unsigned group;
  const char* text;
};
constexpr DstmexTech kDstmexTechs[] = {{kGroup4G, ",7"}, {kGroup3G, ",2"}, {kGroup2G, ",0"}};
constexpr char kOtherStandbyDstmex[] = "1,0";

// '2' names the card of slot 1; anything else (a stale code included) falls back to standby 0.
int masterStandbyOf(const char* masterCard) {
  return masterCardSlot(masterCard) == MasterCardSlot::kSlot1 ? 1 : 0;
}

int clampStandbyCount(int32_t count) {
  if (count < 0) return 0;
  return count > MAX_STANDBY ? MAX_STANDBY : count;
}

unsigned prefNetTypeCleared(long type) {
  for (const PrefNetType& row : kPrefNetTypes) {
    if (row.value == type) return row.cleared;
  }
  return 0;
}

void buildChosenDstmex(const ProjectProfile& profile, RatMask mask, char (&text)[DSTMEX_SIZE]) {
  memset(text, 0, DSTMEX_SIZE);
  size_t used = 0;
  text[used++] = '0';
  for (const DstmexTech& tech : kDstmexTechs) {
    if ((mask & groupMask(profile, tech.group)) == 0) continue;
    memcpy(text + used, tech.text, 2);
    used += 2;
  }
}

void buildActualRatValue(RadioPlan& plan, int count) {
  char* value = plan.actualRatValue;
  memset(value, 0, sizeof plan.actualRatValue);
  size_t used = 0;
  for (int i = 0; i < count; i++) {
    used += snprintf(value + used, sizeof plan.actualRatValue - used, "%d,",
                     static_cast<int>(plan.standbyActualRat[i]));
  }
  if (used > 0 && value[used - 1] == ',') value[used - 1] = '\0';
}

// ---- Standby-to-SIM mapping --------------------------------------------------------------------

constexpr int32_t kNoSlot = -1;
constexpr int32_t kMasterSlot = -2;  // the master card's slot

struct StandbyMap {
  int32_t simCount;
  int32_t standbyCount;
  int32_t slots[3];
};
constexpr StandbyMap kStandbyMaps[] = {
    {1, 1, {0, kNoSlot, kNoSlot}},
    {1, 2, {0, 0, kNoSlot}},
    {2, 2, {0, 1, kNoSlot}},
    {2, 3, {0, 1, kMasterSlot}},
};

const StandbyMap* findStandbyMap(int32_t simCount, int32_t standbyCount) {
  for (const StandbyMap& row : kStandbyMaps) {
    if (row.simCount == simCount && row.standbyCount == standbyCount) return &row;
  }
  return nullptr;
}

bool offers(const ModemCapability& capability, int standby, RatMask wanted) {
  RatMask offered = static_cast<RatMask>(capability.standbyRatCap[standby]);
  return (offered & wanted) == wanted;
}

}  // namespace

// ---- Lookups -----------------------------------------------------------------------------------

CardClass cardClass(uint32_t target, const CardInfo& card) {
  if (card.m_cardStatus == CardStatus::kAbsent) return {kIndexNoCard, true};
  if (card.m_cardStatus == CardStatus::kUnknown || card.m_cardType == CardType::kUnknown ||
      card.m_cardLocale == CardLocale::kUnknown) {
    return {kIndexUnknownCard, true};
  }
  const TargetTables* tables = tablesOf(target);
  int index =
      tables != nullptr ? classIndex(tables->classes, card.m_cardType, card.m_cardLocale) : -1;
  if (index >= 0) return {index, true};
  return {kIndexNoCard, false};
}

const CardClassTable* cardClassTable(uint32_t target) {
  const TargetTables* tables = tablesOf(target);
  return tables != nullptr ? &tables->classes : nullptr;
}

PairLookup ratGetDualCardCapability(uint32_t target, const CardInfo& first,
                                    const CardInfo& second) {
  return lookUp(target, first, second, &TargetTables::capability);
}

PairLookup ratGetDualCardActualCapability(uint32_t target, const CardInfo& first,
                                          const CardInfo& second) {
  return lookUp(target, first, second, &TargetTables::actual);
}

const char* capabilityName(int32_t code) { return codeName(kCapabilityNames, code); }
const char* actualName(int32_t code) { return codeName(kActualNames, code); }

// ---- Master card -------------------------------------------------------------------------------

const char* masterCodeText(MasterCode code) { return kMasterCodeTexts[static_cast<int>(code)]; }

MasterCardSlot masterCardSlot(const char* masterCard) {
  if (masterCard[0] == '1') return MasterCardSlot::kSlot0;
  if (masterCard[0] == '2') return MasterCardSlot::kSlot1;
  return MasterCardSlot::kNeither;
}

bool masterCardNeedsDefaultData(const ProjectProfile& profile, const PairLookup& capability) {
  return !manualStandbySet(profile) && modeSupported(profile) && profile.simCount == 2 &&
         profile.dynamicRat == 1 && capability.code == RAT_234G_2G_O;
}

void selectMasterCard(RadioPlan& plan, const MasterInputs& in, const PairLookup& capability) {
  plan.capability = capability;
  plan.master = {};
  // Only the first character of a master-card text is ever read.
  memset(plan.masterCard, 0, kCodeBytes);
  memcpy(plan.masterCard, in.storedMasterCard, strnlen(in.storedMasterCard, kCodeBytes));
  MasterCode code;
  plan.master.written = decideMaster(plan, in, capability, &code);
  if (plan.master.written) memcpy(plan.masterCard, masterCodeText(code), kCodeBytes);
}

// ---- Actual RATs -------------------------------------------------------------------------------

RatMask groupMask(const ProjectProfile& profile, unsigned groups) {
  return ((groups & kGroup2G) ? profile.rat2GMask : 0) |
         ((groups & kGroup3G) ? profile.rat3GMask : 0) |
         ((groups & kGroup4G) ? profile.rat4GMask : 0);
}

void changeActualRat(RadioPlan& plan, const ActualInputs& in, const PairLookup& actual) {
  const ProjectProfile& profile = in.profile;
  const int standbys = clampStandbyCount(profile.standbyCount);
  ActualDecision& why = plan.actualRat;
  why = {};
  why.countedStandbys = standbys;
  plan.actual = actual;

  const ActualChoice& choice = actualChoice(actual.code);
  why.masterStandby = choice.standby == kMasterStandby;
  int s = why.masterStandby ? masterStandbyOf(plan.masterCard) : choice.standby;
  why.tableStandby = s;
  why.tableGroups = choice.groups;
  plan.standbyRat[s] = plan.standbyActualRat[s] = groupMask(profile, choice.groups);
  for (int i = 0; i < standbys; i++) {
    if (i != s) plan.standbyRat[i] = plan.standbyActualRat[i] = profile.rat2GMask;
  }

  RatMask& mask = plan.standbyActualRat[s];
  // A SIM card cannot use LTE, whatever the table says.
  if (in.cards[s].m_cardType == CardType::kSim) {
    why.simCut4G = true;
    mask &= ~profile.rat4GMask;
  }
  if (in.prefNetType[0] != '\0') {
    why.prefNetTypeSet = true;
    why.prefNetType = strtol(in.prefNetType, nullptr, 10);  // leading number, 0 when none
    why.prefCleared = prefNetTypeCleared(why.prefNetType);
    mask &= ~groupMask(profile, why.prefCleared);
  }
  if (profile.simCount == 1 && profile.standbyCount == 2) {
    why.singleSimDualStandby = true;
    why.singleSimCut2G = (mask & profile.rat4GMask) != 0;
    if (why.singleSimCut2G) {
      mask &= ~profile.rat2GMask;
    } else {
      why.countedStandbys = 1;
    }
  }

  if (profile.manualRatMask != NO_MANUAL_RAT_MASK) {
    if (profile.manualRatStandby < 0 || profile.manualRatStandby >= MAX_STANDBY) {
      why.manualOutOfRange = true;
    } else {
      why.manual = true;
      s = profile.manualRatStandby;
      plan.standbyActualRat[s] = profile.manualRatMask;
    }
  }
  why.chosenStandby = s;

  buildChosenDstmex(profile, plan.standbyActualRat[s], plan.standbyDSTMEX[s]);
  for (int i = 0; i < why.countedStandbys; i++) {
    if (i == s) continue;
    memset(plan.standbyDSTMEX[i], 0, DSTMEX_SIZE);
    memcpy(plan.standbyDSTMEX[i], kOtherStandbyDstmex, sizeof kOtherStandbyDstmex);
    plan.standbyActualRat[i] = profile.rat2GMask;
  }
  buildActualRatValue(plan, why.countedStandbys);
}

// ---- Standby-to-SIM mapping --------------------------------------------------------------------

void mapStandbyToSim(RadioPlan& plan, const ProjectProfile& profile) {
  const StandbyMap* map = findStandbyMap(profile.simCount, profile.standbyCount);
  plan.slotModeSupported = map != nullptr;
  for (int i = 0; i < MAX_STANDBY; i++) {
    int32_t slot = map != nullptr && i < map->standbyCount ? map->slots[i] : kNoSlot;
    if (slot == kMasterSlot)
      slot = masterCardSlot(plan.masterCard) == MasterCardSlot::kSlot0 ? 0 : 1;
    plan.standbySimSlot[i] = slot;
  }
}

// ---- Modem check -------------------------------------------------------------------------------

void checkStandbysServed(RadioPlan& plan, const ProjectProfile& profile,
                         const ModemCapability& capability) {
  NvramCheck& check = plan.nvram;
  check = {};
  if (!modemCheckRuns(profile) || profile.standbyCount < 1) return;
  check.checked = true;
  check.everyServed = true;
  const int count = clampStandbyCount(profile.standbyCount);
  for (int i = 0; i < count && check.everyServed; i++) {
    if (offers(capability, i, plan.standbyRat[i])) continue;
    check.everyServed = false;
    check.firstUnserved = i;
    for (int j = 0; j < count && !check.offeredElsewhere; j++) {
      check.offeredElsewhere = offers(capability, j, plan.standbyRat[i]);
    }
  }
}

void decideRadio(RadioPlan& plan, const ProjectProfile& profile, const CardInfo (&cards)[MAX_SIM],
                 const char (&lastSlotCardID)[MAX_SIM][CARD_ID_SIZE], PolicySettings& settings) {
  const uint32_t target = profile.projectTarget;
  const char* stored = settings.storedMasterCard();
  const PairLookup capability = ratGetDualCardCapability(target, cards[0], cards[1]);
  settings.capabilityLookedUp(capability);
  const char* defaultData =
      masterCardNeedsDefaultData(profile, capability) ? settings.defaultDataCard() : "";
  selectMasterCard(plan, {profile, cards, lastSlotCardID, stored, defaultData}, capability);
  settings.masterSelected(plan);

  const PairLookup actual = ratGetDualCardActualCapability(target, cards[0], cards[1]);
  settings.actualLookedUp(actual);
  changeActualRat(plan, {profile, cards, settings.prefNetType()}, actual);
  settings.actualRatChanged(plan);

  mapStandbyToSim(plan, profile);
  settings.standbysMapped(plan);
}

RadioPlan planRadio(const PolicyInputs& in, const RadioPlan& previous) {
  struct Given final : PolicySettings {
    const PolicyInputs& in;
    explicit Given(const PolicyInputs& inputs) : in(inputs) {}
    const char* storedMasterCard() override { return in.storedMasterCard; }
    const char* defaultDataCard() override { return in.defaultDataCard; }
    const char* prefNetType() override { return in.prefNetType; }
  } given(in);
  RadioPlan plan = previous;
  decideRadio(plan, in.profile, in.cards, in.lastSlotCardID, given);
  checkStandbysServed(plan, in.profile, in.capability);
  return plan;
}

bool modemCheckRuns(const ProjectProfile& profile) {
  return profile.manualRatMask == NO_MANUAL_RAT_MASK;
}

bool nvramSwapNeeded(const NvramCheck& check, bool capabilityKnown) {
  return capabilityKnown && check.checked && !check.everyServed;
}
