// cardhist FILE: decodes a card history file copied off a phone (or written by a host run).
//
// The bytes are decoded here on their own (little-endian numbers, fixed text fields) rather than
// through the daemon's struct, so a layout mistake in the daemon shows up as a disagreement.
#include <stdint.h>
#include <stdio.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "card/card.h"

namespace {

constexpr size_t kReservedOffset = 0;
constexpr size_t kSlotIDsOffset = 4;
constexpr size_t kNextIndexOffset = kSlotIDsOffset + MAX_SIM * CARD_ID_SIZE;
constexpr size_t kRingOffset = kNextIndexOffset + 4;
constexpr size_t kEntrySize = 12 + CARD_IMSI_SIZE + CARD_ID_SIZE;
constexpr size_t kFileSize = kRingOffset + CARD_HISTORY_ENTRIES * kEntrySize;

// Entry layout: status, type, locale (4 bytes each), then the IMSI and ID fields.
constexpr size_t kStatusAt = 0, kTypeAt = 4, kLocaleAt = 8, kImsiAt = 12, kIdAt = 32;

static_assert(kFileSize == sizeof(saved_card_info_st), "decoder and daemon disagree on the size");

class Reader {
 public:
  explicit Reader(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}
  bool has(size_t offset, size_t size) const { return offset + size <= bytes_.size(); }
  int32_t number(size_t offset) const {
    uint32_t v = 0;
    for (int i = 3; i >= 0; i--) v = (v << 8) | bytes_[offset + i];
    return static_cast<int32_t>(v);
  }
  // Text up to its NUL or the end of its field; bytes other than printable ASCII as \xNN.
  std::string text(size_t offset, size_t size) const {
    std::string out = "\"";
    size_t i = 0;
    for (; i < size && bytes_[offset + i] != 0; i++) {
      unsigned char c = bytes_[offset + i];
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      out += (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') ? std::string(1, c) : hex;
    }
    out += "\"";
    if (i == size) out += " (unterminated)";
    return out;
  }
  bool empty(size_t offset) const { return bytes_[offset] == 0; }

 private:
  const std::vector<unsigned char>& bytes_;
};

void printRing(const Reader& r) {
  int used = 0;
  for (int i = 0; i < CARD_HISTORY_ENTRIES; i++) {
    size_t at = kRingOffset + i * kEntrySize;
    if (!r.has(at, kEntrySize)) {
      printf("entry %d and later: missing\n", i);
      break;
    }
    if (r.empty(at + kIdAt)) continue;
    used++;
    printf("entry %2d: status %d, type %d, locale %d, IMSI %s, ID %s\n", i,
           r.number(at + kStatusAt), r.number(at + kTypeAt), r.number(at + kLocaleAt),
           r.text(at + kImsiAt, CARD_IMSI_SIZE).c_str(), r.text(at + kIdAt, CARD_ID_SIZE).c_str());
  }
  printf("%d of %d entries used\n", used, CARD_HISTORY_ENTRIES);
}

int decode(const std::vector<unsigned char>& bytes) {
  Reader r(bytes);
  if (bytes.size() < kFileSize) {
    printf("short file: %zu of %zu bytes; decoding what is there\n", bytes.size(), kFileSize);
  } else if (bytes.size() > kFileSize) {
    printf("long file: %zu bytes, only the first %zu are used\n", bytes.size(), kFileSize);
  }
  if (!r.has(kReservedOffset, 4)) return 1;
  printf("m_reserved: %d\n", r.number(kReservedOffset));
  for (int slot = 0; slot < MAX_SIM; slot++) {
    size_t at = kSlotIDsOffset + slot * CARD_ID_SIZE;
    if (!r.has(at, CARD_ID_SIZE)) {
      printf("slot %d and later: missing\n", slot);
      return 1;
    }
    printf("slot %d: %s\n", slot, r.text(at, CARD_ID_SIZE).c_str());
  }
  if (!r.has(kNextIndexOffset, 4)) return 1;
  int32_t next = r.number(kNextIndexOffset);
  printf("m_nextIndex: %d%s\n", next,
         next < 0 || next >= CARD_HISTORY_ENTRIES ? " (out of range, reset at next addition)" : "");
  printRing(r);
  return bytes.size() < kFileSize ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: cardhist FILE\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    fprintf(stderr, "cardhist: cannot open %s\n", argv[1]);
    return 2;
  }
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  return decode(bytes);
}
