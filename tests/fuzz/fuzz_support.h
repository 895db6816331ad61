// Shared pieces of the fuzz targets: the check that reports a finding, an input reader, and
// card values picked by a selector. The daemon's state, its scripted modem, card values and
// files come from the unit tests' fixture.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "daemon_fixture.h"

// A broken invariant is a finding: say which, then stop the way the sanitizers do.
#define FUZZ_CHECK(condition)                                                              \
  do {                                                                                     \
    if (!(condition)) {                                                                    \
      fprintf(stderr, "FUZZ_CHECK failed: %s at %s:%d\n", #condition, __FILE__, __LINE__); \
      __builtin_trap();                                                                    \
    }                                                                                      \
  } while (0)

namespace fuzz {

// Takes the input front to back; past its end every read gives zeros or nothing.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  // Up to n bytes (fewer at the end).
  std::string bytes(size_t n) {
    size_t take = n < size_ - pos_ ? n : size_ - pos_;
    pos_ += take;
    return std::string(reinterpret_cast<const char*>(data_ + pos_ - take), take);
  }
  std::string rest() { return bytes(size_ - pos_); }
  bool done() const { return pos_ >= size_; }

 private:
  const uint8_t* data_;
  size_t size_, pos_ = 0;
};

template <size_t N>
bool terminated(const char (&field)[N]) {
  return memchr(field, '\0', N) != nullptr;
}

// A card record as the daemon can hold one: fields from a selector byte (status bits 0-1, type
// bits 2-3, locale bits 4-6).
inline CardInfo pickCard(uint8_t selector, const std::string& imsi, const std::string& id) {
  constexpr CardStatus kStatuses[] = {CardStatus::kAbsent, CardStatus::kPresent,
                                      CardStatus::kPresent, CardStatus::kUnknown};
  constexpr CardType kTypes[] = {CardType::kUsim, CardType::kSim, CardType::kUnknown,
                                 CardType::kUsim};
  constexpr int32_t kLocales[] = {1, 2, 3, 4, 5, 6, 255, 1};
  CardInfo card = fixture::card(kTypes[(selector >> 2) & 3],
                                static_cast<CardLocale>(kLocales[(selector >> 4) & 7]), imsi, id);
  card.m_cardStatus = kStatuses[selector & 3];
  return card;
}

constexpr const char* kCardIDs[] = {"89860012345678901234", "89860198765432109876"};
constexpr uint32_t kTargets[] = {PROJECT_TARGET_CMCC, PROJECT_TARGET_CUCC, PROJECT_TARGET_OPEN,
                                 PROJECT_TARGET_CTC};

}  // namespace fuzz
