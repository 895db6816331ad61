// radioplan: what the daemon decides about the radio, and why, from the daemon's own policy code:
// from a phone's state or bug report, from a host root, for cards given on the command line, or for
// every pair of card kinds.
#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>

#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli/files.h"
#include "cli/options.h"
#include "platform/properties.h"
#include "profile/profile.h"
#include "profile/targets.h"
#include "radioplan/explain.h"
#include "radioplan/fleet.h"
#include "radioplan/names.h"
#include "radioplan/render.h"
#include "radioplan/state.h"

namespace {

constexpr char kTool[] = "radioplan";

constexpr char kUsage[] =
    "Usage: radioplan --root DIR                          [OPTIONS]\n"
    "  or:  radioplan --props GETPROP.TXT [--history RADIO.CFG] [--rild RILD.CFGN]... [OPTIONS]\n"
    "  or:  radioplan --bugreport FILE [--history RADIO.CFG] [--rild RILD.CFGN]... [OPTIONS]\n"
    "  or:  radioplan [--target T] [--slot0 CARD] [--slot1 CARD] [OPTIONS]     (what-if)\n"
    "  or:  radioplan --matrix [--target T] [OPTIONS]\n"
    "  or:  radioplan --fleet REPORT|FOLDER...   (one JSON Lines record per bug report)\n"
    "  or:  radioplan --summary [RECORDS.JSONL...] (a table by outcome; stdin without files)\n"
    "  or:  radioplan --names\n"
    "\n"
    "Explains which card is master, which RATs each standby gets, the DSTMEX texts, whether the\n"
    "modem's NVRAM is swapped, and what the daemon writes, each with the rule, table and card\n"
    "class behind it. The decisions come from the daemon's own policy code. A phone of the\n"
    "vendor integration is known by its property names, read back as the daemon's own through\n"
    "its declarations. Without --props, --bugreport, --matrix, --names or a card (--slot0,\n"
    "--slot1), --root defaults to $MODEMPREP_ROOT.\n"
    "\n"
    "State:\n"
    "  --root DIR          a host root the daemon has run in: its property store, factory file,\n"
    "                      rild files (the cards) and card history\n"
    "  --props FILE        the output of \"adb shell getprop\" ([name]: [value] lines)\n"
    "  --bugreport FILE    a bug report (adb bugreport's zip, its main text, or the unzipped\n"
    "                      folder): each input\n"
    "                      from the daemon's own reads and writes of the last start in its\n"
    "                      RADIO LOG section (else its SYSTEM LOG), else from its SYSTEM\n"
    "                      PROPERTIES section, else unknown; the cards and the modem's\n"
    "                      capability from that start, where no file gives them\n"
    "  --boot N            with --bugreport: the daemon's Nth start in the log (from 1; default\n"
    "                      the last)\n"
    "  --previous-boot     with --bugreport: the start in its LAST LOGCAT section, the previous\n"
    "                      boot's log, labelled so\n"
    "  --history FILE      with --props or --bugreport: the card history pulled from the phone\n"
    "                      (radio.cfg)\n"
    "  --rild FILE         with --props or --bugreport: a pulled rild.cfgN (repeat per\n"
    "                      standby); holds the card records exactly\n"
    "  --matrix            every pair of card kinds in slot 0 and slot 1 (none, SIM or USIM of "
    "the\n"
    "                      home operator, of the other domestic operator, foreign, PIN-locked)\n"
    "Inputs (what-if; with a state they override what it holds):\n"
    "  --target T          project target: %s (%s)\n"
    "  --msms DIGITS       the factory file's three digits, e.g. 221 (SIM slots, standbys)\n"
    "  --rat LIST          project RAT list (%s)\n"
    "  --manual TEXT       manual RAT setting (%s), e.g. 1,0,2,7\n"
    "  --capability A[,B]  the modem's RAT mask per standby (gsm 1, tdscdma 2, lte_tdd 4,\n"
    "                      lte_fdd 8, wcdma 16); default: derived from %s in a\n"
    "                      state, else every RAT on every standby\n"
    "  --pref-net-type N   %s\n"
    "  --default-data N    %s\n"
    "  --stored-master C   %s before the run (10, 20, 12, 21)\n"
    "  --set NAME=VALUE    any other property the daemon reads (repeatable)\n"
    "  --slot0 CARD, --slot1 CARD\n"
    "                      none | sim:IMSI[:ID] | usim:IMSI[:ID] | sim:pin | usim:puk | a kind\n"
    "                      of the matrix (usim-home, sim-domestic, usim-foreign, pin...)\n"
    "Output:\n"
    "  --format F          text (default), markdown, json, or html (--matrix only)\n"
    "  --files             the rild files in full (text and markdown reports)\n"
    "  --brief             only the cards, the master card, the standbys and the NVRAM, with\n"
    "                      what is missing or assumed (text and markdown reports)\n"
    "  --names             print the daemon's declarations as JSON (properties with their\n"
    "                      vendor names, services, its fixed paths, each target's card\n"
    "                      classes) and exit\n"
    "  --properties        with --props or --bugreport: print the phone's properties as the\n"
    "                      daemon reads them, as JSON (\"properties\", the \"integration\" its\n"
    "                      names show and an \"example\" of them), and exit\n"
    "  --help, --version   this text; the version\n"
    "\n"
    "Exit status: 0 explained (an incomplete state is explained as far as it goes and says what\n"
    "is missing; a decision whose inputs a bug report lacks is \"unknown\", with the reason); 1 a "
    "named file, root or bug report that is missing, unreadable, cut short,\n"
    "damaged or not in its format, or holds no line of the daemon or too little for any plan\n"
    "(one line names it and the reason); 2 a bad command line.\n";

enum Option {
  kRoot = 256,
  kProps,
  kHistory,
  kRild,
  kMatrix,
  kMsms,
  kCapability,
  kSet,
  kSlot0,
  kSlot1,
  kFormat,
  kFiles,
  kBrief,
  kBugreport,
  kBoot,
  kPreviousBoot,
  kFleet,
  kSummary,
  kNames,
  kProperties,
  kHelp,
  kVersion,
  kFirstPropertyOption,
};

// Options that set one property of the phone's state, each as the daemon names it.
struct PropertyOption {
  const char* name;
  const char* property;
};
const PropertyOption kPropertyOptions[] = {
    {"target", prop::kProjectTarget.name},     {"rat", prop::kProjectRat.name},
    {"manual", prop::kManualRat.name},         {"pref-net-type", prop::kPrefNetType.name},
    {"default-data", prop::kDefaultData.name}, {"stored-master", prop::kMasterCard.name},
};

// The targets the daemon knows (its own table), for --target.
bool knownTarget(const std::string& name) {
  for (const ProjectTargetName* row = projectTargetTable; row->name[0] != '\0'; row++) {
    if (name == row->name) return true;
  }
  return false;
}

std::string targetNames() {
  std::string names;
  for (const ProjectTargetName* row = projectTargetTable; row->name[0] != '\0'; row++) {
    names += (names.empty() ? "" : row[1].name[0] == '\0' ? " or " : ", ") + std::string(row->name);
  }
  return names;
}

bool parseCapability(const std::string& text, std::vector<int32_t>* out) {
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find(',', at);
    if (end == std::string::npos) end = text.size();
    const std::string part = text.substr(at, end - at);
    if (part.empty() || part.size() > 9 ||
        part.find_first_not_of("0123456789") != std::string::npos) {
      return false;
    }
    out->push_back(std::stoi(part));
    at = end + 1;
  }
  return !out->empty() && out->size() <= MAX_STANDBY;
}

