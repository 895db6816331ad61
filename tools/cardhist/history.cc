#include "cardhist/history.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "card/words.h"

namespace cardhist {
namespace {

using nlohmann::json;

constexpr size_t kSlotsAt = offsetof(saved_card_info_st, m_slotCardID);
constexpr size_t kNextIndexAt = offsetof(saved_card_info_st, m_nextIndex);
constexpr size_t kRingAt = offsetof(saved_card_info_st, m_history);

Text textOf(const char* field, size_t size) {
  Text t;
  const size_t n = strnlen(field, size);
  t.bytes.assign(field, n);
  t.terminated = n < size;
  return t;
}

// Bytes as code points U+0000..U+00FF in UTF-8, which is what a JSON text must be.
std::string utf8(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xc0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3f));
    }
  }
  return out;
}

// The inverse of utf8(); false for a code point above U+00FF.
bool bytesOf(const std::string& text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      *out += static_cast<char>(c);
    } else if ((c == 0xc2 || c == 0xc3) && i + 1 < text.size()) {
      *out += static_cast<char>(((c & 0x03) << 6) | (text[++i] & 0x3f));
    } else {
      return false;
    }
  }
  return true;
}

// How a person reads a field: printable ASCII as is, other bytes as \xNN.
std::string shown(const Text& t) {
  std::string out = "\"";
  for (unsigned char c : t.bytes) {
    char hex[8];
    snprintf(hex, sizeof hex, "\\x%02x", c);
    out += (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') ? std::string(1, c) : hex;
  }
  return out + (t.terminated ? "\"" : "\" (not terminated)");
}

// The words for a field's value (card/words.h); a value not in its table is out of range.
std::string outOfRange(const char* field, int32_t value) {
  return std::string(field) + " " + std::to_string(value) + " (out of range)";
}

std::string statusWords(int32_t value) {
  const char* words = cardwords::status(static_cast<CardStatus>(value));
  return words != nullptr ? words : outOfRange("status", value);
}

std::string typeWords(int32_t value) {
  const char* words = cardwords::type(static_cast<CardType>(value));
  return words != nullptr ? words : outOfRange("type", value);
}

std::string localeWords(int32_t value) {
  const cardwords::LocaleWord* row = cardwords::locale(static_cast<CardLocale>(value));
  if (row == nullptr) return outOfRange("locale", value);
  return row->target[0] == '\0' ? row->words : std::string(row->target) + " target: " + row->words;
}

// Slots the daemon reads: the master-card choice follows the identities of the first two.
constexpr int kSlotsRead = 2;

// An entry can be found only by an identity a card can have: not empty, and ending inside.
bool reachable(const Entry& e) { return e.used() && e.id.terminated; }

bool allZero(const char* bytes, size_t size) {
  return std::all_of(bytes, bytes + size, [](char c) { return c == '\0'; });
}

constexpr int32_t kSim = static_cast<int32_t>(CardType::kSim);
constexpr int32_t kUsim = static_cast<int32_t>(CardType::kUsim);

// The locales the targets' rules give a card, lowest to highest.
struct LocaleRange {
  int32_t first, last;
};
constexpr LocaleRange localeRange() {
  LocaleRange range = {INT32_MAX, INT32_MIN};
  for (size_t i = 0; i < cardwords::kLocale.count; i++) {
    const CardLocale value = cardwords::kLocale.rows[i].value;
    if (value == CardLocale::kUnknown) continue;
    range.first = std::min(range.first, static_cast<int32_t>(value));
    range.last = std::max(range.last, static_cast<int32_t>(value));
  }
  return range;
}
constexpr LocaleRange kLocales = localeRange();

// What of one ring entry can change a decision (a card found by its identity takes its type,
// IMSI and, under some targets, its locale) and what never will.
void checkEntry(const CardInfo& raw, const Entry& e, int index, History* h) {
  const std::string where = "entry " + std::to_string(index) + ": ";
  if (!reachable(e)) {
    if (!allZero(reinterpret_cast<const char*>(&raw), sizeof raw)) {
      h->leftovers.push_back(where + (e.used() ? "ID not terminated" : "no ID") +
                             ", so no card can match it");
    }
    return;
  }
  // The daemon adds only present cards of a known type and locale, with an IMSI.
  if (e.type != kSim && e.type != kUsim) {
    h->damage.push_back(where + "type " + std::to_string(e.type) + " is neither " +
                        std::to_string(kSim) + " nor " + std::to_string(kUsim));
  }
  if (e.locale < kLocales.first || e.locale > kLocales.last) {
    h->damage.push_back(where + "locale " + std::to_string(e.locale) + " is not " +
                        std::to_string(kLocales.first) + " to " + std::to_string(kLocales.last));
  }
  if (!e.imsi.terminated) h->damage.push_back(where + "IMSI not terminated");
  if (e.status != 1) {
    h->leftovers.push_back(where + "status " + std::to_string(e.status) + ", never read");
  }
}

// The first field the file does not hold completely, for the damage line of a short file.
std::string firstMissing(size_t bytes) {
  if (bytes < kSlotsAt) return "the reserved number";
  if (bytes < kNextIndexAt) return "slot " + std::to_string((bytes - kSlotsAt) / CARD_ID_SIZE);
  if (bytes < kRingAt) return "the next index";
  return "entry " + std::to_string((bytes - kRingAt) / sizeof(CardInfo));
}

template <typename T>
bool getInt(const json& j, const char* key, T* out, std::string* error) {
  if (!j.contains(key)) return true;
  if (!j[key].is_number_integer()) {
    *error = std::string(key) + ": expected an integer";
    return false;
  }
  *out = j[key].get<T>();
  return true;
}

bool getText(const json& j, const char* key, char* field, size_t size, const std::string& where,
             std::string* error) {
  if (!j.contains(key)) return true;
  std::string bytes;
  if (!j[key].is_string() || !bytesOf(j[key].get<std::string>(), &bytes)) {
    *error = where + key + ": expected a string of code points up to U+00FF";
    return false;
  }
  if (bytes.size() > size) {
    *error = where + key + ": longer than " + std::to_string(size) + " bytes";
    return false;
  }
  memcpy(field, bytes.data(), bytes.size());
  return true;
}

// The first key of object j that is not among known, or "".
std::string unknownKey(const json& j, std::initializer_list<const char*> known) {
  for (const auto& item : j.items()) {
    if (std::none_of(known.begin(), known.end(), [&](const char* k) { return item.key() == k; }))
      return item.key();
  }
  return "";
}

}  // namespace

