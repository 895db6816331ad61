// Gathering radioplan's inputs; see state.h. Every property is decoded, every card classified and
// the history read by the daemon's own functions, run over the in-memory platform: the values found
// are put into its property store and files, and the daemon's records come out.
#include "radioplan/state.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "card/classify.h"
#include "card/history_file.h"
#include "cardhist/history.h"
#include "cli/files.h"
#include "cli/store.h"
#include "modem/commands.h"
#include "modemsim/modem.h"
#include "platform/memory/memory_platform.h"
#include "platform/platform.h"
#include "platform/properties.h"
#include "platform/text.h"
#include "profile/load.h"
#include "profile/targets.h"
#include "ril/ril.h"

namespace radioplan {

namespace {

// The phone's path of a standby's rild file.
std::string rildPath(int standby) { return kRildConfigBasePath + std::to_string(standby); }

// A regular file's bytes; false with the reason in *why. Never blocks on a FIFO or device.
bool readFile(const std::string& path, std::string* bytes, std::string* why) {
  return cli::readFile(path, cli::Readable::kRegularOnly, bytes, why);
}

std::string readNamedFile(const std::string& path) {
  std::string bytes, why;
  if (!readFile(path, &bytes, &why)) throw InputError(path + ": " + why);
  return bytes;
}

void writeFakeFile(const std::string& phonePath, const std::string& bytes) {
  std::ofstream out(memory::path(phonePath, true), std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string cText(const char* field, size_t size) {
  return std::string(field, strnlen(field, size));
}

// ---- The simulator's modem, asked for answers
// ----------------------------------------------------

// The modem's own output (status reports) is not needed: a card's presence is its spec's.
class SilentWire : public modemsim::Wire {
 public:
  void at(modemsim::Clock::time_point, std::function<void()>) override {}
  uint64_t epoch() const override { return 0; }
  void write(uint64_t, const std::string&) override {}
};

// One attempt of a query: the modem's answer to cmd, read into the answers record.
void askModem(modemsim::ScenarioModem& modem, CardCommand query, CardInfo& answers) {
  SilentWire wire;
  const modemsim::Answer answer = modem.respond(cardCommand(query).command.text, wire);
  readAnswer(answer.text ? *answer.text : "", answers, query);
}

// ---- Profile
// -------------------------------------------------------------------------------------

// The modem's capability: given, derived from the RAT list the daemon published, or assumed.
void chooseCapability(Scene& s, const Overrides& o, const char* ratListRead) {
  ModemCapability& cap = s.capability;
  const int standbys = s.profile.standbyCount < 1 ? 1 : std::min(s.profile.standbyCount, 5);
  cap.modemStandbyCount = standbys;
  if (!o.capability.empty()) {
    for (int i = 0; i < MAX_STANDBY; i++) {
      cap.standbyRatCap[i] = o.capability[std::min<size_t>(i, o.capability.size() - 1)];
    }
    cap.modemStandbyCount = static_cast<int32_t>(o.capability.size());
    s.capabilitySource = "given on the command line";
    return;
  }
  if (s.logged && s.logged->capabilityLogged) {
    cap = s.logged->capability;
    s.capabilitySource = "the modem's \"AT^DMCC?\" answer the daemon logged (line " +
                         std::to_string(s.logged->capabilityLine) + ")";
    return;
  }
  RatMask offered = RAT_ALL_MASK;
  auto published = s.observed.find(prop::kPublishedRatList.name);
  if (published != s.observed.end()) {
    // A RAT the project listed but the published list lacks is one the modem did not offer.
    for (const RatName* row = ratNameTable; row->name[0] != '\0'; row++) {
      if (strcasestr(ratListRead, row->name) != nullptr &&
          strstr(published->second.c_str(), row->name) == nullptr) {
        offered &= ~row->bit;
      }
    }
    s.capabilitySource = std::string("derived from ") + prop::kPublishedRatList.name + " (\"" +
                         published->second +
                         "\"); the modem's standbys are taken to offer the same";
  } else {
    s.capabilitySource = "assumed: every RAT on every standby";
    const bool state = s.isState();
    s.assumptions.push_back(
        std::string("modem capability: ") +
        (state ? std::string("not in the state (no ") + prop::kPublishedRatList.name + "); " : "") +
        "every standby of the modem is taken to offer every RAT (give --capability to change "
        "that)");
  }
  for (int i = 0; i < MAX_STANDBY; i++) cap.standbyRatCap[i] = static_cast<int32_t>(offered);
  if (s.logged) {
    s.missing.push_back(
        "the modem's \"AT^DMCC?\" answer is not in the radio log: its capability is " +
        s.capabilitySource);
  }
}

void collectDaemonErrors(Scene& s, size_t from) {
  const std::vector<memory::LogLine>& lines = memory::logLines();
  for (size_t i = from; i < lines.size(); i++) {
    if (lines[i].priority >= LOG_PRIO_ERROR) s.daemonLog.push_back(lines[i].text);
  }
}

// Runs the daemon's profile loading over the scene's properties and factory file.
void loadProfile(Scene& s, const Overrides& o) {
  for (const auto& [name, value] : s.properties) memory::setProperty(name, value);
  if (!s.factoryDigits.empty()) writeFakeFile(kFactoryFilePath, s.factoryDigits);
  const size_t writesFrom = memory::propertyWrites().size();
  const size_t logFrom = memory::logLines().size();
  RatList ratList;
  loadProjectProfile(s.profile, ratList);
  s.ratListRead = ratList;
  chooseCapability(s, o, ratList);
  completeProjectProfile(s.profile, ratList, s.capability);
  s.ratListFiltered = ratList;
  getManualInfo(s.profile);
  readPlmnLists(s.profile);
  collectDaemonErrors(s, logFrom);
  const auto& writes = memory::propertyWrites();
  s.profileWrites.assign(writes.begin() + static_cast<long>(writesFrom), writes.end());
  auto published = s.observed.find(prop::kPublishedRatList.name);
  if (published != s.observed.end() && published->second != s.ratListFiltered) {
    s.missing.push_back(std::string(prop::kPublishedRatList.name) + " is \"" + published->second +
                        "\" but the RAT list now gives \"" + s.ratListFiltered +
                        "\": the list changed since the daemon's last start");
  }
}

void applyOverrides(Scene& s, const Overrides& o) {
  for (const auto& [name, value] : o.properties) s.properties[name] = value;
  if (!o.factoryDigits.empty()) s.factoryDigits = o.factoryDigits;
}

// ---- Cards
// ---------------------------------------------------------------------------------------

void readHistoryInto(Scene& s, const std::string& bytes) {
  writeFakeFile(kCardHistoryPath, bytes);
  const size_t logFrom = memory::logLines().size();
  s.haveHistory = true;
  readSavedCardInfo(s.history);  // the daemon's own reading: as far as the file goes
  collectDaemonErrors(s, logFrom);
  for (const CardInfo& entry : s.history.m_history) {
    const std::string id = cText(entry.m_cardID, CARD_ID_SIZE);
    if (!id.empty()) s.imsiById[id] = cText(entry.m_cardIMSI, CARD_IMSI_SIZE);
  }
}

// What a history's slot list and ring say of the card in a slot at the last update.
CardAnswer answerFromHistory(const Scene& s, int slot) {
  CardAnswer a;
  a.id = cText(s.history.m_slotCardID[slot], CARD_ID_SIZE);
  a.present = !a.id.empty();
  a.given = "history";
  for (const CardInfo& entry : s.history.m_history) {
    if (a.present && cText(entry.m_cardID, CARD_ID_SIZE) == a.id) {
      a.type = static_cast<int>(entry.m_cardType);
      a.imsi = cText(entry.m_cardIMSI, CARD_IMSI_SIZE);
      return a;
    }
  }
  // Named in its slot but not kept in the ring: its IMSI or type was unreadable (a locked card).
  a.lock = CardAnswer::Lock::kPin;
  return a;
}

CardInfo cardFromRild(const RildFile& f) {
  CardInfo card = CARD_INFO_RESET;
  card.m_cardStatus = static_cast<CardStatus>(f.config.cardStatus);
  card.m_cardType = static_cast<CardType>(f.config.cardType);
  card.m_cardLocale = static_cast<CardLocale>(f.config.cardLocale);
  copyText(card.m_cardID, f.config.cardID);
  return card;
}

void seedPrevious(Scene& s) {
  for (const auto& [standby, f] : s.rild) {
    if (standby >= MAX_STANDBY) continue;
    s.previous.standbyRat[standby] = static_cast<RatMask>(f.config.rat);
    s.previous.standbyActualRat[standby] = static_cast<RatMask>(f.config.actualRat);
    copyText(s.previous.standbyDSTMEX[standby], f.config.dstmex);
  }
}

// "5 (USIM, home operator)": a class of the target's tables.
std::string classWords(uint32_t target, int index) {
  const CardClassTable* table = cardClassTable(target);
  const bool known = table != nullptr && index >= 0 && index < table->count;
  return std::to_string(index) + " (" + (known ? table->rows[index].label : "?") + ")";
}

// A card of a class of the target's tables: that row's type and a locale that lands on it. What
// the daemon logged of a card whose IMSI and type are not in the log.
CardInfo cardOfClass(uint32_t target, int index, const char* id) {
  CardInfo card = CARD_INFO_RESET;
  if (index <= kIndexNoCard) return card;
  card.m_cardStatus = CardStatus::kPresent;
  copyText(card.m_cardID, id);
  const CardClassTable* table = cardClassTable(target);
  if (table == nullptr || index == kIndexUnknownCard || index >= table->count) return card;
  const CardClassRow& row = table->rows[index];
  card.m_cardType = row.type;
  card.m_cardLocale = row.locale;
  // A row that takes every locale of its type: the first locale the target's rules give it.
  for (int locale = 1; row.locale == kAnyLocale && locale <= static_cast<int>(CardLocale::kOpen);
       locale++) {
    card.m_cardLocale = static_cast<CardLocale>(locale);
    if (cardClass(target, card).index == index) break;
  }
  return card;
}

// The slot's card from the daemon's lines: its logged answers read as the daemon read them, or,
// where the log lacks some of them, the class the daemon logged for the card. False when the log
// holds neither.
bool cardFromLog(Scene& s, int slot) {
  const LoggedCard& c = s.logged->cards[slot];
  const uint32_t target = s.profile.projectTarget;
  const std::string name = "slot " + std::to_string(slot) + ": ";
  const std::string logged = c.loggedClass < 0 ? ""
                                               : "the class the daemon logged for it, " +
                                                     classWords(target, c.loggedClass) + " (line " +
                                                     std::to_string(c.classLine) + ")";
  // A card found in the daemon's history was not asked its IMSI and type.
  const bool spared = c.foundSaved && !c.imsiAsked && !s.haveHistory;
  if (c.queryLine != 0 && c.whole && !spared) {
    s.cards[slot] = classifyCard(c.answers, s.profile, s.history);
    s.cardSource[slot] = "the radio log: the daemon's query from line " +
                         std::to_string(c.queryLine) +
                         " (status, identity, IMSI and type as it logged them)";
  } else if (c.loggedClass >= 0) {
    s.cards[slot] = cardOfClass(target, c.loggedClass, c.answers.m_cardID);
    s.cardSource[slot] = "the radio log: " + logged;
    s.missing.push_back(
        name +
        (spared ? "IMSI and type not recovered: the daemon found the card in its card history "
                  "and did not ask them (give --history radio.cfg); "
                : "its query is not in the radio log (the log begins after it): identity, IMSI "
                  "and type not recovered; ") +
        "taken as " + logged);
  } else if (c.queryLine != 0) {
    s.cards[slot] = classifyCard(c.answers, s.profile, s.history);
    s.cardSource[slot] =
        "the radio log: what is left of the daemon's query at line " + std::to_string(c.queryLine);
    s.missing.push_back(name +
                        "the radio log begins inside its query and holds no class for it: the "
                        "answers it lost are taken as not given");
  } else {
    return false;
  }
  const int now = cardClass(target, s.cards[slot]).index;
  if (c.loggedClass >= 0 && now != c.loggedClass) {
    s.missing.push_back(name + "the daemon logged class " + classWords(target, c.loggedClass) +
                        " (line " + std::to_string(c.classLine) + "), its logged answers give " +
                        classWords(target, now) +
                        " under these properties: they changed since that decision");
  }
  return true;
}

// The cards of each slot the profile has: the command line's, else the rild file of the slot's
// standby (which holds the daemon's record exactly), else the radio log's, else the history's.
void gatherCards(Scene& s, const Overrides& o) {
  const int slots = std::max(0, std::min<int>(s.profile.simCount, MAX_SIM));
  for (int slot = 0; slot < slots; slot++) {
    if (slot < 2 && !o.slotSpec[slot].empty()) {
      const CardAnswer a =
          parseCardSpec(o.slotSpec[slot], slot, targetName(s.profile.projectTarget));
      s.cards[slot] = queryCard(s, slot, a);
      s.cardLock[slot] = a.lock;
      s.cardSource[slot] = "the command line (" + a.given + ")";
    } else if (s.rild.count(slot) != 0) {
      s.cards[slot] = cardFromRild(s.rild.at(slot));
      s.cardSource[slot] = s.rild.at(slot).path;
    } else if (s.logged && cardFromLog(s, slot)) {
    } else if (s.haveHistory) {
      s.cards[slot] = queryCard(s, slot, answerFromHistory(s, slot));
      s.cardSource[slot] = "card history (the slot's card at the last update)";
    } else {
      s.cardSource[slot] = "nothing: taken as empty";
      s.missing.push_back("slot " + std::to_string(slot) + ": no rild file" +
                          (s.logged ? ", nothing in the radio log" : "") +
                          " and no card history, so the slot is taken as empty");
    }
  }
  for (int slot = slots; slot < 2; slot++) {
    if (!o.slotSpec[slot].empty()) {
      s.assumptions.push_back("slot " + std::to_string(slot) + " is beyond the " +
                              std::to_string(s.profile.simCount) +
                              " SIM slot(s) of the profile: its card is never queried");
    }
  }
}

std::vector<std::string> splitColon(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, ':');) out.push_back(part);
  return out;
}

// The daemon's records from what was found: the profile first, since the card query and the
// locale depend on it; the history, when there is one, read by the daemon into its fresh store.
void finishScene(Scene& s, const Overrides& o, const std::string* historyBytes = nullptr) {
  memory::reset();
  applyOverrides(s, o);
  loadProfile(s, o);
  if (historyBytes != nullptr) readHistoryInto(s, *historyBytes);
  gatherCards(s, o);
  seedPrevious(s);
}

// "[name]: [value]" into *out; false for any other line.
bool getpropLine(const std::string& line, Properties* out) {
  const size_t split = line.find("]: [");
  if (line.empty() || line[0] != '[' || split == std::string::npos || line.back() != ']') {
    return false;
  }
  (*out)[line.substr(1, split - 1)] = line.substr(split + 4, line.size() - split - 5);
  return true;
}

// The daemon's name of `name` when the declared pattern (its own or its vendor name) is name's:
// a pattern ending in "%d" takes name's number. Empty when the pattern is not name's.
std::string declaredName(const std::string& pattern, const std::string& daemonName,
                         const std::string& name) {
  const std::string number = "%d";
  const bool numbered = pattern.size() > number.size() &&
                        pattern.compare(pattern.size() - number.size(), number.size(), number) == 0;
  if (!numbered) return name == pattern ? daemonName : "";
  const std::string stem = pattern.substr(0, pattern.size() - number.size());
  const std::string digits =
      name.compare(0, stem.size(), stem) == 0 ? name.substr(stem.size()) : "";
  if (digits.empty() || digits.size() > 3 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return "";
  }
  return daemonName.substr(0, daemonName.size() - number.size()) + digits;
}

bool writtenEveryStart(const Property& p) {
  return (p.use & kWrites) != 0 &&
         (p.kind == PropertyKind::kRuntime || p.kind == PropertyKind::kReadOnly);
}

}  // namespace

std::string targetName(uint32_t target) {
  const char* name = projectTarget(target).name;
  return name[0] != '\0' ? name : "none";
}

void readAnswer(const std::string& answer, CardInfo& answers, CardCommand query) {
  const CardCommandRow& row = cardCommand(query);
  const AtAnswer read = readAnswerText(row.command, answer.c_str());
  const AtOutcome outcome = {0, read.final == FinalCode::kOk};
  row.read(outcome, read, answers);
}

GetpropVerdict readGetprop(const std::string& text, Properties* out, bool skipOthers) {
  std::istringstream in(text);
  std::string entry;  // a value on several lines, so far
  int number = 0, entryLine = 0;
  for (std::string line; std::getline(in, line);) {
    number++;
    while (!line.empty() && line.back() == '\r') line.pop_back();
    if (!entry.empty()) {
      entry += "\n" + line;
      if (getpropLine(entry, out)) entry.clear();
      continue;
    }
    if (line.find_first_not_of(" \t") == std::string::npos || getpropLine(line, out)) continue;
    // "[name]: [first line of a value" goes on until a line ends with "]".
    if (line[0] != '[' || line.find("]: [") == std::string::npos) {
      if (skipOthers) continue;
      return {number, in.peek() == EOF && text.back() != '\n'};
    }
    entry = line;
    entryLine = number;
  }
  if (!entry.empty()) return {entryLine, true};
  return {};
}

std::string Scene::prop(const std::string& name) const {
  auto it = properties.find(name);
  return it == properties.end() ? "" : it->second;
}

// ---- Files -------------------------------------------------------------------------------------

Properties parseGetprop(const std::string& path) {
  const std::string bytes = readNamedFile(path);
  if (bytes.empty()) throw InputError(path + ": empty file, no \"[name]: [value]\" lines");
  if (bytes.find('\0') != std::string::npos) {
    throw InputError(path + ": binary data, not the output of getprop");
  }
  Properties out;
  const GetpropVerdict verdict = readGetprop(bytes, &out);
  if (verdict.badLine != 0) {
    throw InputError(path + ": line " + std::to_string(verdict.badLine) +
                     (verdict.cut ? " is cut short (the file ends inside it)"
                                  : " is not a \"[name]: [value]\" line"));
  }
  return out;
}

Integration readVendorNames(Properties* properties) {
  std::vector<std::string> vendor, own;
  bool vendorThisBoot = false, ownThisBoot = false;
  for (const auto& entry : *properties) {
    for (const Property* p : kDaemonProperties) {
      if (strcmp(p->name, p->vendorName) == 0) continue;  // one name in both integrations
      const bool isVendor = !declaredName(p->vendorName, p->name, entry.first).empty();
      if (!isVendor && declaredName(p->name, p->name, entry.first).empty()) continue;
      (isVendor ? vendor : own).push_back(entry.first);
      (isVendor ? vendorThisBoot : ownThisBoot) |= writtenEveryStart(*p);
      break;
    }
  }
  // Names the daemon writes at every start and a reboot clears show what runs now; persistent
  // ones may be left from an earlier build.
  const bool isVendor = vendorThisBoot || (!ownThisBoot && !vendor.empty());
  if (!isVendor) {
    if (own.empty()) return {"", "", "unknown (none of the daemon's properties is set)"};
    return {"platform", own.front(),
            "platform (the daemon's own property names: " + own.front() + "...)"};
  }
  Properties translated;
  for (const std::string& name : vendor) {
    for (const Property* p : kDaemonProperties) {
      const std::string daemon = declaredName(p->vendorName, p->name, name);
      if (!daemon.empty()) translated[daemon] = properties->at(name);
    }
    properties->erase(name);
  }
  // The daemon there reads none of its own names: a value under one is another program's.
  for (const std::string& name : own) properties->erase(name);
  properties->insert(translated.begin(), translated.end());
  return {"vendor", vendor.front(),
          "vendor (its property names, " + std::to_string(vendor.size()) + " such as " +
              vendor.front() + ", read back as the daemon's through its declarations" +
              (own.empty()
                   ? ""
                   : "; " + std::to_string(own.size()) + " of the daemon's own names, such as " +
                         own.front() + ", are not what it reads there: left out") +
              ")"};
}

std::string rildValue(const RildConfig& config, const RildKey& key) {
  const char* field = reinterpret_cast<const char*>(&config) + key.offset;
  if (key.textSize != 0) return std::string(field, strnlen(field, key.textSize));
  int32_t number;
  memcpy(&number, field, sizeof number);
  return std::to_string(number);
}

RildFile parseRildFile(const std::string& path) {
  RildFile f;
  f.path = path;
  f.text = readNamedFile(path);
  const char* badKey = nullptr;
  if (!parseRildConfig(f.text.data(), f.text.size(), f.config, &badKey)) {
    const std::string key = badKey;
    const size_t at = f.text.find(key + " = ");
    if (at == std::string::npos) {
      throw InputError(path + ": no \"" + key + " = \" line, not a rild configuration file" +
                       (f.text.empty() || f.text.back() != '\n' ? " (cut short?)" : ""));
    }
    const size_t from = at + key.size() + 3;
    throw InputError(path + ": \"" + key + "\" is \"" +
                     f.text.substr(from, f.text.find('\n', from) - from) + "\", not a number");
  }
  return f;
}

// ---- Card kinds
// ----------------------------------------------------------------------------------

const std::vector<CardKind>& cardKinds() {
  static const std::vector<CardKind> kinds = {
      {"none", "no card"},
      {"sim-home", "SIM, home operator"},
      {"usim-home", "USIM, home operator"},
      {"sim-domestic", "SIM, other domestic operator"},
      {"usim-domestic", "USIM, other domestic operator"},
      {"sim-foreign", "SIM, foreign operator"},
      {"usim-foreign", "USIM, foreign operator"},
      {"pin", "PIN-locked USIM"},
  };
  return kinds;
}

CardAnswer kindAnswer(const std::string& kind, int slot, const std::string& target) {
  // IMSIs of the default operator lists: the cucc target's home network is the cmcc target's
  // other domestic operator and the other way round.
  const bool cucc = target == "cucc";
  const std::string home = cucc ? "460011234567890" : "460001234567890";
  const std::string domestic = cucc ? "460009876543210" : "460019876543210";
  CardAnswer a;
  a.given = kind;
  if (kind == "none") return a;
  a.present = true;
  a.id = "8986" + std::to_string(slot) + "0000000000000000" + std::to_string(slot);
  a.type = kind.rfind("sim-", 0) == 0 ? 1 : 2;
  if (kind == "pin") {
    a.lock = CardAnswer::Lock::kPin;
  } else if (kind.find("-home") != std::string::npos) {
    a.imsi = home;
  } else if (kind.find("-domestic") != std::string::npos) {
    a.imsi = domestic;
  } else if (kind.find("-foreign") != std::string::npos) {
    a.imsi = "310260123456789";
  } else {
    throw std::invalid_argument("unknown card kind \"" + kind + "\"");
  }
  return a;
}

CardAnswer parseCardSpec(const std::string& spec, int slot, const std::string& target) {
  for (const CardKind& kind : cardKinds()) {
    if (spec == kind.name) return kindAnswer(spec, slot, target);
  }
  const std::vector<std::string> parts = splitColon(spec);
  CardAnswer a;
  a.given = spec;
  if (parts.empty() || (parts[0] != "sim" && parts[0] != "usim") || parts.size() < 2 ||
      parts.size() > 3) {
    throw std::invalid_argument("\"" + spec +
                                "\": expected none, sim:IMSI[:ID], usim:IMSI[:ID], "
                                "sim:pin, usim:puk... or a card kind");
  }
  a.present = true;
  a.type = parts[0] == "sim" ? 1 : 2;
  a.id = parts.size() == 3 ? parts[2] : "whatif-slot" + std::to_string(slot);
  if (parts[1] == "pin" || parts[1] == "puk") {
    a.lock = parts[1] == "pin" ? CardAnswer::Lock::kPin : CardAnswer::Lock::kPuk;
  } else if (parts[1].size() >= 5 && parts[1].size() < CARD_IMSI_SIZE &&
             parts[1].find_first_not_of("0123456789") == std::string::npos) {
    a.imsi = parts[1];
  } else {
    throw std::invalid_argument("\"" + spec + "\": the IMSI must be 5 to 19 digits");
  }
  return a;
}

// ---- Scenes ----------------------------------------------------------------------------------

CardInfo queryCard(const Scene& scene, int slot, const CardAnswer& answer) {
  modemsim::Scenario scenario;
  scenario.slots.resize(static_cast<size_t>(slot) + 1);
  scenario.slots[static_cast<size_t>(slot)] = answer;
  modemsim::ScenarioModem modem(scenario);
  SilentWire wire;
  char select[32];
  snprintf(select, sizeof select, modemCommand(ModemCommand::kSwitch).text,
           std::to_string(slot).c_str());
  modem.respond(select, wire);
  // The answers as the card query stores them, then the daemon's own classification.
  CardInfo answers = CARD_INFO_RESET;
  answers.m_cardStatus = answer.present ? CardStatus::kPresent : CardStatus::kAbsent;
  if (answer.present) {
    askModem(modem, CardCommand::kId, answers);
    const CardInfo* saved = findSavedCard(scene.history, answers.m_cardID);
    if (saved == nullptr || !savedCardSparesQueries(*saved)) {
      askModem(modem, CardCommand::kImsi, answers);
      askModem(modem, CardCommand::kType, answers);
    }
  }
  return classifyCard(answers, scene.profile, scene.history);
}

namespace {

// A directory the daemon has run in holds at least one of its files.
void checkRoot(const std::string& root) {
  const std::string problem = cli::rootProblem(root);
  if (!problem.empty()) throw InputError(root + ": " + problem);
}

// A root's property store, as the daemon left it; a missing one holds nothing.
void readRootStore(Scene& s, const std::string& root) {
  const std::string store = cli::storePath(root);
  struct stat st;
  cli::StoreLines lines;
  std::string why;
  if (!cli::readStore(root, &lines, &why)) throw InputError(store + ": " + why);
  if (stat(store.c_str(), &st) == 0) {
    s.observed = Properties(lines.begin(), lines.end());
    s.sources.push_back("property store " + store);
  } else {
    s.missing.push_back("no property store (" + store + "): every property at its default");
  }
  s.properties = s.observed;
}

}  // namespace

Scene sceneFromRoot(const std::string& root, const Overrides& o) {
  checkRoot(root);
  Scene s;
  s.mode = "root";
  readRootStore(s, root);
  std::string bytes, why;
  bool found = readFile(root + kFactoryFilePath, &bytes, &why);
  if (found) {
    s.factoryDigits = bytes;
    s.sources.push_back("factory file " + root + kFactoryFilePath);
  }
  for (int standby = 0; standby < MAX_STANDBY; standby++) {
    const std::string path = root + rildPath(standby);
    if (access(path.c_str(), F_OK) != 0) continue;
    try {
      s.rild[standby] = parseRildFile(path);
      s.sources.push_back("rild file " + path);
    } catch (const InputError& e) {
      s.missing.push_back(std::string(e.what()) + ": ignored");
    }
  }
  const std::string history = root + kCardHistoryPath;
  if (s.rild.empty()) {
    s.missing.push_back("no rild file in " + history.substr(0, history.rfind('/')));
  }
  bytes.clear();
  found = readFile(history, &bytes, &why);
  if (found) {
    const cardhist::History decoded =
        cardhist::decode(std::vector<unsigned char>(bytes.begin(), bytes.end()));
    for (const std::string& d : decoded.damage) {
      s.missing.push_back("card history " + history + ": " + d + " (read as far as it goes)");
    }
    s.sources.push_back("card history " + history);
  } else {
    s.missing.push_back("no card history (" + history + ": " + why +
                        "): the cards' IMSIs and the slots' last cards are unknown");
  }
  finishScene(s, o, found ? &bytes : nullptr);
  return s;
}

namespace {

// The properties the plan rests on, and what each decides: the profile's decide everything.
struct PlanInput {
  const Property* property;
  const char* decides;
};
constexpr PlanInput kPlanInputs[] = {
    {&prop::kProjectType, "profile"},  {&prop::kProjectTarget, "profile"},
    {&prop::kProjectRat, "profile"},   {&prop::kProjectRat1, "profile"},
    {&prop::kDynamicRat, "profile"},   {&prop::kDualToSingle, "profile"},
    {&prop::kManualRat, "profile"},    {&prop::kCmccPlmnList, "profile"},
    {&prop::kCuccPlmnList, "profile"}, {&prop::kMasterCard, "master"},
    {&prop::kDefaultData, "master"},   {&prop::kPrefNetType, "standbys"},
};

std::string quoted(const std::string& value) {
  return value.empty() ? std::string("nothing (unset)") : "\"" + value + "\"";
}

std::string loggedSource(const LoggedStart& log) {
  return "the daemon's lines in its " + log.section + " section (line " +
         std::to_string(log.sectionLine) +
         (log.section == "LAST LOGCAT" ? "; the previous boot's log, not this boot's" : "") +
         "), " +
         (log.start == 0
              ? std::string("no whole start: ")
              : "start " + std::to_string(log.start) + " of " + std::to_string(log.starts) + ": ") +
         "lines " + std::to_string(log.firstLine) + " to " + std::to_string(log.lastLine) + " (" +
         log.format + (log.printable ? ", printable escapes undone" : "") + ")";
}

std::string digitsSource(const Scene& s) {
  const auto written = s.logged->left.find(prop::kPublishedMsms.name);
  if (written != s.logged->left.end()) {
    return "the daemon's write of " + std::string(prop::kPublishedMsms.name) + " at line " +
           std::to_string(written->second.line);
  }
  return "SYSTEM PROPERTIES (line " + std::to_string(s.snapshotLine) +
         "): " + prop::kPublishedMsms.name + ", what the daemon used at its last start";
}

// One input from the best source the report holds: the start's own read (what the daemon used),
// else the SYSTEM PROPERTIES snapshot (taken later), else unknown.
Input takeInput(Scene& s, const Properties& snapshot, const PlanInput& in) {
  const LoggedStart& log = *s.logged;
  const std::string name = in.property->name;
  Input input{name, "", in.decides, "", true};
  const auto read = log.held.find(name);
  const auto later = snapshot.find(name);
  const std::string snapshotValue = later == snapshot.end() ? "" : later->second;
  const std::string snapshotName =
      "SYSTEM PROPERTIES (line " + std::to_string(s.snapshotLine) + ")";
  if (read != log.held.end()) {
    input.value = read->second.value;
    input.source = "the daemon's read at line " + std::to_string(read->second.line);
  } else if (s.snapshotLine != 0) {
    input.value = snapshotValue;
    input.source = snapshotName + ", taken after the start";
  } else {
    input.known = false;
    input.source =
        "unknown: the logged start holds no read of it and the report no SYSTEM "
        "PROPERTIES section";
  }
  const auto left = log.left.find(name);
  if (s.snapshotLine != 0 && left != log.left.end() && left->second.value != snapshotValue) {
    input.source += "; they disagree: " + snapshotName + " holds " + quoted(snapshotValue) +
                    ", the start left " + quoted(left->second.value) + " (line " +
                    std::to_string(left->second.line) + ")";
  }
  if (input.value.empty()) {
    s.properties.erase(name);
  } else {
    s.properties[name] = input.value;
  }
  return input;
}

// The start's reads and writes over the later snapshot: the inputs as the daemon read them, and
// what it left as what the phone holds.
void takeLoggedInputs(Scene& s) {
  const LoggedStart& log = *s.logged;
  if (log.start == 0) {
    s.missing.push_back("the " + log.section +
                        " section holds no start of the daemon (no \"Build time\" line): the "
                        "buffer rolled over during one; what lines " +
                        std::to_string(log.firstLine) + " to " + std::to_string(log.lastLine) +
                        " hold is used");
  }
  const Properties snapshot = s.observed;
  s.properties = snapshot;
  for (const auto& [name, p] : log.left) {
    if (p.value.empty()) {
      s.observed.erase(name);
    } else {
      s.observed[name] = p.value;
    }
  }
  for (const PlanInput& in : kPlanInputs) s.inputs.push_back(takeInput(s, snapshot, in));
}

// The header's identity completed from the properties; the device from the fingerprint
// ("brand/product/device:release/...") where no property names it.
Identity identityOf(Identity id, const Properties& snapshot) {
  auto fill = [&](std::string& field, const char* name) {
    const auto found = snapshot.find(name);
    if (field.empty() && found != snapshot.end()) field = found->second;
  };
  fill(id.fingerprint, "ro.build.fingerprint");
  fill(id.baseband, "gsm.version.baseband");
  fill(id.device, "ro.product.device");
  const size_t slash = id.fingerprint.find('/');
  const size_t second = slash == std::string::npos ? slash : id.fingerprint.find('/', slash + 1);
  if (id.device.empty() && second != std::string::npos) {
    id.device = id.fingerprint.substr(second + 1, id.fingerprint.find(':', second) - second - 1);
  }
  return id;
}

// A report that leaves the profile, a card or the modem's capability unknown supports no plan.
void requirePlan(const Scene& s) {
  std::string unknown;
  auto add = [&](const std::string& what) { unknown += (unknown.empty() ? "" : "; ") + what; };
  for (const Input& in : s.inputs) {
    if (!in.known && in.decides == std::string("profile")) add(in.name + " is " + in.source);
  }
  for (int slot = 0; slot < std::clamp(s.profile.simCount, 0, MAX_SIM); slot++) {
    if (s.cardSource[slot].rfind("nothing", 0) == 0) {
      add("slot " + std::to_string(slot) +
          "'s card is unknown (no query or class of it in the log, no rild file or card history "
          "given)");
    }
  }
  if (s.capabilitySource.rfind("assumed", 0) == 0) {
    add("the modem's capability is unknown (no \"AT^DMCC?\" answer in the log, no published RAT "
        "list)");
  }
  if (!unknown.empty()) throw BugreportError("no plan: " + unknown);
}

// The factory file is not in a dump: the digits the daemon used last are.
void takeUsedDigits(Scene& s) {
  auto used = s.observed.find(prop::kPublishedMsms.name);
  if (used != s.observed.end()) {
    s.properties[prop::kMsms.name] = used->second;
    if (s.logged) {
      s.inputs.push_back({"multi-SIM digits", used->second, "profile", digitsSource(s), true});
    } else {
      s.assumptions.push_back(std::string("multi-SIM digits: \"") + used->second + "\" from " +
                              prop::kPublishedMsms.name +
                              ", what the daemon used at its last start");
    }
  } else if (s.logged) {
    throw BugreportError(std::string("no plan: the multi-SIM digits are unknown (the start's ") +
                         prop::kPublishedMsms.name + " write is not in the log" +
                         (s.snapshotLine == 0 ? " and the report has no SYSTEM PROPERTIES section)"
                                              : " nor in SYSTEM PROPERTIES)"));
  } else {
    s.missing.push_back(std::string("no ") + prop::kPublishedMsms.name +
                        ": the factory file's digits are " + "unknown; " + prop::kMsms.name +
                        " or its default is used");
  }
}

// A phone's properties (a getprop dump or a bug report's) with the files pulled from it.
Scene sceneFromDump(Scene s, const std::string& historyPath,
                    const std::vector<std::string>& rildPaths, const Overrides& o) {
  takeUsedDigits(s);
  std::string historyBytes;
  if (!historyPath.empty()) {
    historyBytes = readNamedFile(historyPath);
    const cardhist::History decoded =
        cardhist::decode(std::vector<unsigned char>(historyBytes.begin(), historyBytes.end()));
    // A file longer than a history is no history the daemon wrote, though it reads only its start.
    const std::string why = historyBytes.size() > cardhist::kFileBytes
                                ? "not a card history: " + decoded.leftovers[0]
                                : cardhist::problem(decoded);
    if (!why.empty()) throw InputError(historyPath + ": " + why);
    s.sources.push_back("card history " + historyPath);
  } else if (!s.logged) {  // a log names the cards, and says what the history hid
    s.missing.push_back(
        "no card history (--history radio.cfg): the cards of the last run are unknown");
  }
  for (size_t i = 0; i < rildPaths.size(); i++) {
    RildFile f = parseRildFile(rildPaths[i]);
    // "rild.cfgN" names its standby; otherwise the order given.
    const std::string& p = rildPaths[i];
    const int standby = !p.empty() && isdigit(static_cast<unsigned char>(p.back()))
                            ? p.back() - '0'
                            : static_cast<int>(i);
    s.rild[standby] = f;
    s.sources.push_back("rild file " + p);
  }
  finishScene(s, o, historyPath.empty() ? nullptr : &historyBytes);
  return s;
}

}  // namespace

Scene sceneFromProps(const std::string& propsPath, const std::string& historyPath,
                     const std::vector<std::string>& rildPaths, const Overrides& o) {
  Scene s;
  s.mode = "props";
  s.observed = parseGetprop(propsPath);
  s.sources.push_back("getprop dump " + propsPath);
  s.integration = readVendorNames(&s.observed);
  s.properties = s.observed;
  return sceneFromDump(std::move(s), historyPath, rildPaths, o);
}

Scene sceneFromBugreport(const std::string& path, int boot, bool previousBoot,
                         const std::string& historyPath, const std::vector<std::string>& rildPaths,
                         const Overrides& o) {
  const Bugreport report = readBugreport(path);
  Scene s;
  s.mode = "bugreport";
  s.sources.push_back("bug report " + path +
                      (report.mainName.empty() ? "" : " (main text " + report.mainName + ")"));
  const Section* properties = report.find("SYSTEM PROPERTIES");
  if (properties != nullptr) {
    std::istringstream in(properties->text);
    readGetprop(properties->text, &s.observed, true);  // past its section line
    s.snapshotLine = properties->line;
    s.sources.push_back("its SYSTEM PROPERTIES section (line " + std::to_string(properties->line) +
                        "): " + std::to_string(s.observed.size()) + " properties");
  }
  s.logged = loggedStart(report, boot, previousBoot);
  s.identity = identityOf(report.identity, s.observed);
  s.sources.push_back(loggedSource(*s.logged));
  s.integration = readVendorNames(&s.observed);
  try {
    takeLoggedInputs(s);
    s = sceneFromDump(std::move(s), historyPath, rildPaths, o);
    requirePlan(s);
  } catch (const BugreportError& e) {
    throw BugreportError(path + ": " + e.what());
  }
  return s;
}

Scene sceneWhatIf(const Overrides& o, const std::string& mode) {
  Scene s;
  s.mode = mode;
  s.sources.push_back("the command line");
  if (o.factoryDigits.empty() && o.properties.count(prop::kMsms.name) == 0) {
    // A pair of cards needs two slots; the daemon's own default, "111", has one.
    s.factoryDigits = "221";
    s.assumptions.push_back(
        "multi-SIM digits: 221 (two SIM slots, two standbys), since --msms "
        "was not given");
  }
  finishScene(s, o);
  // No history: the last master card is nobody, and nothing was configured before.
  return s;
}

RadioPlan planOf(const Scene& s) {
  const std::string stored =
      s.properties.count(prop::kMasterCard.name) != 0 && !s.prop(prop::kMasterCard.name).empty()
          ? s.prop(prop::kMasterCard.name)
          : "10";
  const std::string defaultData = s.prop(prop::kDefaultData.name);
  const std::string prefNetType = s.prop(prop::kPrefNetType.name);
  const PolicyInputs in = {
      s.profile,           s.cards,     s.history.m_slotCardID, stored.c_str(), defaultData.c_str(),
      prefNetType.c_str(), s.capability};
  return planRadio(in, s.previous);
}

std::map<std::string, std::string> unknownDecisions(const Scene& s, const RadioPlan& plan) {
  std::map<std::string, std::string> out;
  for (const Input& in : s.inputs) {
    if (in.known || in.decides == std::string("profile")) continue;
    if (in.name == prop::kDefaultData.name &&
        !masterCardNeedsDefaultData(s.profile, plan.capability)) {
      continue;  // the master card's rule does not read it
    }
    out.emplace(in.decides, in.name + " is " + in.source);
  }
  const bool followsLastMaster = plan.master.rule == MasterRule::kLastMasterCard ||
                                 plan.master.rule == MasterRule::kLastMasterMissing;
  if (s.logged && followsLastMaster && !s.haveHistory && s.logged->historyAbsentLine == 0) {
    out.emplace("master",
                "it follows the card that was master last time, named by the card history's slot "
                "list, which is not at hand (give --history radio.cfg)");
  }
  if (out.count("master") != 0) out.emplace("standbys", "they follow the master card: unknown");
  if (out.count("standbys") != 0) out.emplace("nvram", "it checks the standbys' RATs: unknown");
  const bool swapSeen = s.observed.count(prop::kSwapNvram.name) != 0;
  if (s.logged && !s.logged->capabilityLogged && !swapSeen && modemCheckRuns(s.profile)) {
    out.emplace("nvram",
                "the modem's \"AT^DMCC?\" answer per standby is not in the log, nor the daemon's " +
                    std::string(prop::kSwapNvram.name));
  }
  return out;
}

Writes writesOf(const Scene& s, const RadioPlan& plan) {
  Writes w;
  w.properties = s.profileWrites;
  if (plan.master.written) w.properties.push_back({prop::kMasterCard.name, plan.masterCard});
  w.properties.push_back({prop::kActualRat.name, plan.actualRatValue});
  if (modemCheckRuns(s.profile)) {
    w.swap = nvramSwapNeeded(plan.nvram, true);
    w.properties.push_back({prop::kSwapNvram.name, w.swap ? "1" : "0"});
  }
  // The files and requests of a start-up: every rild stopped, no old file to compare with.
  for (int standby = 0; standby < std::min(s.profile.standbyCount, MAX_STANDBY); standby++) {
    char service[32], text[512];
    formatName(kRildService.name, standby, service, sizeof service);
    const RildRequest request = rildRequest("stopped", false, w.swap);
    if (request != RildRequest::kNone) {
      w.init.push_back(std::string(request == RildRequest::kStart ? "start " : "restart ") +
                       service);
    }
    const int length =
        formatRildConfig(rildConfigFor(s.profile, s.cards, plan, standby), text, sizeof text);
    if (length > 0) w.rildFiles[standby] = std::string(text, static_cast<size_t>(length));
  }
  return w;
}

}  // namespace radioplan
