// The rild configuration file's keys and text; see rild_file.h.
#include "ril/rild_file.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/text.h"

constexpr RildKey kRildKeys[13] = {
    {"rild.count", offsetof(RildConfig, count), 0},
    {"rild.simSlot", offsetof(RildConfig, simSlot), 0},
    {"rild.cardStatus", offsetof(RildConfig, cardStatus), 0},
    {"rild.cardType", offsetof(RildConfig, cardType), 0},
    {"rild.cardLocale", offsetof(RildConfig, cardLocale), 0},
    {"rild.cardID", offsetof(RildConfig, cardID), CARD_ID_SIZE},
    {"rild.rat", offsetof(RildConfig, rat), 0},
    {"rild.actualRat", offsetof(RildConfig, actualRat), 0},
    {kRildDstmexKey, offsetof(RildConfig, dstmex), DSTMEX_SIZE},
    {"rild.cs", offsetof(RildConfig, cs), 0},
    {"rild.ps", offsetof(RildConfig, ps), 0},
    {"rild.cardStatus.other", offsetof(RildConfig, cardStatusOther), 0},
    {"rild.cardLocale.other", offsetof(RildConfig, cardLocaleOther), 0},
};

namespace {

constexpr char kSeparator[] = " = ";
constexpr size_t kSeparatorLength = sizeof kSeparator - 1;

int32_t& numberOf(RildConfig& config, const RildKey& key) {
  return *reinterpret_cast<int32_t*>(reinterpret_cast<char*>(&config) + key.offset);
}
int32_t numberOf(const RildConfig& config, const RildKey& key) {
  return *reinterpret_cast<const int32_t*>(reinterpret_cast<const char*>(&config) + key.offset);
}
char* textOf(RildConfig& config, const RildKey& key) {
  return reinterpret_cast<char*>(&config) + key.offset;
}
const char* textOf(const RildConfig& config, const RildKey& key) {
  return reinterpret_cast<const char*>(&config) + key.offset;
}

// The card shown as "other" in standby i's file: none for a lone standby 0.
const CardInfo* otherCard(const ProjectProfile& profile, const CardInfo (&cards)[MAX_SIM],
                          int standby) {
  if (standby != 0) return &cards[0];
  return profile.standbyCount >= 2 ? &cards[1] : nullptr;
}

// A whole number that fits an int32_t, nothing around it.
bool parseNumber(const char* text, size_t length, int32_t* out) {
  char digits[16];
  if (length == 0 || length >= sizeof digits) return false;
  memcpy(digits, text, length);
  digits[length] = '\0';
  char* end = nullptr;
  errno = 0;
  long value = strtol(digits, &end, 10);
  if (errno != 0 || *end != '\0' || value < INT32_MIN || value > INT32_MAX) return false;
  *out = static_cast<int32_t>(value);
  return true;
}

const RildKey* keyNamed(const char* name, size_t length) {
  for (const RildKey& key : kRildKeys) {
    if (strlen(key.name) == length && strncmp(key.name, name, length) == 0) return &key;
  }
  return nullptr;
}

}  // namespace

RildConfig rildConfigFor(const ProjectProfile& profile, const CardInfo (&cards)[MAX_SIM],
                         const RadioPlan& plan, int standby) {
  const CardInfo& card = cards[standby];
  const CardInfo* other = otherCard(profile, cards, standby);
  RildConfig config = {};
  config.count = profile.standbyCount;
  config.simSlot = plan.standbySimSlot[standby];
  config.cardStatus = static_cast<int32_t>(card.m_cardStatus);
  config.cardType = static_cast<int32_t>(card.m_cardType);
  config.cardLocale = static_cast<int32_t>(card.m_cardLocale);
  copyText(config.cardID, card.m_cardID, fieldLength(card.m_cardID));
  config.rat = static_cast<int32_t>(plan.standbyRat[standby]);
  config.actualRat = static_cast<int32_t>(plan.standbyActualRat[standby]);
  copyText(config.dstmex, plan.standbyDSTMEX[standby], fieldLength(plan.standbyDSTMEX[standby]));
  config.cs = 1;
  config.ps = 1;
  config.cardStatusOther = other != nullptr && isPresent(*other) ? 1 : 0;
  config.cardLocaleOther =
      static_cast<int32_t>(other != nullptr ? other->m_cardLocale : CardLocale::kUnknown);
  return config;
}

int formatRildConfig(const RildConfig& config, char* out, size_t size) {
  size_t used = 0;
  for (const RildKey& key : kRildKeys) {
    int n = key.textSize == 0
                ? snprintf(out + used, size - used, "%s%s%d\n", key.name, kSeparator,
                           static_cast<int>(numberOf(config, key)))
                : snprintf(out + used, size - used, "%s%s%.*s\n", key.name, kSeparator,
                           static_cast<int>(strnlen(textOf(config, key), key.textSize)),
                           textOf(config, key));
    if (n < 0 || static_cast<size_t>(n) >= size - used) return -1;
    used += static_cast<size_t>(n);
  }
  return static_cast<int>(used);
}

bool parseRildConfig(const char* text, size_t length, RildConfig& config, const char** badKey) {
  config = {};
  bool seen[sizeof kRildKeys / sizeof kRildKeys[0]] = {};
  const char* end = text + length;
  for (const char* line = text; line < end;) {
    const char* lineEnd = static_cast<const char*>(memchr(line, '\n', end - line));
    if (lineEnd == nullptr) lineEnd = end;
    const char* separator = static_cast<const char*>(
        memmem(line, static_cast<size_t>(lineEnd - line), kSeparator, kSeparatorLength));
    const RildKey* key =
        separator == nullptr ? nullptr : keyNamed(line, static_cast<size_t>(separator - line));
    if (key != nullptr) {
      const char* value = separator + kSeparatorLength;
      size_t valueLength = static_cast<size_t>(lineEnd - value);
      size_t index = static_cast<size_t>(key - kRildKeys);
      if (key->textSize != 0) {
        copyText(textOf(config, *key), key->textSize, value, valueLength);
        seen[index] = true;
      } else {
        seen[index] = parseNumber(value, valueLength, &numberOf(config, *key));
      }
    }
    line = lineEnd + 1;
  }
  for (size_t i = 0; i < sizeof seen; i++) {
    if (seen[i]) continue;
    *badKey = kRildKeys[i].name;
    return false;
  }
  return true;
}
