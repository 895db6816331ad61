// Dual-standby RAT policy: which card of a pair deserves the full RAT set, which RATs each
// standby really gets, and which SIM slot each standby serves.
#include "rat/rat.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"

uint32_t g_ratTableTarget = PROJECT_TARGET_OPEN;

RatMask g_standbyRat[MAX_STANDBY] = {1, 1, 1, 1, 1};
RatMask g_standbyActualRat[MAX_STANDBY] = {1, 1, 1, 1, 1};
char standbyDSTMEX[MAX_STANDBY][DSTMEX_SIZE] = {};

int32_t g_standbySimSlot[MAX_STANDBY] = {-1, -1, -1, -1, -1};

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

constexpr int kIndexNoCard = 0;
constexpr int kIndexUnknownCard = 1;
constexpr int kIndexFirstClass = 2;
constexpr int32_t kCuccHomeLocale = 4;

// Known card (type and locale not 255) to its class; -1 when the target's rules do not cover it.
int openClass(int32_t type, int32_t) { return type == 1 || type == 2 ? 1 + type : -1; }

int cmccClass(int32_t type, int32_t locale) {
  if ((type != 1 && type != 2) || locale < 1 || locale > 3) return -1;
  return kIndexFirstClass + 3 * (type - 1) + (locale - 1);
}

int cuccClass(int32_t type, int32_t locale) {
  if (type != 1 && type != 2) return -1;
  return kIndexFirstClass + 2 * (type - 1) + (locale == kCuccHomeLocale ? 0 : 1);
}

struct TargetTables {
  uint32_t target;
  int dimension;
  int (*classify)(int32_t type, int32_t locale);
  const int32_t* capability;
  const int32_t* actual;
};

constexpr TargetTables kTargetTables[] = {
    {PROJECT_TARGET_OPEN, 4, openClass, &RAT_CAPABILITY_OPEN[0][0],
     &ACTUAL_RAT_CAPABILITY_OPEN[0][0]},
    {PROJECT_TARGET_CMCC, 8, cmccClass, &RAT_CAPABILITY_CMCC[0][0],
     &ACTUAL_RAT_CAPABILITY_CMCC[0][0]},
    {PROJECT_TARGET_CUCC, 6, cuccClass, &RAT_CAPABILITY_CUCC[0][0],
     &ACTUAL_RAT_CAPABILITY_CUCC[0][0]},
};

const TargetTables* currentTables() {
  for (const TargetTables& row : kTargetTables) {
    if (row.target == g_ratTableTarget) return &row;
  }
  return nullptr;
}

int cardClassIndex(const CardInfo* card, const char* tableName) {
  if (card->m_cardStatus == 0) return kIndexNoCard;
  if (card->m_cardStatus == CARD_UNKNOWN || card->m_cardType == CARD_UNKNOWN ||
      card->m_cardLocale == CARD_UNKNOWN) {
    return kIndexUnknownCard;
  }
  const TargetTables* tables = currentTables();
  int index = tables != nullptr ? tables->classify(card->m_cardType, card->m_cardLocale) : -1;
  if (index >= 0) return index;
  LOGE("can not get index of %s by m_cardStatus(%d) & m_cardType(%d) & m_cardLocale(%d)", tableName,
       card->m_cardStatus, card->m_cardType, card->m_cardLocale);
  return kIndexNoCard;
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
const char* codeName(const char* const (&names)[N], int code) {
  return code > 0 && code < static_cast<int>(N) ? names[code] : names[0];
}

}  // namespace

int setRatTableTarget(uint32_t target) {
  g_ratTableTarget = target;
  return 0;
}

int getIndexOf_STANDBY_RAT_CAPABILITY(const CardInfo* card) {
  if (card == nullptr) {
    LOGE("%s() parameter error: %d", __func__, 1);
    return -1;
  }
  return cardClassIndex(card, "RAT_CAPABILITY_XXXX");
}

int getIndexOf_STANDBY_ACTUAL_RAT(const CardInfo* card) {
  if (card == nullptr) {
    LOGE("%s() parameter error: %d", __func__, 1);
    return -1;
  }
  return cardClassIndex(card, "ACTUAL_RAT_CAPABILITY_XXXX");
}

