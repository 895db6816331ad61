// What radioplan decides from: the properties, the factory digits, the cards and the modem's
// capability, gathered from a phone's getprop dump and pulled files, from a bug report, from a
// host root, or from the command line, and turned into the daemon's own records by the daemon's own
// code (profile loading, card query and history reading run over the in-memory platform).
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "card/classify.h"
#include "card/history.h"
#include "modem/modem_capability.h"
#include "modemsim/scenario.h"
#include "profile/profile.h"
#include "radioplan/bugreport.h"
#include "rat/policy.h"
#include "ril/rild_file.h"

namespace radioplan {

// A file that is missing, unreadable, cut short or not what it should be: one line naming it.
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

using Properties = std::map<std::string, std::string>;

// A rild file's value of one key as its text shows it.
std::string rildValue(const RildConfig& config, const RildKey& key);

// "[name]: [value]" lines, as "adb shell getprop" prints them; a value may go on over several
// lines. badLine: the first line that is none (cut: a value the text ends inside); 0 for none.
// skipOthers: lines of no property are passed over (a bug report's section).
struct GetpropVerdict {
  int badLine = 0;
  bool cut = false;
};
GetpropVerdict readGetprop(const std::string& text, Properties* out, bool skipOthers = false);
Properties parseGetprop(const std::string& path);
// Which integration a phone's property names show: "vendor", "platform" or "" (none of the
// daemon's names is set), one name that shows it, and a sentence for the report.
struct Integration {
  std::string kind, example, described;
};
// A phone's properties under the daemon's own names: those of the vendor integration are read
// back through the daemon's declarations.
Integration readVendorNames(Properties* properties);

// A modem answer to one of the card queries read into a card's answers by the daemon's reader.
void readAnswer(const std::string& answer, CardInfo& answers, CardCommand query);

// One rild.cfgN file, read through the daemon's own key table.
struct RildFile {
  std::string path;
  std::string text;
  RildConfig config;
};
// Throws InputError when a key the daemon always writes is missing or not a number.
RildFile parseRildFile(const std::string& path);

// A card given on the command line, by the matrix or by a history, as the simulator's modem holds
// it in a slot.
struct CardAnswer : modemsim::Slot {
  using Lock = modemsim::Lock;
  CardAnswer() { type = 255; }  // "^DTOC:" 1 SIM, 2 USIM; 255: a type the daemon does not take
  std::string given;            // as written, for the report
};
// "none", "sim:IMSI", "usim:IMSI[:ID]", "usim:pin", "sim:puk", or a matrix kind ("usim-home"...).
// Throws std::invalid_argument with the reason.
CardAnswer parseCardSpec(const std::string& spec, int slot, const std::string& target);

// The card kinds of the matrix, in row and column order.
struct CardKind {
  const char* name;   // "usim-home"
  const char* label;  // "USIM, home operator"
};
const std::vector<CardKind>& cardKinds();
CardAnswer kindAnswer(const std::string& kind, int slot, const std::string& target);

// Overrides from the command line: property values and the modem capability.
struct Overrides {
  Properties properties;
  std::string factoryDigits;        // the factory file's content; empty: not given
  std::vector<int32_t> capability;  // per standby; empty: not given
  std::string slotSpec[2];          // parseCardSpec's text per slot; empty: not given
};

// One input of the plan, where it was found; an unknown one leaves what it decides unknown.
struct Input {
  std::string name, value;
  std::string decides;  // "profile" (every decision), "master", "standbys", "nvram"
  std::string source;   // "the daemon's read at line 12", "SYSTEM PROPERTIES (line 40)"...
  bool known = true;
};

// Everything the policy decides from, and where each piece came from.
struct Scene {
  std::string mode;  // "root", "props", "bugreport", "what-if", "matrix"
  std::vector<std::string> sources;
  std::vector<std::string> missing;      // what the state lacks, in words
  std::vector<std::string> assumptions;  // what was assumed instead

  Properties properties;      // as found (dump or store) with the overrides applied
  Properties observed;        // as found, before the overrides: what the daemon left
  std::string factoryDigits;  // the factory file's bytes, when there is one

  ProjectProfile profile = kInitialProjectProfile;
  std::string ratListRead, ratListFiltered;
  std::vector<std::pair<std::string, std::string>> profileWrites;  // the profile's publications
  ModemCapability capability = kInitialModemCapability;
  std::string capabilitySource;

  CardInfo cards[MAX_SIM] = {CARD_INFO_RESET, CARD_INFO_RESET, CARD_INFO_RESET, CARD_INFO_RESET,
                             CARD_INFO_RESET};
  std::string cardSource[MAX_SIM];
  CardAnswer::Lock cardLock[MAX_SIM] = {};  // known from the command line only
  bool haveHistory = false;
  saved_card_info_st history = {};
  std::map<std::string, std::string> imsiById;  // from the history's ring, for the report

  std::map<int, RildFile> rild;  // the files found, by standby
  RadioPlan previous;            // entries a run leaves alone keep these (from the rild files)
  std::vector<std::string> daemonLog;  // warnings and errors the daemon's code logged
  Integration integration;             // which one a phone's property names show
  std::optional<LoggedStart> logged;   // what the daemon logged (a bug report)
  std::vector<Input> inputs;           // a bug report's, each from the best source it holds
  int snapshotLine = 0;                // a bug report's SYSTEM PROPERTIES line; 0: none
  Identity identity;                   // a bug report's phone, build and time

  std::string prop(const std::string& name) const;
  // A phone's or a root's state, rather than inputs made up on the command line.
  bool isState() const { return mode == "root" || mode == "props" || mode == "bugreport"; }
};

// "cmcc" for 2...; "none" for a target without a name.
std::string targetName(uint32_t target);

// The ways to gather a state; each throws InputError for a bad named file, a bug report
// BugreportError for a file that is no usable bug report.
Scene sceneFromRoot(const std::string& root, const Overrides& overrides);
Scene sceneFromProps(const std::string& propsPath, const std::string& historyPath,
                     const std::vector<std::string>& rildPaths, const Overrides& overrides);
// The properties of its SYSTEM PROPERTIES section; the cards, where no file gives them, and the
// modem's capability from the daemon's lines of start `boot` (0: the last) in its radio log, or
// in its LAST LOGCAT section (the previous boot's log) with previousBoot.
Scene sceneFromBugreport(const std::string& path, int boot, bool previousBoot,
                         const std::string& historyPath, const std::vector<std::string>& rildPaths,
                         const Overrides& overrides);
Scene sceneWhatIf(const Overrides& overrides, const std::string& mode = "what-if");

// The card a modem answering so would leave in the daemon's record of that slot.
CardInfo queryCard(const Scene& scene, int slot, const CardAnswer& answer);

// The policy's inputs from the scene, and its plan.
RadioPlan planOf(const Scene& scene);

// The decisions ("master", "standbys", "nvram") whose inputs are unknown, each with the reason.
std::map<std::string, std::string> unknownDecisions(const Scene& scene, const RadioPlan& plan);

// What the daemon writes for a plan: properties in order, rild files by standby, init requests.
struct Writes {
  std::vector<std::pair<std::string, std::string>> properties;
  std::map<int, std::string> rildFiles;
  std::vector<std::string> init;  // "start rild0", "restart rild1"
  bool swap = false;              // the NVRAM is swapped and the modem reset
};
Writes writesOf(const Scene& scene, const RadioPlan& plan);

}  // namespace radioplan
