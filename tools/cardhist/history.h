// The card history file ("radio.cfg") read and written through the daemon's own decoder and
// encoder (card/history.h): the one decoder behind cardhist's readable and JSON outputs. What it
// finds wrong is split in two: damage, which can change a decision of the daemon, and leftovers,
// bytes no decision reads (the daemon carries them forward unchanged, as it does every byte).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "card/history.h"

namespace cardhist {

// A fixed text field up to its NUL; each byte is kept as the code point of the same value, so a
// JSON string carries any byte and decodes back to it.
struct Text {
  std::string bytes;
  bool terminated = true;
};

struct Entry {
  int32_t status = 0, type = 0, locale = 0;
  Text imsi, id;
  bool missing = false;  // (partly) beyond the end of the file: read as zeros
  bool used() const { return !id.bytes.empty(); }
};

struct History {
  size_t fileBytes = 0;
  int32_t reserved = 0;
  Text slots[MAX_SIM];
  int32_t nextIndex = 0;
  Entry entries[CARD_HISTORY_ENTRIES];
  // One line per finding that can change a decision: a short file, the next index out of range,
  // a slot's identity or a reachable entry's field the daemon could not have written.
  std::vector<std::string> damage;
  // One line per finding no decision reads: bytes past the layout, slots 2 to 4, entries whose
  // identity can never match a card, the status of entries.
  std::vector<std::string> leftovers;
};

constexpr size_t kFileBytes = sizeof(saved_card_info_st);

// As the daemon reads it: what the file holds, zeros for what it lacks, the rest ignored. file
// may hold only the first kFileBytes of a longer file of fileBytes bytes.
History decode(const std::vector<unsigned char>& file, size_t fileBytes);
inline History decode(const std::vector<unsigned char>& file) { return decode(file, file.size()); }

// Why a decoded file is no usable history, in one phrase: "empty file, not a card history",
// "truncated: ..." or "not a card history: ..." with its first finding; "" for a sound one.
std::string problem(const History& h);

// The file the daemon would write for `json` (the shape toJson prints; absent keys and null
// entries are zeros). False with the offending key in `error`.
bool encode(const std::string& json, std::vector<unsigned char>* file, std::string* error);

std::string toJson(const History& h, const std::string& path);
std::string toText(const History& h, const std::string& path);

}  // namespace cardhist