int ratGetDualCardCapability(const CardInfo* first, const CardInfo* second) {
  if (first == nullptr || second == nullptr) {
    LOGE("%s() parameter error: %d, %d", __func__, first == nullptr ? 1 : 0,
         second == nullptr ? 1 : 0);
    return -1;
  }
  int i0 = getIndexOf_STANDBY_RAT_CAPABILITY(first);
  LOGI("getIndexOf_STANDBY_RAT_CAPABILITY() of card %d is %d", 0, i0);
  int i1 = getIndexOf_STANDBY_RAT_CAPABILITY(second);
  LOGI("getIndexOf_STANDBY_RAT_CAPABILITY() of card %d is %d", 1, i1);

  const TargetTables* tables = currentTables();
  int code = tables != nullptr ? tables->capability[i0 * tables->dimension + i1] : -1;
  if (code < 0) {
    LOGE("combination of (U)SIM: unknown");
    return code;
  }
  LOGI("combination of (U)SIM: %s", codeName(kCapabilityNames, code));
  return code;
}

int ratGetDualCardActualCapability(const CardInfo* first, const CardInfo* second) {
  if (first == nullptr || second == nullptr) {
    LOGE("%s() parameter error: %d, %d", __func__, first == nullptr ? 1 : 0,
         second == nullptr ? 1 : 0);
    return -1;
  }
  int i0 = getIndexOf_STANDBY_ACTUAL_RAT(first);
  LOGI("getIndexOf_STANDBY_ACTUAL_RAT() of card %d is %d", 0, i0);
  int i1 = getIndexOf_STANDBY_ACTUAL_RAT(second);
  LOGI("getIndexOf_STANDBY_ACTUAL_RAT() of card %d is %d", 1, i1);

  const TargetTables* tables = currentTables();
  int code = tables != nullptr ? tables->actual[i0 * tables->dimension + i1] : -1;
  LOGI("actual combination of (U)SIM: %s", codeName(kActualNames, code));
  return code;
}

// ---- Actual RAT decision -----------------------------------------------------------------------