struct Command {
  std::string root, props, bugreport, history, format = "text";
  int boot = 0;               // the bug report's start; 0: the last
  bool previousBoot = false;  // from its LAST LOGCAT section
  std::vector<std::string> rild;
  bool matrix = false, files = false, brief = false, names = false, properties = false;
  bool fleet = false, summary = false;
  std::vector<std::string> paths;  // --fleet's reports and folders, --summary's record files
  radioplan::Overrides overrides;
};

// --fleet and --summary take paths and nothing else.
int fleetCommand(int argc, char** argv, Command* cmd) {
  if (cmd->fleet && cmd->summary) return cli::usageError(kTool, "--fleet or --summary, not both");
  cmd->paths.assign(argv + optind, argv + argc);
  if (cmd->fleet && cmd->paths.empty()) {
    return cli::usageError(kTool, "--fleet: give bug reports or folders of them");
  }
  if (optind != 2) {
    return cli::usageError(kTool,
                           cmd->fleet ? "--fleet takes only paths" : "--summary takes only paths");
  }
  return -1;
}

std::vector<option> longOptions() {
  std::vector<option> options = {
      {"root", required_argument, nullptr, kRoot},
      {"props", required_argument, nullptr, kProps},
      {"history", required_argument, nullptr, kHistory},
      {"rild", required_argument, nullptr, kRild},
      {"matrix", no_argument, nullptr, kMatrix},
      {"msms", required_argument, nullptr, kMsms},
      {"capability", required_argument, nullptr, kCapability},
      {"set", required_argument, nullptr, kSet},
      {"slot0", required_argument, nullptr, kSlot0},
      {"slot1", required_argument, nullptr, kSlot1},
      {"format", required_argument, nullptr, kFormat},
      {"files", no_argument, nullptr, kFiles},
      {"brief", no_argument, nullptr, kBrief},
      {"bugreport", required_argument, nullptr, kBugreport},
      {"boot", required_argument, nullptr, kBoot},
      {"previous-boot", no_argument, nullptr, kPreviousBoot},
      {"fleet", no_argument, nullptr, kFleet},
      {"summary", no_argument, nullptr, kSummary},
      {"names", no_argument, nullptr, kNames},
      {"properties", no_argument, nullptr, kProperties},
      {"help", no_argument, nullptr, kHelp},
      {"version", no_argument, nullptr, kVersion},
  };
  for (size_t i = 0; i < std::size(kPropertyOptions); i++) {
    options.push_back({kPropertyOptions[i].name, required_argument, nullptr,
                       kFirstPropertyOption + static_cast<int>(i)});
  }
  options.push_back({});
  return options;
}

