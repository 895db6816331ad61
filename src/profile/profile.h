// Project profile: SIM and standby counts, target operator, allowed RATs, manual RAT setting and
// the operator PLMN lists. Filled once at start-up.
#pragma once

#include <stdint.h>

typedef uint32_t RatMask;

constexpr RatMask RAT_GSM = 1;
constexpr RatMask RAT_TDSCDMA = 2;
constexpr RatMask RAT_LTE_TDD = 4;
constexpr RatMask RAT_LTE_FDD = 8;
constexpr RatMask RAT_WCDMA = 16;
// The RATs of each generation, as the project's groups count them.
constexpr RatMask RAT_2G_MASK = RAT_GSM;
constexpr RatMask RAT_3G_MASK = RAT_TDSCDMA | RAT_WCDMA;
constexpr RatMask RAT_4G_MASK = RAT_LTE_TDD | RAT_LTE_FDD;
constexpr RatMask RAT_ALL_MASK = RAT_2G_MASK | RAT_3G_MASK | RAT_4G_MASK;

struct RatName {
  const char* name;
  RatMask bit;
};
// "gsm", "tdscdma", "wcdma", "lte_tdd", "lte_fdd", then the closing row {"", 0}.
extern const RatName ratNameTable[6];

enum ProjectTarget : uint32_t {
  PROJECT_TARGET_OPEN = 1,
  PROJECT_TARGET_CMCC = 2,
  PROJECT_TARGET_CUCC = 3,
  PROJECT_TARGET_CTC = 4,
  PROJECT_TARGET_NONE = 5,
};

// A card's home network against the project target, as the card record stores it (32 bits); the
// rule that gives each value is the target's row in profile/targets.h.
enum class CardLocale : int32_t {
  kCmccHome = 1,         // target cmcc: country and network code in its list
  kCmccSameCountry = 2,  // target cmcc: country matches, network code not listed
  kCmccForeign = 3,      // target cmcc: another country
  kCuccHome = 4,         // target cucc: country and network code in its list
  kCuccOther = 5,        // target cucc: any other card
  kOpen = 6,             // target open: any card
  kUnknown = 255,        // no card, IMSI too short, or no rule for the target
};

constexpr int PLMN_LIST_ENTRIES = 20;
constexpr int PLMN_ENTRY_SIZE = 4;
typedef char PlmnList[PLMN_LIST_ENTRIES][PLMN_ENTRY_SIZE];

constexpr int32_t NO_MANUAL_RAT_STANDBY = -1;
constexpr RatMask NO_MANUAL_RAT_MASK = 255;

struct ProjectProfile {
  int32_t simCount;
  int32_t standbyCount;
  uint32_t projectTarget;
  RatMask rat2GMask;
  RatMask rat3GMask;
  RatMask rat4GMask;
  uint32_t dynamicRat;
  int32_t manualRatStandby;
  RatMask manualRatMask;
  PlmnList cmccPlmnList;
  PlmnList cuccPlmnList;
};

// Values before start-up fills the record; also what a fresh process (or a test) starts from.
constexpr ProjectProfile kInitialProjectProfile = {
    0, 0, PROJECT_TARGET_NONE, 0, 0, 0, 0, NO_MANUAL_RAT_STANDBY, NO_MANUAL_RAT_MASK, {}, {}};
