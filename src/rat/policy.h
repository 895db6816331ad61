// Dual-standby RAT policy: which card of a pair deserves the full RAT set (the master card),
// which RATs each standby really gets, which SIM slot each standby serves, and whether the
// modem's stacks offer what each standby wants. A pure function of its inputs: it returns the
// plan with the rule behind each decision; callers log and act on it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "card/record.h"
#include "modem/modem_capability.h"
#include "profile/profile.h"

// Capability combinations: which card should get the full RAT set.
enum CapabilityCombination : int32_t {
  RAT_234G_2G = 1,
  RAT_2G_234G = 2,
  RAT_234G_2G_O = 3,
};

// Actual combinations: which RATs the standbys really get ("_O": the master card's standby).
enum ActualCombination : int32_t {
  ACTUAL_RAT_234G_2G = 1,
  ACTUAL_RAT_234G_2G_O = 2,
  ACTUAL_RAT_23G_2G = 3,
  ACTUAL_RAT_23G_2G_O = 4,
  ACTUAL_RAT_2G_234G = 5,
  ACTUAL_RAT_2G_23G = 6,
  ACTUAL_RAT_2G_2G = 7,
};

constexpr int32_t kUnknownCombination = -1;  // the target has no tables

// ---- Card pair lookup in the target's tables ----------------------------------------------------

// A target's card classes: each table has one row and one column per class. Row 0 is an empty
// slot, row 1 a present card whose type or locale is unknown; every later row takes the known
// cards of one type and one locale (kAnyLocale: every locale of that type not taken before it).
constexpr int kIndexNoCard = 0;
constexpr int kIndexUnknownCard = 1;
constexpr int kIndexFirstClass = 2;
constexpr CardLocale kAnyLocale = static_cast<CardLocale>(0);
struct CardClassRow {
  int index;
  CardType type;
  CardLocale locale;
  const char* label;  // "USIM, home operator"
};
struct CardClassTable {
  const CardClassRow* rows;  // in index order
  int count;
};
// nullptr for a target without tables.
const CardClassTable* cardClassTable(uint32_t target);

// A card's row or column in its target's tables. A present, known card the target's rules do
// not cover gets index 0, like an empty slot, with covered false.
struct CardClass {
  int index;
  bool covered;
};

struct PairLookup {
  CardClass card[2];
  int32_t code;  // a combination, or kUnknownCombination
};

CardClass cardClass(uint32_t target, const CardInfo& card);
PairLookup ratGetDualCardCapability(uint32_t target, const CardInfo& first, const CardInfo& second);
PairLookup ratGetDualCardActualCapability(uint32_t target, const CardInfo& first,
                                          const CardInfo& second);
// The names of the combination codes ("RAT_234G_2G", ...), "unknown" for any other.
const char* capabilityName(int32_t code);
const char* actualName(int32_t code);

// ---- Master card
// ----------------------------------------------------------------------------------

constexpr int MASTER_CARD_SIZE = 16;

// The two-character master-card codes: the master card's number (1 slot 0, 2 slot 1), then '0'
// when a rule fixed it or the other card's number when both were equally capable.
enum class MasterCode { k10, k20, k12, k21 };
const char* masterCodeText(MasterCode code);

// What a stored or decided master-card text names; a stale text may name neither card.
enum class MasterCardSlot { kSlot0, kSlot1, kNeither };
MasterCardSlot masterCardSlot(const char* masterCard);

enum class MasterRule {
  kManualSetting,       // the manual RAT setting's standby: 0 gives "10", any other "20"
  kSingleSim,           // one SIM slot: "10"
  kDynamicRatOff,       // two SIMs without dynamic RAT: "10"
  kCapabilityTable,     // the capability table names the card: "10" or "20"
  kDefaultDataCard,     // equally capable: the default data card, "12" or "21"
  kLastMasterCard,      // equally capable: the card that was master last time, "12" or "21"
  kLastMasterMissing,   // equally capable, last master card not inserted: "12"
  kUnsupportedMode,     // SIM and standby counts not supported: the stored code stays
  kUnknownCombination,  // the target has no tables: the stored code stays
};

struct MasterDecision {
  MasterRule rule;
  bool written;                     // false: the stored code stays in force
  int lastMasterCard;               // kLastMaster*: 1 or 2 where it was found, -1 not found
  char lastMasterID[CARD_ID_SIZE];  // kLastMaster*: the identity looked for
};

// ---- Actual RATs --------------------------------------------------------------------------------

constexpr int DSTMEX_SIZE = 12;
constexpr int ACTUAL_RAT_VALUE_SIZE = 92;  // a property value and its terminator

// RAT groups of the project profile, combined as flags.
enum RatGroup : unsigned { kGroup2G = 1, kGroup3G = 2, kGroup4G = 4 };
constexpr unsigned kAllGroups = kGroup2G | kGroup3G | kGroup4G;

struct ActualDecision {
  int tableStandby;      // the standby the actual table gives the larger set
  bool masterStandby;    // ... chosen as the master card's standby
  unsigned tableGroups;  // ... and the groups of that set
  bool simCut4G;         // its card is a SIM: 4G taken away
  bool prefNetTypeSet;   // "persist.radio.pref.net.type" held a value
  long prefNetType;      // ... read as this number
  unsigned prefCleared;  // ... which took these groups away
  bool singleSimDualStandby;
  bool singleSimCut2G;    // ... the standby has 4G, so it loses 2G
  bool manual;            // the manual setting replaced the standby's RATs
  bool manualOutOfRange;  // a manual standby outside the arrays: ignored
  int chosenStandby;      // the standby with the larger set after the manual setting
  int countedStandbys;    // standbys in the published list and given "1,0"
};