// An option that gives one of the plan's inputs, checked; -1 to go on, or the exit status.
int applyInput(int c, const std::string& value, char** argv, Command* cmd) {
  switch (c) {
    case kMsms:
      if (value.size() != 3 || value.find_first_not_of("0123456789") != std::string::npos) {
        return cli::usageError(kTool, "--msms \"" + value + "\": three digits expected, e.g. 221");
      }
      cmd->overrides.factoryDigits = value;
      break;
    case kCapability:
      cmd->overrides.capability.clear();
      if (!parseCapability(value, &cmd->overrides.capability)) {
        return cli::usageError(
            kTool,
            "--capability \"" + value + "\": one to five RAT masks separated by commas, e.g. 31,1");
      }
      break;
    case kSet: {
      const size_t eq = value.find('=');
      if (eq == std::string::npos || eq == 0) {
        return cli::usageError(kTool, "--set \"" + value + "\": NAME=VALUE expected");
      }
      cmd->overrides.properties[value.substr(0, eq)] = value.substr(eq + 1);
      break;
    }
    case kSlot0:
    case kSlot1:
      try {
        radioplan::parseCardSpec(value, c == kSlot0 ? 0 : 1, "cmcc");
      } catch (const std::invalid_argument& e) {
        return cli::usageError(kTool,
                               std::string(c == kSlot0 ? "--slot0 " : "--slot1 ") + e.what());
      }
      cmd->overrides.slotSpec[c == kSlot0 ? 0 : 1] = value;
      break;
    case kFormat:
      if (value != "text" && value != "markdown" && value != "json" && value != "html") {
        return cli::usageError(kTool, "--format \"" + value + "\": text, markdown, json or html");
      }
      cmd->format = value;
      break;
    default:
      return cli::usageError(kTool, cli::refusedOption(argv));
  }
  return -1;
}

// Options that switch something on.
struct Flag {
  int option;
  bool Command::*field;
};
constexpr Flag kFlags[] = {
    {kMatrix, &Command::matrix},         {kFiles, &Command::files},
    {kBrief, &Command::brief},           {kNames, &Command::names},
    {kProperties, &Command::properties}, {kFleet, &Command::fleet},
    {kSummary, &Command::summary},       {kPreviousBoot, &Command::previousBoot},
};

