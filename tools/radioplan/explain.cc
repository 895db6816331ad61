// The plan in words; see explain.h. Only names and sentences live here: every decision comes from
// planRadio and its reasons.
#include "radioplan/explain.h"

#include <stddef.h>
#include <string.h>

#include <algorithm>

#include "card/words.h"
#include "daemonlog/records.h"
#include "platform/platform.h"
#include "platform/properties.h"

namespace radioplan {
namespace {

// The keys of a rild file the plan decides: the rest describe the cards, which the plan takes as
// given.
bool comparedRildKey(const RildKey& key) {
  for (size_t field : {offsetof(RildConfig, simSlot), offsetof(RildConfig, rat),
                       offsetof(RildConfig, actualRat), offsetof(RildConfig, dstmex)}) {
    if (key.offset == field) return true;
  }
  return false;
}

// "rild.cfg1": the name of a standby's rild file, without its folder.
std::string rildFileName(int standby) {
  const std::string path = kRildConfigBasePath;
  return path.substr(path.rfind('/') + 1) + std::to_string(standby);
}

// What standby i's rild file says of the plan, key by key, as the daemon writes it.
Json rildJson(const Scene& s, const RadioPlan& plan, int i) {
  const RildConfig planned = rildConfigFor(s.profile, s.cards, plan, i);
  Json j = Json::object();
  for (const RildKey& key : kRildKeys) {
    if (comparedRildKey(key)) j[key.name] = rildValue(planned, key);
  }
  return j;
}

// The three generations: as the policy's groups, as the RATs they hold, and in words.
struct Generation {
  unsigned group;
  RatMask rats;
  const char* word;
};
constexpr Generation kGenerations[] = {
    {kGroup2G, RAT_2G_MASK, "2G"}, {kGroup3G, RAT_3G_MASK, "3G"}, {kGroup4G, RAT_4G_MASK, "4G"}};

// "2G/4G" for the generations named by either argument; `none` when there are none.
std::string joinGenerations(unsigned groups, RatMask rats, const char* none) {
  std::string out;
  for (const Generation& g : kGenerations) {
    if ((groups & g.group) == 0 && (rats & g.rats) == 0) continue;
    out += (out.empty() ? "" : "/") + std::string(g.word);
  }
  return out.empty() ? none : out;
}

// The target's card classes (the daemon's table): nullptr for a target without tables.
const CardClassTable* classesOf(uint32_t target) { return cardClassTable(target); }

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string tableName(const char* prefix, uint32_t target) {
  if (classesOf(target) == nullptr) return "none";
  return prefix + upper(targetName(target));
}

std::string typeWords(CardType type) {
  const char* words = cardwords::type(type);
  return words != nullptr ? words : "type " + std::to_string(static_cast<int>(type));
}

std::string cardImsi(const Scene& s, int slot) {
  auto it = s.imsiById.find(std::string(s.cards[slot].m_cardID));
  if (s.cards[slot].m_cardIMSI[0] != '\0') return s.cards[slot].m_cardIMSI;
  return it == s.imsiById.end() ? "" : it->second;
}

std::string masterWords(const char* code) {
  const MasterCardSlot slot = masterCardSlot(code);
  if (slot == MasterCardSlot::kNeither) return std::string("\"") + code + "\" names no card";
  std::string words = slot == MasterCardSlot::kSlot0 ? "card 1 (slot 0)" : "card 2 (slot 1)";
  if (code[1] != '0') words += ", chosen between two equally capable cards";
  return words;
}

std::string capabilityMeaning(int32_t code) {
  switch (code) {
    case RAT_234G_2G:
      return "the card in slot 0 deserves 2G/3G/4G, the other 2G";
    case RAT_2G_234G:
      return "the card in slot 1 deserves 2G/3G/4G, the other 2G";
    case RAT_234G_2G_O:
      return "both cards are equally capable: the master card gets 2G/3G/4G";
    default:
      return "the target has no tables";
  }
}

std::string cell(const char* table, const Scene& s, const PairLookup& pair) {
  return std::string(table) + " row " + std::to_string(pair.card[0].index) + " (" +
         classLabel(s.profile.projectTarget, pair.card[0].index) + "), column " +
         std::to_string(pair.card[1].index) + " (" +
         classLabel(s.profile.projectTarget, pair.card[1].index) + ")";
}

std::string masterReason(const Scene& s, const RadioPlan& plan) {
  const MasterDecision& m = plan.master;
  const std::string capTable = tableName("RAT_CAPABILITY_", s.profile.projectTarget);
  const std::string equal = "both cards equally capable (" +
                            cell(capTable.c_str(), s, plan.capability) + ": RAT_234G_2G_O)";
  switch (m.rule) {
    case MasterRule::kManualSetting:
      return "the manual RAT setting (" + std::string(prop::kManualRat.name) + ") names standby " +
             std::to_string(s.profile.manualRatStandby);
    case MasterRule::kSingleSim:
      return "one SIM slot: its card is master";
    case MasterRule::kDynamicRatOff:
      return "dynamic RAT handling is off (" + std::string(prop::kDynamicRat.name) +
             "): the card in slot 0 is master";
    case MasterRule::kCapabilityTable:
      return cell(capTable.c_str(), s, plan.capability) + " gives " +
             capabilityName(plan.capability.code) + ": " + capabilityMeaning(plan.capability.code);
    case MasterRule::kDefaultDataCard:
      return equal + "; the default data card (" + prop::kDefaultData.name + " = \"" +
             s.prop(prop::kDefaultData.name) + "\") decides";
    case MasterRule::kLastMasterCard:
      return equal + "; no default data card; the card that was master last time (identity \"" +
             std::string(m.lastMasterID) + "\") is in slot " + std::to_string(m.lastMasterCard - 1);
    case MasterRule::kLastMasterMissing:
      return equal + "; no default data card; the card that was master last time (identity \"" +
             std::string(m.lastMasterID) + "\") is not inserted, so card 1";
    case MasterRule::kUnsupportedMode:
      return "unsupported mode: " + std::to_string(s.profile.simCount) + " SIM slot(s) and " +
             std::to_string(s.profile.standbyCount) +
             " standby(s); nothing decided, the stored code stays";
    case MasterRule::kUnknownCombination:
      return "the target " + targetName(s.profile.projectTarget) +
             " has no tables; nothing decided, the stored code stays";
  }
  return "";
}

std::string groupWords(unsigned groups) { return joinGenerations(groups, 0, "nothing"); }

// Why the standby that the table favours ends with its RATs, step by step.
std::vector<std::string> chosenReasons(const Scene& s, const RadioPlan& plan) {
  const ActualDecision& why = plan.actualRat;
  const ProjectProfile& p = s.profile;
  std::vector<std::string> out;
  std::string table = tableName("ACTUAL_RAT_CAPABILITY_", p.projectTarget);
  std::string from =
      plan.actual.code == kUnknownCombination
          ? "no actual table for target " + targetName(p.projectTarget)
          : cell(table.c_str(), s, plan.actual) + " gives " + actualName(plan.actual.code);
  out.push_back(from + ": the larger set, " + groupWords(why.tableGroups) + ", goes to standby " +
                std::to_string(why.tableStandby) +
                (why.masterStandby ? " (the master card's standby)" : ""));
  if (why.simCut4G) out.push_back("its card is a SIM: 4G removed");
  if (why.prefNetTypeSet) {
    out.push_back("preferred network type " + std::to_string(why.prefNetType) + " (" +
                  prop::kPrefNetType.name + "): " +
                  (why.prefCleared == 0 ? std::string("no change")
                                        : groupWords(why.prefCleared) + " removed"));
  }
  if (why.singleSimDualStandby) {
    out.push_back(why.singleSimCut2G
                      ? "one SIM on two standbys, with 4G: 2G removed"
                      : "one SIM on two standbys without 4G: only standby 0 is published");
  }
  if (why.manualOutOfRange) {
    out.push_back("the manual setting's standby " + std::to_string(p.manualRatStandby) +
                  " names no standby: ignored");
  }
  return out;
}

// Why a standby serves a slot other than its own number, or none. Its rild file's card fields
// describe the card of the slot with the standby's number all the same.
std::string slotWords(const Scene& s, const RadioPlan& plan, int i) {
  const int slot = plan.standbySimSlot[i];
  if (slot == i) return "";
  const std::string mode = std::to_string(s.profile.simCount) + " SIM slot(s), " +
                           std::to_string(s.profile.standbyCount) + " standby(s)";
  if (slot < 0) {
    return "serves no SIM slot: the daemon maps standbys to slots for 1/1, 1/2, 2/2 and 2/3 SIM "
           "slots/standbys only, and this profile has " +
           mode;
  }
  const bool masterSlot = s.profile.simCount == 2 && s.profile.standbyCount == 3 && i == 2;
  return "serves SIM slot " + std::to_string(slot) + " (" + mode + ": " +
         (masterSlot ? "the third standby serves the master card's slot"
                     : "every standby serves the one slot") +
         "); " + rildFileName(i) + "'s card fields still describe slot " + std::to_string(i) +
         (i < s.profile.simCount ? "'s card" : ", which this phone lacks: no card");
}

Json standbyJson(const Scene& s, const RadioPlan& plan, int i) {
  const ActualDecision& why = plan.actualRat;
  Json j;
  j["standby"] = i;
  j["slot"] = plan.standbySimSlot[i];
  j["table_rat"] = plan.standbyRat[i];
  j["table_rats"] = ratWords(plan.standbyRat[i]);
  j["actual_rat"] = plan.standbyActualRat[i];
  j["actual_rats"] = ratWords(plan.standbyActualRat[i]);
  j["dstmex"] = plan.standbyDSTMEX[i];
  j["rild"] = rildJson(s, plan, i);
  j["chosen"] = i == why.chosenStandby;
  std::vector<std::string> reasons;
  if (i == why.tableStandby) reasons = chosenReasons(s, plan);
  if (why.manual && i == why.chosenStandby) {
    reasons.push_back("the manual setting (" + std::string(prop::kManualRat.name) + " = \"" +
                      s.prop(prop::kManualRat.name) + "\") gives it " +
                      ratWords(s.profile.manualRatMask));
  } else if (why.manual && i == why.tableStandby) {
    reasons.push_back("the manual setting gives the larger set to standby " +
                      std::to_string(why.chosenStandby) + " instead: this one gets 2G");
  }
  if (i != why.tableStandby && i != why.chosenStandby) {
    reasons.push_back(i < why.countedStandbys
                          ? "every other standby: " + ratWords(s.profile.rat2GMask)
                          : "not counted in this mode: its DSTMEX stays as it was");
  }
  const std::string slotReason = slotWords(s, plan, i);
  if (!slotReason.empty()) reasons.push_back(slotReason);
  j["reasons"] = reasons;
  return j;
}

std::string nvramWords(const Scene& s, const RadioPlan& plan, bool swap) {
  const NvramCheck& c = plan.nvram;
  if (s.profile.manualRatMask != NO_MANUAL_RAT_MASK) {
    return "not checked: a manual RAT setting leaves the modem as it is";
  }
  if (!c.checked) return "not checked: no standby";
  if (!swap) return "kept: every standby's table RATs are offered by the modem's same standby";
  const int i = c.firstUnserved;
  return "swapped, and the modem reset (\"AT^DSRST\"): standby " + std::to_string(i) + " wants " +
         ratWords(plan.standbyRat[i]) + " but the modem's standby " + std::to_string(i) +
         " offers " + ratWords(static_cast<RatMask>(s.capability.standbyRatCap[i])) +
         (c.offeredElsewhere ? "; another standby of the modem offers it"
                             : "; no standby of the modem offers it (the daemon logs the "
                               "mismatch as an error and swaps anyway)") +
         ". " + prop::kMasterCardSwitch.name + " stays \"11\" until the next start";
}

Json profileJson(const Scene& s) {
  const ProjectProfile& p = s.profile;
  Json j;
  j["msms"] = "";
  for (const auto& [name, value] : s.profileWrites) {
    if (name == prop::kPublishedMsms.name) j["msms"] = value;
  }
  j["sim_count"] = p.simCount;
  j["standby_count"] = p.standbyCount;
  j["target"] = targetName(p.projectTarget);
  j["dynamic_rat"] = p.dynamicRat == 1;
  j["rat_list"] = s.ratListRead;
  j["rat_list_after_modem"] = s.ratListFiltered;
  j["groups"] = {{"2G", p.rat2GMask}, {"3G", p.rat3GMask}, {"4G", p.rat4GMask}};
  if (p.manualRatMask != NO_MANUAL_RAT_MASK) {
    j["manual"] = {{"text", s.prop(prop::kManualRat.name)},
                   {"standby", p.manualRatStandby},
                   {"rat", p.manualRatMask},
                   {"rats", ratWords(p.manualRatMask)}};
  } else {
    j["manual"] = nullptr;
  }
  // null: the report does not hold it.
  auto value = [&](const Property& p) {
    for (const Input& in : s.inputs) {
      if (in.name == p.name && !in.known) return Json(nullptr);
    }
    return Json(s.prop(p.name));
  };
  j["pref_net_type"] = value(prop::kPrefNetType);
  j["default_data"] = value(prop::kDefaultData);
  j["stored_master"] = value(prop::kMasterCard);
  return j;
}

// What the state holds against what the plan says the daemon writes.
Json observedJson(const Scene& s, const RadioPlan& plan) {
  Json j;
  std::vector<std::string> compared, differences;
  auto check = [&](const std::string& what, const std::string& found, const std::string& planned) {
    compared.push_back(what);
    if (found != planned) {
      differences.push_back(what + ": the state holds \"" + found + "\", the plan says \"" +
                            planned + "\"");
    }
  };
  if (s.observed.count(prop::kMasterCard.name) != 0) {
    check(prop::kMasterCard.name, s.observed.at(prop::kMasterCard.name), plan.masterCard);
  }
  if (s.observed.count(prop::kActualRat.name) != 0) {
    check(prop::kActualRat.name, s.observed.at(prop::kActualRat.name), plan.actualRatValue);
  }
  for (const auto& [standby, f] : s.rild) {
    if (standby >= std::min(s.profile.standbyCount, MAX_STANDBY)) continue;
    const std::string name = rildFileName(standby) + " ";
    // The daemon's own record of what the plan puts in the file, against what the file holds.
    const RildConfig planned = rildConfigFor(s.profile, s.cards, plan, standby);
    for (const RildKey& key : kRildKeys) {
      if (!comparedRildKey(key)) continue;
      check(name + key.name, rildValue(f.config, key), rildValue(planned, key));
    }
  }
  j["compared"] = compared;
  j["differences"] = differences;
  return j;
}

// Per standby ("-1": before the first switch), what the modem answered each command.
Json exchangesJson(const LoggedStart& log) {
  Json out = Json::object();
  for (const LoggedExchange& e : log.exchanges) {
    out[std::to_string(e.standby)].push_back(
        {{"command", e.command}, {"result", e.result}, {"tries", e.tries}, {"line", e.line}});
  }
  return out;
}

// Which phone, build and modem firmware, when the report was taken, when the start and each
// hot-plug happened (null: the report does not say).
Json reportJson(const Scene& s) {
  auto said = [](const std::string& v) { return v.empty() ? Json(nullptr) : Json(v); };
  const LoggedStart& log = *s.logged;
  Json errors = Json::array();
  for (const LoggedEvent& e : log.errors) {
    errors.push_back({{"line", e.line}, {"time", said(e.time)}, {"text", e.what}});
  }
  Json hotplugs = Json::array();
  for (const LoggedEvent& e : log.hotplugs) {
    hotplugs.push_back({{"line", e.line}, {"time", said(e.time)}, {"event", e.what}});
  }
  return {{"fingerprint", said(s.identity.fingerprint)},
          {"device", said(s.identity.device)},
          {"baseband", said(s.identity.baseband)},
          {"taken", said(s.identity.taken)},
          {"start", log.start},
          {"starts", log.starts},
          {"start_line", log.firstLine},
          {"start_time", said(log.time)},
          {"hotplugs", hotplugs},
          {"exchanges", exchangesJson(log)},
          {"errors", errors}};
}

Json inputsJson(const Scene& s) {
  Json out = Json::array();
  for (const Input& in : s.inputs) {
    out.push_back({{"name", in.name},
                   {"value", in.known ? Json(in.value) : Json(nullptr)},
                   {"decides", in.decides},
                   {"source", in.source}});
  }
  return out;
}

// A decision whose inputs the report does not hold is unknown, with the reason, and so is what
// the daemon writes from it: never a default presented as the phone's.
void markUnknown(Json& j, const std::map<std::string, std::string>& unknown) {
  j["unknown"] = Json::object();
  for (const auto& [decision, why] : unknown) j["unknown"][decision] = why;
  Json& writes = j["writes"];
  auto drop = [&](const char* name) {
    Json kept = Json::array();
    for (const Json& p : writes["properties"]) {
      if (p[0] != name) kept.push_back(p);
    }
    writes["properties"] = kept;
  };
  if (unknown.count("master") != 0) {
    j["master"] = {{"code", "unknown"},
                   {"words", "unknown"},
                   {"written", true},
                   {"reason", unknown.at("master")}};
    drop(prop::kMasterCard.name);
  }
  if (unknown.count("standbys") != 0) {
    for (Json& standby : j["standbys"]) {
      for (const char* key : {"table_rats", "actual_rats", "dstmex"}) standby[key] = "unknown";
      standby["table_rat"] = standby["actual_rat"] = nullptr;
      standby["reasons"] = {unknown.at("standbys")};
    }
    j["actual_rat_value"] = "unknown";
    writes["rild_files"] = Json::object();
    drop(prop::kActualRat.name);
  }
  if (unknown.count("nvram") != 0) {
    j["nvram"] = {{"state", "unknown"}, {"swap", nullptr}, {"reason", unknown.at("nvram")}};
    writes["init"] = {"unknown: start or restart follows the NVRAM check"};
    drop(prop::kSwapNvram.name);
  }
}

// What each decision read: the same inputs the reader of the daemon's log gives its lines.
void addReads(Json& j) {
  namespace decision = daemonlog::decision;
  auto reads = [](const char* name) { return Json(daemonlog::decisionReads(name)); };
  j["profile"]["reads"] = {{"rat_list", reads(decision::kRatList)},
                           {"rat_list_after_modem", reads(decision::kRatListAfterModem)}};
  j["capability"]["reads"] = reads(decision::kModemRat);
  for (Json& card : j["cards"]) card["reads"] = reads(decision::kCardClass);
  j["master"]["reads"] = reads(decision::kMasterCard);
  j["actual_table"]["reads"] = reads(decision::kActualCombination);
  for (Json& standby : j["standbys"]) {
    standby["reads"] = {{"table_rat", reads(decision::kCapabilityCombination)},
                        {"actual_rat", reads(decision::kActualRat)}};
  }
  j["nvram"]["reads"] = reads(decision::kNvram);
}

}  // namespace

std::string generations(RatMask mask) { return joinGenerations(0, mask, "none"); }

std::string ratWords(RatMask mask) {
  std::string names;
  for (const RatName* row = ratNameTable; row->name[0] != '\0'; row++) {
    if (mask & row->bit) names += std::string(names.empty() ? "" : ",") + row->name;
  }
  if (names.empty()) names = "no RAT";
  return generations(mask) + " (" + names + " = " + std::to_string(mask) + ")";
}

std::string classLabel(uint32_t target, int index) {
  const CardClassTable* classes = classesOf(target);
  if (classes == nullptr) return "no class: the target " + targetName(target) + " has no tables";
  if (index < 0 || index >= classes->count) return "class " + std::to_string(index);
  return classes->rows[index].label;
}

std::string cardWords(const Scene& s, int slot) {
  const CardInfo& card = s.cards[slot];
  if (card.m_cardStatus == CardStatus::kAbsent) return "no card";
  if (card.m_cardStatus != CardStatus::kPresent) {
    return "card status " + std::to_string(static_cast<int>(card.m_cardStatus)) + " (unknown)";
  }
  const std::string type = typeWords(card.m_cardType);
  const std::string imsi = cardImsi(s, slot);
  if (card.m_cardLocale == CardLocale::kUnknown) {
    if (imsi.size() >= 5 || classesOf(s.profile.projectTarget) == nullptr) {
      return type + ", home network not classed: the target " +
             targetName(s.profile.projectTarget) +
             " has no operator rule, so the card has no class in any table";
    }
    switch (s.cardLock[slot]) {
      case CardAnswer::Lock::kPin:
        return type + ", PIN-locked: IMSI unreadable";
      case CardAnswer::Lock::kPuk:
        return type + ", PUK-locked: IMSI unreadable";
      default:
        return type + ", PIN- or PUK-locked: IMSI unreadable";
    }
  }
  const cardwords::LocaleWord* locale = cardwords::locale(card.m_cardLocale);
  std::string words = type + ", " + (locale != nullptr ? locale->words : "locale out of range");
  if (imsi.size() >= 5) words += " (" + imsi.substr(0, 5) + ")";
  return words;
}

namespace {

Json cardsJson(const Scene& s, const RadioPlan& plan) {
  const ProjectProfile& p = s.profile;
  Json cards = Json::array();
  const bool tables = classesOf(p.projectTarget) != nullptr;
  for (int slot = 0; slot < std::clamp(p.simCount, 0, 2); slot++) {
    const CardInfo& c = s.cards[slot];
    const CardClass cls = plan.capability.card[slot];
    cards.push_back({{"slot", slot},
                     {"class", cardWords(s, slot)},
                     {"status", static_cast<int>(c.m_cardStatus)},
                     {"type", static_cast<int>(c.m_cardType)},
                     {"locale", static_cast<int>(c.m_cardLocale)},
                     {"imsi", cardImsi(s, slot)},
                     {"id", std::string(c.m_cardID)},
                     {"table_index", tables ? Json(cls.index) : Json(nullptr)},
                     {"table_label", !cls.covered ? "not covered by the target's rules: as no card"
                                                  : classLabel(p.projectTarget, cls.index)},
                     {"source", s.cardSource[slot]}});
  }
  return cards;
}

// The NVRAM check as planned, or as the state shows the daemon left it.
Json nvramJson(const Scene& s, const RadioPlan& plan, const Writes& writes) {
  const ProjectProfile& p = s.profile;
  const bool checked = p.manualRatMask == NO_MANUAL_RAT_MASK && plan.nvram.checked;
  Json nvram = {{"state", !checked      ? "not checked"
                          : writes.swap ? "swapped"
                                        : "kept"},
                {"swap", writes.swap},
                {"reason", nvramWords(s, plan, writes.swap)}};
  auto seen = s.observed.find(prop::kSwapNvram.name);
  if (s.isState() && seen != s.observed.end()) {
    nvram["observed"] = seen->second;
    nvram["state"] = seen->second == "1" ? "swapped" : "kept";
    if ((seen->second == "1") != writes.swap) {
      nvram["reason"] =
          seen->second == "1"
              ? "the daemon swapped the NVRAM and reset the modem at its last check (" +
                    std::string(prop::kSwapNvram.name) +
                    " is 1): a standby of the modem did not offer what the table gave the "
                    "same standby; the capability assumed here does not show it (give "
                    "--capability with each standby's RATs)"
              : "the daemon kept the NVRAM at its last check (" +
                    std::string(prop::kSwapNvram.name) +
                    " is 0); with the capability assumed here it would swap: " +
                    nvramWords(s, plan, true);
    }
  }
  return nvram;
}

// What the state lacks, with the history's part in the master card where the plan follows it.
Json missingJson(const Scene& s, const RadioPlan& plan) {
  Json missing = s.missing;
  const bool followsLastMaster = plan.master.rule == MasterRule::kLastMasterCard ||
                                 plan.master.rule == MasterRule::kLastMasterMissing;
  if (s.isState() && followsLastMaster && !s.haveHistory && !s.logged) {
    missing.push_back(
        "the card that was master last time is known from the card history's slot list, which "
        "is not at hand (give --history radio.cfg): the master card below may not be the one the "
        "daemon chose");
  }
  return missing;
}

Json writesJson(const Writes& writes) {
  Json props = Json::array();
  for (const auto& [name, value] : writes.properties) props.push_back({name, value});
  Json files = Json::object();
  for (const auto& [standby, text] : writes.rildFiles) {
    files[rildFileName(standby)] = text;
  }
  return {{"properties", props}, {"rild_files", files}, {"init", writes.init}};
}

}  // namespace

Json explain(const Scene& s, const RadioPlan& plan, const Writes& writes) {
  const ProjectProfile& p = s.profile;
  Json j;
  j["mode"] = s.mode;
  j["sources"] = s.sources;
  j["missing"] = missingJson(s, plan);
  if (!s.integration.described.empty()) j["integration"] = s.integration.described;
  j["assumptions"] = s.assumptions;
  j["profile"] = profileJson(s);
  std::vector<int32_t> caps(s.capability.standbyRatCap,
                            s.capability.standbyRatCap + std::clamp(p.standbyCount, 1, 5));
  j["capability"] = {{"standbys", caps}, {"source", s.capabilitySource}};

  j["cards"] = cardsJson(s, plan);

  j["master"] = {{"code", plan.masterCard},
                 {"words", masterWords(plan.masterCard)},
                 {"written", plan.master.written},
                 {"reason", masterReason(s, plan)}};
  j["actual_table"] = {{"table", classesOf(p.projectTarget) != nullptr
                                     ? Json(tableName("ACTUAL_RAT_CAPABILITY_", p.projectTarget))
                                     : Json(nullptr)},
                       {"row", plan.actual.card[0].index},
                       {"column", plan.actual.card[1].index},
                       {"combination", actualName(plan.actual.code)}};
  Json standbys = Json::array();
  for (int i = 0; i < std::clamp(p.standbyCount, 0, MAX_STANDBY); i++) {
    standbys.push_back(standbyJson(s, plan, i));
  }
  j["standbys"] = standbys;
  j["actual_rat_value"] = plan.actualRatValue;
  j["nvram"] = nvramJson(s, plan, writes);

  j["writes"] = writesJson(writes);
  if (s.isState()) j["observed"] = observedJson(s, plan);
  j["daemon_errors"] = s.daemonLog;
  if (!s.inputs.empty()) j["inputs"] = inputsJson(s);
  if (s.logged) j["report"] = reportJson(s);
  markUnknown(j, unknownDecisions(s, plan));
  addReads(j);
  return j;
}

namespace {

Json kindsJson(const std::string& target) {
  Json kinds = Json::array();
  for (const CardKind& k : cardKinds()) {
    const CardAnswer a = kindAnswer(k.name, 0, target);
    kinds.push_back({{"name", k.name},
                     {"label", k.label},
                     {"type", a.present ? Json(a.type) : Json(nullptr)},
                     {"imsi", a.imsi},
                     {"locked", a.lock == CardAnswer::Lock::kPin}});
  }
  return kinds;
}

// One cell of the matrix: the plan for the scene with these cards in slot 0 and slot 1.
Json cellJson(Scene s, const CardInfo& slot0, const CardInfo& slot1) {
  s.cards[0] = slot0;
  s.cards[1] = s.profile.simCount >= 2 ? slot1 : CARD_INFO_RESET;
  const RadioPlan plan = planOf(s);
  Json standbys = Json::array();
  for (int i = 0; i < std::clamp(s.profile.standbyCount, 0, MAX_STANDBY); i++) {
    standbys.push_back({{"standby", i},
                        {"slot", plan.standbySimSlot[i]},
                        {"actual_rat", plan.standbyActualRat[i]},
                        {"generations", generations(plan.standbyActualRat[i])},
                        {"dstmex", plan.standbyDSTMEX[i]},
                        {"rild", rildJson(s, plan, i)}});
  }
  return {{"master", plan.masterCard},
          {"master_rule", masterReason(s, plan)},
          {"combination", actualName(plan.actual.code)},
          {"actual_rat_value", plan.actualRatValue},
          {"standbys", standbys}};
}

}  // namespace

Json matrix(const Scene& base) {
  const std::string target = targetName(base.profile.projectTarget);
  Json j;
  j["target"] = target;
  j["profile"] = profileJson(base);
  j["assumptions"] = base.assumptions;
  j["kinds"] = kindsJson(target);
  // A phone with one SIM slot has one column: nothing in the slot it lacks.
  const std::vector<CardKind> columns =
      base.profile.simCount >= 2 ? cardKinds()
                                 : std::vector<CardKind>{{"none", "no slot 1 (one SIM slot)"}};
  j["columns"] = Json::array();
  for (const CardKind& k : columns) j["columns"].push_back({{"name", k.name}, {"label", k.label}});
  // Each kind's record once per slot, then every pair.
  std::vector<CardInfo> records[2];
  for (const CardKind& k : cardKinds()) {
    records[0].push_back(queryCard(base, 0, kindAnswer(k.name, 0, target)));
  }
  for (const CardKind& k : columns) {
    records[1].push_back(queryCard(base, 1, kindAnswer(k.name, 1, target)));
  }
  Json rows = Json::array();
  for (size_t r = 0; r < cardKinds().size(); r++) {
    Json row = Json::array();
    for (size_t c = 0; c < columns.size(); c++) {
      Json cell = {{"slot0", cardKinds()[r].name}, {"slot1", columns[c].name}};
      cell.update(cellJson(base, records[0][r], records[1][c]));
      row.push_back(cell);
    }
    rows.push_back(row);
  }
  j["cells"] = rows;
  return j;
}

}  // namespace radioplan