std::string problem(const History& h) {
  if (h.damage.empty()) return "";
  if (h.fileBytes == 0) return "empty file, not a card history";
  if (h.fileBytes < kFileBytes) return "truncated: " + h.damage[0];
  return "not a card history: " + h.damage[0];
}

History decode(const std::vector<unsigned char>& file, size_t fileBytes) {
  const unsigned char none = 0;  // an empty vector may have no data to point at
  const saved_card_info_st st = decodeHistory(file.empty() ? &none : file.data(), file.size());
  History h;
  h.fileBytes = fileBytes;
  h.reserved = st.m_reserved;
  h.nextIndex = st.m_nextIndex;
  if (file.size() < kFileBytes) {
    h.damage.push_back("short file: " + std::to_string(file.size()) + " of " +
                       std::to_string(kFileBytes) + " bytes; " + firstMissing(file.size()) +
                       " and what follows read as zeros");
  } else if (fileBytes > kFileBytes) {
    h.leftovers.push_back(std::to_string(fileBytes - kFileBytes) + " bytes past the " +
                          std::to_string(kFileBytes) + " of the history, never read");
  }
  for (int s = 0; s < MAX_SIM; ++s) {
    h.slots[s] = textOf(st.m_slotCardID[s], CARD_ID_SIZE);
    const std::string where = "slot " + std::to_string(s) + ": ";
    if (s < kSlotsRead && !h.slots[s].terminated) h.damage.push_back(where + "ID not terminated");
    if (s >= kSlotsRead && !allZero(st.m_slotCardID[s], CARD_ID_SIZE)) {
      h.leftovers.push_back(where + "not a slot the daemon reads or writes");
    }
  }
  if (h.nextIndex < 0 || h.nextIndex >= CARD_HISTORY_ENTRIES) {
    h.damage.push_back("next index " + std::to_string(h.nextIndex) + " is not 0 to " +
                       std::to_string(CARD_HISTORY_ENTRIES - 1));
  }
  for (int i = 0; i < CARD_HISTORY_ENTRIES; ++i) {
    const CardInfo& c = st.m_history[i];
    Entry& e = h.entries[i];
    e.status = static_cast<int32_t>(c.m_cardStatus);
    e.type = static_cast<int32_t>(c.m_cardType);
    e.locale = static_cast<int32_t>(c.m_cardLocale);
    e.imsi = textOf(c.m_cardIMSI, CARD_IMSI_SIZE);
    e.id = textOf(c.m_cardID, CARD_ID_SIZE);
    e.missing = file.size() < kRingAt + (i + 1) * sizeof(CardInfo);
    checkEntry(c, e, i, &h);
  }
  return h;
}