// Options that name a file or folder.
struct PathOption {
  int option;
  std::string Command::*field;
};
constexpr PathOption kPaths[] = {
    {kRoot, &Command::root}, {kProps, &Command::props}, {kHistory, &Command::history}};

void printUsage() {
  // The daemon's own list of targets and names of the properties.
  printf(kUsage, targetNames().c_str(), prop::kProjectTarget.name, prop::kProjectRat.name,
         prop::kManualRat.name, prop::kPublishedRatList.name, prop::kPrefNetType.name,
         prop::kDefaultData.name, prop::kMasterCard.name);
}

// One option's effect on the command; -1 to go on, or the exit status.
int applyOption(int c, const std::string& value, char** argv, Command* cmd) {
  for (const Flag& flag : kFlags) {
    if (c == flag.option) {
      cmd->*flag.field = true;
      return -1;
    }
  }
  for (const PathOption& path : kPaths) {
    if (c == path.option) {
      cmd->*path.field = value;
      return -1;
    }
  }
  if (c >= kFirstPropertyOption) {
    const PropertyOption& option = kPropertyOptions[c - kFirstPropertyOption];
    if (std::string(option.name) == "target" && !knownTarget(value)) {
      return cli::usageError(kTool, "--target \"" + value + "\": " + targetNames());
    }
    cmd->overrides.properties[option.property] = value;
    return -1;
  }
  switch (c) {
    case kHelp:
      printUsage();
      return 0;
    case kVersion:
      return cli::printVersion(kTool);
    case kRild:
      cmd->rild.push_back(value);
      break;
    case kBugreport:
      if (!cmd->bugreport.empty()) {
        return cli::usageError(kTool, "--bugreport \"" + value + "\" after \"" + cmd->bugreport +
                                          "\": one report a run");
      }
      cmd->bugreport = value;
      break;
    case kBoot:
      if (value.empty() || value.size() > 6 ||
          value.find_first_not_of("0123456789") != std::string::npos || std::stoi(value) < 1) {
        return cli::usageError(kTool, "--boot \"" + value + "\": a start's number, from 1");
      }
      cmd->boot = std::stoi(value);
      break;
    case ':':
      return cli::usageError(kTool, cli::missingValue(argv));
    default:
      return applyInput(c, value, argv, cmd);
  }
  return -1;
}

// What the options say together; -1 to go on, or the exit status.
int checkCommand(int argc, char** argv, Command* cmd) {
  if (cmd->fleet || cmd->summary) return fleetCommand(argc, argv, cmd);
  if (optind < argc)
    return cli::usageError(kTool, std::string("unexpected argument \"") + argv[optind] + "\"");
  const char* envRoot = getenv("MODEMPREP_ROOT");
  if (cmd->root.empty() && cmd->props.empty() && cmd->bugreport.empty() && !cmd->matrix &&
      !cmd->names && cmd->overrides.slotSpec[0].empty() && cmd->overrides.slotSpec[1].empty() &&
      envRoot != nullptr && envRoot[0] != '\0') {
    cmd->root = envRoot;
  } else if (argc == 1) {
    return cli::usageError(kTool,
                           "nothing to explain: give --root, --props, --matrix or cards (--slot0)");
  }
  if (cmd->names && argc != 2) return cli::usageError(kTool, "--names goes alone");
  if ((!cmd->root.empty()) + (!cmd->props.empty()) + (!cmd->bugreport.empty()) > 1)
    return cli::usageError(kTool, "--root, --props and --bugreport exclude each other");
  if ((!cmd->history.empty() || !cmd->rild.empty()) && cmd->props.empty() &&
      cmd->bugreport.empty()) {
    return cli::usageError(
        kTool, "--history and --rild go with --props or --bugreport (a root holds its own files)");
  }
  if ((cmd->boot != 0 || cmd->previousBoot) && cmd->bugreport.empty())
    return cli::usageError(kTool, "--boot and --previous-boot go with --bugreport");
  if (cmd->properties && cmd->props.empty() && cmd->bugreport.empty())
    return cli::usageError(kTool, "--properties goes with --props or --bugreport");
  if (cmd->format == "html" && !cmd->matrix)
    return cli::usageError(kTool, "--format html is for --matrix");
  if (cmd->matrix && (!cmd->overrides.slotSpec[0].empty() || !cmd->overrides.slotSpec[1].empty())) {
    return cli::usageError(kTool, "--matrix sets the cards itself: drop --slot0/--slot1");
  }
  return -1;
}