// ---- Standby-to-SIM mapping and the modem check
// ---------------------------------------------------

struct NvramCheck {
  bool checked;           // false: a manual setting skips the check, or no standby
  bool everyServed;       // every standby's wanted RATs are offered by the modem's same standby
  int firstUnserved;      // when not: the first standby that is not served
  bool offeredElsewhere;  // ... and whether another standby of the modem offers its RATs
};

// ---- The plan ----------------------------------------------------------------------------------

struct RadioPlan {
  char masterCard[MASTER_CARD_SIZE] = "10";
  RatMask standbyRat[MAX_STANDBY] = {RAT_GSM, RAT_GSM, RAT_GSM, RAT_GSM, RAT_GSM};
  RatMask standbyActualRat[MAX_STANDBY] = {RAT_GSM, RAT_GSM, RAT_GSM, RAT_GSM, RAT_GSM};
  char standbyDSTMEX[MAX_STANDBY][DSTMEX_SIZE] = {};
  int32_t standbySimSlot[MAX_STANDBY] = {-1, -1, -1, -1, -1};
  char actualRatValue[ACTUAL_RAT_VALUE_SIZE] = {};  // "persist.sys.vx.actual.rat"

  // Why: the lookups and the rule of each decision.
  PairLookup capability = {};
  MasterDecision master = {};
  PairLookup actual = {};
  ActualDecision actualRat = {};
  bool slotModeSupported = false;
  NvramCheck nvram = {};
};

// What each stage decides from. The property texts are as read ("" when unset); the policy reads
// nothing itself.
struct MasterInputs {
  const ProjectProfile& profile;
  const CardInfo (&cards)[MAX_SIM];
  const char (&lastSlotCardID)[MAX_SIM][CARD_ID_SIZE];  // the history's slot list of last time
  const char* storedMasterCard;  // "persist.radio.vx.master.card" (its default "10")
  const char* defaultDataCard;   // "persist.radio.default.data", read only when needed
};
struct ActualInputs {
  const ProjectProfile& profile;
  const CardInfo (&cards)[MAX_SIM];
  const char* prefNetType;  // "persist.radio.pref.net.type"
};

// The stages. Each starts from the plan of the previous run: entries a stage does not touch keep
// their values.
bool masterCardNeedsDefaultData(const ProjectProfile& profile, const PairLookup& capability);
void selectMasterCard(RadioPlan& plan, const MasterInputs& in, const PairLookup& capability);
void changeActualRat(RadioPlan& plan, const ActualInputs& in, const PairLookup& actual);
void mapStandbyToSim(RadioPlan& plan, const ProjectProfile& profile);
void checkStandbysServed(RadioPlan& plan, const ProjectProfile& profile,
                         const ModemCapability& capability);

// Where the stages' property texts come from, each asked for when its stage needs it, and who
// hears of each lookup and decision: the daemon reads properties, logs and writes; radioplan and
// the tests give the texts and listen to nothing.
class PolicySettings {
 public:
  virtual const char* storedMasterCard() = 0;
  virtual const char* defaultDataCard() = 0;
  virtual const char* prefNetType() = 0;
  virtual void capabilityLookedUp(const PairLookup&) {}
  virtual void masterSelected(const RadioPlan&) {}
  virtual void actualLookedUp(const PairLookup&) {}
  virtual void actualRatChanged(const RadioPlan&) {}
  virtual void standbysMapped(const RadioPlan&) {}

 protected:
  ~PolicySettings() = default;
};

// The master card, the actual RATs and the standby map, in the order the daemon runs them: the
// one composition of the stages, for the daemon's configuration chain and for planRadio.
void decideRadio(RadioPlan& plan, const ProjectProfile& profile, const CardInfo (&cards)[MAX_SIM],
                 const char (&lastSlotCardID)[MAX_SIM][CARD_ID_SIZE], PolicySettings& settings);

// Everything a whole plan is decided from, the settings as given texts.
struct PolicyInputs {
  const ProjectProfile& profile;
  const CardInfo (&cards)[MAX_SIM];
  const char (&lastSlotCardID)[MAX_SIM][CARD_ID_SIZE];
  const char* storedMasterCard;
  const char* defaultDataCard;
  const char* prefNetType;
  const ModemCapability& capability;
};

// A manual RAT setting leaves the modem as it is, and the last modem check's decision in force.
bool modemCheckRuns(const ProjectProfile& profile);
// The NVRAM is swapped when the check ran on a capability the modem reported and found a standby
// whose modem stack does not offer its RATs.
bool nvramSwapNeeded(const NvramCheck& check, bool capabilityKnown);

// The whole plan at once: decideRadio, then the modem check on the capability given.
RadioPlan planRadio(const PolicyInputs& in, const RadioPlan& previous = RadioPlan());

// The RATs of a set of groups under the profile.
RatMask groupMask(const ProjectProfile& profile, unsigned groups);