namespace {

// The slot list: at most MAX_SIM identities.
bool encodeSlots(const json& slots, saved_card_info_st* st, std::string* error) {
  if (!slots.is_array() || slots.size() > MAX_SIM) {
    *error = "slots: expected at most " + std::to_string(MAX_SIM) + " strings";
    return false;
  }
  for (size_t s = 0; s < slots.size(); ++s) {
    const json one = {{"id", slots[s]}};
    const std::string where = "slots[" + std::to_string(s) + "].";
    if (!getText(one, "id", st->m_slotCardID[s], CARD_ID_SIZE, where, error)) return false;
  }
  return true;
}

// One ring entry; null leaves it zeros.
bool encodeEntry(const json& e, const std::string& where, CardInfo* c, std::string* error) {
  if (e.is_null()) return true;
  if (!e.is_object()) {
    *error = where + ": expected an object or null";
    return false;
  }
  const std::string strayField = unknownKey(e, {"status", "type", "locale", "imsi", "id"});
  if (!strayField.empty()) {
    *error = where + strayField + ": unknown key";
    return false;
  }
  return getInt(e, "status", &c->m_cardStatus, error) && getInt(e, "type", &c->m_cardType, error) &&
         getInt(e, "locale", &c->m_cardLocale, error) &&
         getText(e, "imsi", c->m_cardIMSI, CARD_IMSI_SIZE, where, error) &&
         getText(e, "id", c->m_cardID, CARD_ID_SIZE, where, error);
}

bool encodeEntries(const json& entries, saved_card_info_st* st, std::string* error) {
  if (!entries.is_array() || entries.size() > CARD_HISTORY_ENTRIES) {
    *error = "entries: expected at most " + std::to_string(CARD_HISTORY_ENTRIES) + " entries";
    return false;
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string where = "entries[" + std::to_string(i) + "].";
    if (!encodeEntry(entries[i], where, &st->m_history[i], error)) return false;
  }
  return true;
}

}  // namespace

bool encode(const std::string& text, std::vector<unsigned char>* file, std::string* error) {
  saved_card_info_st st;
  memset(&st, 0, sizeof st);
  const json j = json::parse(text, nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    *error = "not a JSON object";
    return false;
  }
  // What toJson prints besides the fields is taken back; anything else is a mistake.
  const std::string stray =
      unknownKey(j, {"file", "bytes", "layout_bytes", "reserved", "next_index", "slots", "entries",
                     "damage", "leftovers"});
  if (!stray.empty()) {
    *error = "unknown key \"" + stray + "\"";
    return false;
  }
  if (!getInt(j, "reserved", &st.m_reserved, error) ||
      !getInt(j, "next_index", &st.m_nextIndex, error) ||
      (j.contains("slots") && !encodeSlots(j["slots"], &st, error)) ||
      (j.contains("entries") && !encodeEntries(j["entries"], &st, error))) {
    return false;
  }
  unsigned char bytes[kHistoryFileSize];
  encodeHistory(st, bytes);
  file->assign(bytes, bytes + sizeof bytes);
  return true;
}

std::string toJson(const History& h, const std::string& path) {
  json j = {{"file", path},
            {"bytes", h.fileBytes},
            {"layout_bytes", kFileBytes},
            {"reserved", h.reserved},
            {"next_index", h.nextIndex}};
  j["slots"] = json::array();
  for (const Text& s : h.slots) j["slots"].push_back(utf8(s.bytes));
  j["entries"] = json::array();
  for (const Entry& e : h.entries) {
    j["entries"].push_back({{"status", e.status},
                            {"type", e.type},
                            {"locale", e.locale},
                            {"imsi", utf8(e.imsi.bytes)},
                            {"id", utf8(e.id.bytes)}});
  }
  j["damage"] = h.damage;
  j["leftovers"] = h.leftovers;
  return j.dump(1) + "\n";
}

std::string toText(const History& h, const std::string& path) {
  std::string out = path + ": card history, " + std::to_string(h.fileBytes) + " bytes (" +
                    std::to_string(kFileBytes) + " expected)\n";
  out += "reserved word: " + std::to_string(h.reserved) + " (kept as found)\n";
  out += "card ID per SIM slot at the last run:\n";
  for (int s = 0; s < MAX_SIM; ++s) {
    const Text& id = h.slots[s];
    out += "  slot " + std::to_string(s) + ": " + (id.bytes.empty() ? "no card" : shown(id)) + "\n";
  }
  out += "next entry to overwrite: " + std::to_string(h.nextIndex) + "\n";
  int used = 0;
  std::string lines;
  for (int i = 0; i < CARD_HISTORY_ENTRIES; ++i) {
    const Entry& e = h.entries[i];
    if (!e.used()) continue;
    ++used;
    char number[16];
    snprintf(number, sizeof number, "  entry %2d: ", i);
    lines += number + statusWords(e.status) + ", " + typeWords(e.type) + ", " +
             localeWords(e.locale) + "; IMSI " + shown(e.imsi) + ", ID " + shown(e.id) +
             (e.missing ? " (partly beyond the end of the file)" : "") + "\n";
  }
  out += "cards seen: " + std::to_string(used) + " of " + std::to_string(CARD_HISTORY_ENTRIES) +
         " entries used\n" + lines;
  if (h.damage.empty()) {
    out += "sound: no damage found\n";
  } else {
    out += "DAMAGED, " + std::to_string(h.damage.size()) + " finding" +
           (h.damage.size() > 1 ? "s" : "") + " (what can be read is shown above):\n";
    for (const std::string& d : h.damage) out += "  " + d + "\n";
  }
  if (h.leftovers.empty()) return out;
  out +=
      "leftovers no decision reads, kept as found (" + std::to_string(h.leftovers.size()) + "):\n";
  for (const std::string& l : h.leftovers) out += "  " + l + "\n";
  return out;
}

}  // namespace cardhist