// Parses the command line; returns -1 to go on, or the exit status.
int parse(int argc, char** argv, Command* cmd) {
  const std::vector<option> options = longOptions();
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, ":", options.data(), nullptr)) != -1;) {
    const int status = applyOption(c, optarg != nullptr ? optarg : "", argv, cmd);
    if (status >= 0) return status;
  }
  return checkCommand(argc, argv, cmd);
}

// One JSON Lines record per report, each written as soon as it is made.
int runFleet(const Command& cmd) {
  for (const std::string& path : cmd.paths) {
    for (const std::string& report : radioplan::reportsIn(path)) {
      std::cout << radioplan::fleetRecord(report).dump() << "\n" << std::flush;
    }
  }
  return std::cout ? 0 : 1;
}

int runSummary(const Command& cmd) {
  radioplan::FleetSummary summary;
  if (cmd.paths.empty()) summary.add(std::cin, "standard input");
  for (const std::string& path : cmd.paths) {
    std::string bytes, why;
    if (!cli::readFile(path, cli::Readable::kRegularOnly, &bytes, &why)) {
      std::cerr << "radioplan: " << path << ": " << why << "\n";
      return 1;
    }
    std::istringstream in(std::move(bytes));
    summary.add(in, path);
  }
  std::cout << summary.text() << std::flush;
  return std::cout ? 0 : 1;
}

int run(const Command& cmd) {
  using namespace radioplan;
  if (cmd.fleet) return runFleet(cmd);
  if (cmd.summary) return runSummary(cmd);
  if (cmd.names) {
    std::cout << daemonNames().dump(2) << "\n";
    return std::cout.flush() ? 0 : 1;
  }
  Scene scene =
      !cmd.root.empty()        ? sceneFromRoot(cmd.root, cmd.overrides)
      : !cmd.props.empty()     ? sceneFromProps(cmd.props, cmd.history, cmd.rild, cmd.overrides)
      : !cmd.bugreport.empty() ? sceneFromBugreport(cmd.bugreport, cmd.boot, cmd.previousBoot,
                                                    cmd.history, cmd.rild, cmd.overrides)
                               : sceneWhatIf(cmd.overrides);
  std::string out;
  if (cmd.properties) {
    const Integration& i = scene.integration;
    out = Json{{"integration", i.kind.empty() ? Json() : Json(i.kind)},
               {"example", i.example},
               {"properties", scene.observed}}
              .dump(2) +
          "\n";
  } else if (cmd.matrix) {
    const Json m = matrix(scene);
    out = cmd.format == "json"       ? m.dump(2) + "\n"
          : cmd.format == "markdown" ? matrixMarkdown(m)
          : cmd.format == "html"     ? matrixHtml(m)
                                     : matrixText(m);
  } else {
    const RadioPlan plan = planOf(scene);
    const Json report = explain(scene, plan, writesOf(scene, plan));
    out = cmd.format == "json"       ? report.dump(2) + "\n"
          : cmd.format == "markdown" ? reportMarkdown(report, cmd.files, cmd.brief)
                                     : reportText(report, cmd.files, cmd.brief);
  }
  std::cout << out;
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "radioplan: standard output: write failed\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Command cmd;
  const int status = parse(argc, argv, &cmd);
  if (status >= 0) return status;
  try {
    return run(cmd);
  } catch (const radioplan::InputError& e) {
    std::cerr << "radioplan: " << e.what() << "\n";
    return cli::kRuntimeStatus;
  } catch (const std::invalid_argument& e) {
    return cli::usageError(kTool, e.what());
  } catch (const std::exception& e) {
    std::cerr << "radioplan: " << e.what() << "\n";
    return 1;
  }
}
