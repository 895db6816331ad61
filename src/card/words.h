// A card record's values in words, one table per field, for whatever shows a record to a person
// (the card-history decoder, the radio-plan explainer). Nothing of the daemon needs them, so they
// cost it nothing: constant tables and lookups in the header only.
#pragma once

#include <stddef.h>

#include "card/record.h"
#include "profile/targets.h"

namespace cardwords {

template <typename Value>
struct Word {
  Value value;
  const char* words;
};

constexpr Word<CardStatus> kStatus[] = {
    {CardStatus::kAbsent, "absent"},
    {CardStatus::kPresent, "present"},
    {CardStatus::kUnknown, "status undetermined"},
};

constexpr Word<CardType> kType[] = {
    {CardType::kSim, "SIM"},
    {CardType::kUsim, "USIM"},
    {CardType::kUnknown, "type undetermined"},
};

// A card's home network is classed against the project target whose rule gave it: the words of
// the project targets' rules, each value once, and the value no rule gives.
struct LocaleWord {
  CardLocale value;
  const char* target;  // "" for the value no rule gives
  const char* words;
};
struct LocaleWords {
  LocaleWord rows[3 * (sizeof projectTargetTable / sizeof projectTargetTable[0]) + 1];
  size_t count;
};
constexpr void addLocaleWord(LocaleWords& table, LocaleWord word) {
  for (size_t i = 0; i < table.count; i++) {
    if (table.rows[i].value == word.value) return;
  }
  table.rows[table.count++] = word;
}
constexpr LocaleWords localeWords() {
  LocaleWords table = {};
  for (const ProjectTargetName& target : projectTargetTable) {
    const LocaleRule& rule = target.locales;
    if (!rule.classes) continue;
    addLocaleWord(table, {rule.own, target.name, rule.ownWords});
    addLocaleWord(table, {rule.sameCountry, target.name, rule.sameCountryWords});
    addLocaleWord(table, {rule.foreign, target.name, rule.foreignWords});
  }
  addLocaleWord(table, {CardLocale::kUnknown, "", "home network undetermined"});
  return table;
}
constexpr LocaleWords kLocale = localeWords();

// nullptr for a value outside the field's table (a damaged history holds any number).
template <typename Value, size_t N>
constexpr const char* wordsOf(const Word<Value> (&table)[N], Value value) {
  for (const Word<Value>& row : table) {
    if (row.value == value) return row.words;
  }
  return nullptr;
}

constexpr const char* status(CardStatus value) { return wordsOf(kStatus, value); }
constexpr const char* type(CardType value) { return wordsOf(kType, value); }
constexpr const LocaleWord* locale(CardLocale value) {
  for (size_t i = 0; i < kLocale.count; i++) {
    if (kLocale.rows[i].value == value) return &kLocale.rows[i];
  }
  return nullptr;
}

}  // namespace cardwords