namespace {

// RAT groups of the project profile, combined as flags.
enum : unsigned { k2G = 1, k3G = 2, k4G = 4, kFullSet = k2G | k3G | k4G };

RatMask groupMask(unsigned groups) {
  const ProjectProfile& profile = g_projectProfile;
  return ((groups & k2G) ? profile.rat2GMask : 0) | ((groups & k3G) ? profile.rat3GMask : 0) |
         ((groups & k4G) ? profile.rat4GMask : 0);
}

constexpr int kMasterStandby = -1;  // the standby of the master card

struct ActualChoice {
  int code;
  int standby;
  unsigned groups;
};
constexpr ActualChoice kActualChoices[] = {
    {ACTUAL_RAT_234G_2G, 0, kFullSet},       {ACTUAL_RAT_234G_2G_O, kMasterStandby, kFullSet},
    {ACTUAL_RAT_23G_2G, 0, k2G | k3G},       {ACTUAL_RAT_23G_2G_O, kMasterStandby, k2G | k3G},
    {ACTUAL_RAT_2G_234G, 1, kFullSet},       {ACTUAL_RAT_2G_23G, 1, k2G | k3G},
    {ACTUAL_RAT_2G_2G, kMasterStandby, k2G},
};
// An unknown combination is no error: the master card's standby gets everything.
constexpr ActualChoice kUnknownChoice = {-1, kMasterStandby, kFullSet};

const ActualChoice& actualChoice(int code) {
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
constexpr PrefNetType kPrefNetTypes[] = {{0, k4G}, {102, k4G}, {1, k3G | k4G}, {2, k2G | k4G}};

// DSTMEX of the chosen standby: "0", then the access technology of each group it has.
struct DstmexTech {
  unsigned group;
  const char* text;
};
constexpr DstmexTech kDstmexTechs[] = {{k4G, ",7"}, {k3G, ",2"}, {k2G, ",0"}};
constexpr char kOtherStandbyDstmex[] = "1,0";

constexpr int kPublishTries = 3;

// '1' names slot 0 and '2' slot 1; anything else (a stale code) falls back to standby 0.
int masterStandby() {
  char first = g_masterCard[0];
  return first == '1' || first == '2' ? first - '1' : 0;
}

int clampStandbyCount(int32_t count) {
  if (count < 0) return 0;
  return count > MAX_STANDBY ? MAX_STANDBY : count;
}

void applyPrefNetType(RatMask* mask) {
  char value[PROPERTY_VALUE_SIZE];
  getProp("persist.radio.pref.net.type", value, "");
  if (value[0] == '\0') return;
  long type = strtol(value, nullptr, 10);  // leading number, 0 when there is none
  for (const PrefNetType& row : kPrefNetTypes) {
    if (row.value == type) *mask &= ~groupMask(row.cleared);
  }
}

void buildChosenDstmex(int standby) {
  char* text = standbyDSTMEX[standby];
  memset(text, 0, DSTMEX_SIZE);
  size_t used = 0;
  text[used++] = '0';
  for (const DstmexTech& tech : kDstmexTechs) {
    if ((g_standbyActualRat[standby] & groupMask(tech.group)) == 0) continue;
    memcpy(text + used, tech.text, 2);
    used += 2;
  }
}

void publishActualRat(int count) {
  char value[PROPERTY_VALUE_SIZE] = {};
  size_t used = 0;
  for (int i = 0; i < count; i++) {
    used +=
        snprintf(value + used, sizeof value - used, "%d,", static_cast<int>(g_standbyActualRat[i]));
  }
  if (used > 0 && value[used - 1] == ',') value[used - 1] = '\0';
  setProp("persist.sys.vx.actual.rat", value, kPublishTries);
}

}  // namespace

int changeActualRat() {
  const ProjectProfile& profile = g_projectProfile;
  const int standbys = clampStandbyCount(profile.standbyCount);
  int counted = standbys;

  const ActualChoice& choice =
      actualChoice(ratGetDualCardActualCapability(&g_cardInfo[0], &g_cardInfo[1]));
  int s = choice.standby == kMasterStandby ? masterStandby() : choice.standby;
  g_standbyRat[s] = g_standbyActualRat[s] = groupMask(choice.groups);
  for (int i = 0; i < standbys; i++) {
    if (i != s) g_standbyRat[i] = g_standbyActualRat[i] = profile.rat2GMask;
  }

  // A SIM card cannot use LTE, whatever the table says.
  if (g_cardInfo[s].m_cardType == 1) g_standbyActualRat[s] &= ~profile.rat4GMask;
  applyPrefNetType(&g_standbyActualRat[s]);

  if (profile.simCount == 1 && profile.standbyCount == 2) {
    LOGI("[change actual RAT]single (U)SIM dual standby");
    if (g_standbyActualRat[s] & profile.rat4GMask) {
      g_standbyActualRat[s] &= ~profile.rat2GMask;
    } else {
      counted = 1;
    }
  }

  if (profile.manualRatMask != NO_MANUAL_RAT_MASK) {
    if (profile.manualRatStandby < 0 || profile.manualRatStandby >= MAX_STANDBY) {
      LOGE("%s() invalid ratIdx: %d.", __func__, profile.manualRatStandby);
    } else {
      LOGI(
          "[change actual RAT]Replace actual RAT to %d for standby %d by the manual setting, and "
          "set other standby to %d.",
          static_cast<int>(profile.manualRatMask), profile.manualRatStandby,
          static_cast<int>(profile.rat2GMask));
      s = profile.manualRatStandby;
      g_standbyActualRat[s] = profile.manualRatMask;
    }
  }

  buildChosenDstmex(s);
  for (int i = 0; i < counted; i++) {
    if (i == s) continue;
    memset(standbyDSTMEX[i], 0, DSTMEX_SIZE);
    copyText(standbyDSTMEX[i], kOtherStandbyDstmex);
    g_standbyActualRat[i] = profile.rat2GMask;
  }
  LOGI("[change actual RAT]standbyDSTMEX[0] = %s, standbyDSTMEX[1] = %s", standbyDSTMEX[0],
       standbyDSTMEX[1]);
  publishActualRat(counted);
  return 0;
}

// ---- Standby-to-SIM mapping --------------------------------------------------------------------

namespace {

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

}  // namespace

int mapStandbyToSim() {
  const ProjectProfile& profile = g_projectProfile;
  const StandbyMap* map = findStandbyMap(profile.simCount, profile.standbyCount);
  if (map == nullptr) {
    LOGE("Invalid (U)SIM(%d) and standby(%d).", profile.simCount, profile.standbyCount);
  }
  for (int i = 0; i < MAX_STANDBY; i++) {
    int32_t slot = map != nullptr && i < map->standbyCount ? map->slots[i] : kNoSlot;
    if (slot == kMasterSlot) slot = g_masterCard[0] == '1' ? 0 : 1;
    g_standbySimSlot[i] = slot;
  }
  return 0;
}
