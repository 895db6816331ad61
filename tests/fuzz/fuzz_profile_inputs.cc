// The factory file and every property the start-up parses, then the decisions made from them.
//
// Input: lines separated by '\n'. Line 0 holds configuration bytes (missing ones are 0):
//   0: bit 0 the modem's capability is already known (else it is asked on a line that stays
//      silent); bits 1-3 its standby count; bit 4 a factory file exists (line 1)
//   1-5: the modem's RAT mask per standby (signed)
//   6, 7: cards in slots 0 and 1 (status bits 0-1, type bits 2-3, locale bits 4-6)
//   8: bit 0: slot 0's card was the master at the last update, bit 1: slot 1's
// Line 1 is the factory file; lines 2.. the properties of kProperties in order (empty: unset).
#include <sstream>
#include <vector>

#include "fuzz_support.h"
#include "profile/load.h"

namespace {

constexpr const char* kProperties[] = {
    "persist.sys.vx.msms",         "persist.sys.vx.proj.rat",      "persist.sys.vx.proj.target",
    "persist.sys.vx.manual.rat",   "persist.sys.vx.plmn.cmcc",     "persist.sys.vx.plmn.cucc",
    "persist.radio.pref.net.type", "persist.radio.vx.master.card", "persist.radio.default.data",
    "persist.sys.vx.dynamic.rat",  "persist.sys.vx.proj.rat1",
};
constexpr size_t kPropertyCount = sizeof kProperties / sizeof kProperties[0];

uint8_t configByte(const std::string& config, size_t i) {
  return i < config.size() ? static_cast<uint8_t>(config[i]) : 0;
}

void setUpModemAndCards(DaemonState& s, const std::string& config) {
  uint8_t flags = configByte(config, 0);
  ModemCapability& capability = s.link.capability;
  if (flags & 1) capability = {1, 0, 1, {}};
  capability.modemStandbyCount = (flags >> 1) & 7;
  for (int i = 0; i < MAX_STANDBY; i++) {
    capability.standbyRatCap[i] = static_cast<int8_t>(configByte(config, 1 + i));
  }
  for (int slot = 0; slot < 2; slot++) {
    s.cards.cardInfo[slot] =
        fuzz::pickCard(configByte(config, 6 + slot), "460001234567890", fuzz::kCardIDs[slot]);
    if (configByte(config, 8) & (1 << slot)) {
      fixture::setField(s.cards.savedCardInfo.m_slotCardID[slot], fuzz::kCardIDs[slot]);
    }
  }
}

// The published RAT list names only RATs the modem has, with no empty entry.
void checkRatList(const ModemCapability& capability) {
  std::string list = memory::property("ro.sys.vx.proj.rat");
  FUZZ_CHECK(list.size() < PROPERTY_VALUE_SIZE && (list.empty() || list.back() != ','));
  RatMask offered = static_cast<RatMask>(capability.standbyRatCap[0]) |
                    static_cast<RatMask>(capability.standbyRatCap[1]);
  std::istringstream tokens(list);
  for (std::string token; std::getline(tokens, token, ',');) {
    RatMask bit = 0;
    for (const RatName* row = ratNameTable; row->name[0] != '\0'; row++) {
      if (token == row->name) bit = row->bit;
    }
    FUZZ_CHECK((bit & offered) != 0);
  }
}
void checkProfile(const ProjectProfile& p) {
  FUZZ_CHECK(p.simCount <= 5 && p.standbyCount <= 5);
  FUZZ_CHECK(p.projectTarget >= PROJECT_TARGET_OPEN && p.projectTarget <= PROJECT_TARGET_NONE);
  FUZZ_CHECK((p.rat2GMask & ~RAT_GSM) == 0);
  FUZZ_CHECK((p.rat3GMask & ~(RAT_TDSCDMA | RAT_WCDMA)) == 0);
  FUZZ_CHECK((p.rat4GMask & ~(RAT_LTE_TDD | RAT_LTE_FDD)) == 0);
  if (p.manualRatStandby == NO_MANUAL_RAT_STANDBY) {
    FUZZ_CHECK(p.manualRatMask == NO_MANUAL_RAT_MASK);
  } else {
    FUZZ_CHECK(p.manualRatStandby >= 0 && p.manualRatStandby <= p.standbyCount &&
               p.manualRatStandby < MAX_STANDBY);
    FUZZ_CHECK((p.manualRatMask & ~(p.rat2GMask | p.rat3GMask | p.rat4GMask)) == 0);
  }
  for (const PlmnList* list : {&p.cmccPlmnList, &p.cuccPlmnList}) {
    for (const char(&entry)[PLMN_ENTRY_SIZE] : *list) FUZZ_CHECK(strnlen(entry, 4) <= 2);
  }
}

void checkPlan(const RadioPlan& plan) {
  // The stored code is copied in as its first three bytes, whatever they are.
  FUZZ_CHECK(strnlen(plan.masterCard, MASTER_CARD_SIZE) <= 3);
  for (int i = 0; i < MAX_STANDBY; i++) {
    FUZZ_CHECK(plan.standbySimSlot[i] >= -1 && plan.standbySimSlot[i] <= 1);
    FUZZ_CHECK(memchr(plan.standbyDSTMEX[i], '\0', DSTMEX_SIZE) != nullptr);
  }
  if (plan.master.written)
    FUZZ_CHECK(memory::property("persist.radio.vx.master.card") == plan.masterCard);
  FUZZ_CHECK(memory::property("persist.sys.vx.actual.rat") == plan.actualRatValue);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fixture::Daemon d(kInitialProjectProfile);
  DaemonState& s = d.state;
  std::vector<std::string> lines(2 + kPropertyCount);
  std::istringstream input(std::string(reinterpret_cast<const char*>(data), size));
  for (std::string& line : lines) std::getline(input, line);
  const std::string& config = lines[0];
  if (configByte(config, 0) & 0x10)
    fixture::writeFile(memory::path(kFactoryFilePath, true), lines[1]);
  for (size_t i = 0; i < kPropertyCount; i++) {
    if (!lines[2 + i].empty()) memory::setProperty(kProperties[i], lines[2 + i]);
  }
  setUpModemAndCards(s, config);

  RatList ratList;
  loadProjectProfile(s.profile, ratList);
  queryModemCapability(s.link, false);  // nothing to read: an unknown capability is asked in vain
  completeProjectProfile(s.profile, ratList, s.link.capability);
  getManualInfo(s.profile);
  readPlmnLists(s.profile);
  checkProfile(s.profile);
  checkRatList(s.link.capability);

  decideRadioPlan(s);
  checkPlan(s.plan);
  return 0;
}
