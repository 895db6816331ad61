// The project targets, one row each: the operator a build is made for and everything the daemon
// knows of it but its policy tables (rat/policy.cc): the name "persist.sys.vx.proj.target" gives
// it, the PLMN list that recognises its cards, and the home-network class (CardLocale) each card
// gets under it, with that class in words. The profile reads the lists, the card query classes
// the cards and the tools name the classes, all from these rows. A new target is a row here, a
// code in ProjectTarget, its locale values in CardLocale, its PLMN property (platform/properties.h)
// and list field in ProjectProfile when it has one, and its tables when the policy has them.
#pragma once

#include <stdint.h>

#include "platform/properties.h"
#include "profile/profile.h"

// How a card's IMSI is classed under a target: with the target's PLMN list, the operator's own
// cards, other cards of the same country and foreign ones; without one, every card is `own`.
struct LocaleRule {
  bool classes;  // false: the target has no rule; a locale from the history stays
  CardLocale own, sameCountry, foreign;
  const char *ownWords, *sameCountryWords, *foreignWords;
};

// Where a target's PLMN list comes from and where the profile keeps it.
struct PlmnSource {
  const Property* property;  // nullptr: the target has no PLMN list
  const char* defaultValue;
  PlmnList ProjectProfile::*list;
};
constexpr PlmnSource kNoPlmnList = {nullptr, nullptr, nullptr};

struct ProjectTargetName {
  const char* name;
  uint32_t code;
  PlmnSource plmn;
  LocaleRule locales;
};

constexpr LocaleRule kNoLocaleRule = {
    false, CardLocale::kUnknown, CardLocale::kUnknown, CardLocale::kUnknown, "", "", ""};

// In the order the names are compared and the PLMN lists read, then the closing row {"", 5}.
// clang-format off
constexpr ProjectTargetName projectTargetTable[] = {
    {"open", PROJECT_TARGET_OPEN, kNoPlmnList,
     {true, CardLocale::kOpen, CardLocale::kOpen, CardLocale::kOpen,
      "open market, any operator", "open market, any operator", "open market, any operator"}},
    {"cmcc", PROJECT_TARGET_CMCC,
     {&prop::kCmccPlmnList, "460,00,02,07,08,20", &ProjectProfile::cmccPlmnList},
     {true, CardLocale::kCmccHome, CardLocale::kCmccSameCountry, CardLocale::kCmccForeign,
      "home operator", "other domestic operator", "foreign operator"}},
    {"cucc", PROJECT_TARGET_CUCC,
     {&prop::kCuccPlmnList, "460,01,06,09", &ProjectProfile::cuccPlmnList},
     {true, CardLocale::kCuccHome, CardLocale::kCuccOther, CardLocale::kCuccOther,
      "home operator", "other operator", "other operator"}},
    {"ctc", PROJECT_TARGET_CTC, kNoPlmnList, kNoLocaleRule},
    {"", PROJECT_TARGET_NONE, kNoPlmnList, kNoLocaleRule},
};
// clang-format on

// The row of a target code; the closing row for a code no row has.
constexpr const ProjectTargetName& projectTarget(uint32_t code) {
  const ProjectTargetName* row = projectTargetTable;
  while (row->name[0] != '\0' && row->code != code) row++;
  return *row;
}
