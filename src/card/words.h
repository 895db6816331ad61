// A card record's values in words, one table per field, for whatever shows a record to a person
// (the card-history decoder, the radio-plan explainer). Nothing of the daemon needs them, so they
// cost it nothing: constant tables and lookups in the header only.
#pragma once

#include <stddef.h>

#include "card/record.h"

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

// A card's home network is classed against the project target whose rule gave it.
struct LocaleWord {
  CardLocale value;
  const char* target;  // "" for the value no rule gives
  const char* words;
};
constexpr LocaleWord kLocale[] = {
    {CardLocale::kCmccHome, "cmcc", "home operator"},
    {CardLocale::kCmccSameCountry, "cmcc", "other domestic operator"},
    {CardLocale::kCmccForeign, "cmcc", "foreign operator"},
    {CardLocale::kCuccHome, "cucc", "home operator"},
    {CardLocale::kCuccOther, "cucc", "other operator"},
    {CardLocale::kOpen, "open", "open market, any operator"},
    {CardLocale::kUnknown, "", "home network undetermined"},
};

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
  for (const LocaleWord& row : kLocale) {
    if (row.value == value) return &row;
  }
  return nullptr;
}

}  // namespace cardwords
