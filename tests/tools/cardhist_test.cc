// The end-to-end tests read every history file through this decoder and write their damaged ones
// with its encoder: a slip here would be blamed on the daemon.
#include <string>
#include <vector>

#include "cardhist/history.h"
#include "gtest/gtest.h"

namespace cardhist {
namespace {

using Strings = std::vector<std::string>;

std::vector<unsigned char> encoded(const std::string& json) {
  std::vector<unsigned char> file;
  std::string error;
  EXPECT_TRUE(encode(json, &file, &error)) << error;
  return file;
}

TEST(CardHistory, EncodedFieldsDecodeBackByteForByte) {
  const std::string id40(40, '7');
  const auto file = encoded(R"({"reserved": 9, "next_index": 7, "slots": ["8986A", "", "\u00ff"],
      "entries": [null, {"status": 1, "type": 2, "locale": 4, "imsi": "460001234567890",
      "id": ")" + id40 + R"("}]})");
  ASSERT_EQ(kFileBytes, file.size());
  const History h = decode(file);
  const Entry& e = h.entries[1];
  EXPECT_EQ((std::vector<int32_t>{9, 7, 1, 2, 4}),
            (std::vector<int32_t>{h.reserved, h.nextIndex, e.status, e.type, e.locale}));
  EXPECT_EQ((Strings{"8986A", "\xff", "460001234567890", id40}),
            (Strings{h.slots[0].bytes, h.slots[2].bytes, e.imsi.bytes, e.id.bytes}));
  EXPECT_FALSE(h.entries[0].used());
  EXPECT_EQ(Strings{}, h.damage);
  EXPECT_EQ((Strings{"slot 2: not a slot the daemon reads or writes",
                     "entry 1: ID not terminated, so no card can match it"}),
            h.leftovers);
  EXPECT_NE(std::string::npos,
            toText(h, "f").find("entry  1: present, USIM, cucc target: home operator;"));
  // The JSON output carries byte 0xff as U+00FF, which encode takes back.
  EXPECT_EQ(file, encoded(toJson(h, "f")));
}

// Damage can change a decision; leftovers are bytes no decision reads, which the daemon carries
// forward as it found them: a file with leftovers only is sound.
TEST(CardHistory, DamageIsToldFromLeftoversAndTheRestStillDecoded) {
  const std::string card = R"({"status": 1, "type": 2, "locale": 1, "imsi": "46000", "id": "89"})";
  const std::string id40(40, '7'), imsi20(20, '4');
  const struct {
    size_t size;
    std::string json;
    Strings damage, leftovers;
  } cases[] = {
      {250,
       R"({"entries": [)" + card + "]}",
       {"short file: 250 of 1648 bytes; entry 0 and what follows read as zeros"},
       {}},
      {2000, "{}", {}, {"352 bytes past the 1648 of the history, never read"}},
      {kFileBytes,
       R"({"next_index": 20, "slots": [")" + id40 + R"(", "", "", "x"], "entries": [null,
          {"status": 2, "type": 255, "locale": 0, "id": "89"}, {"type": 1, "locale": 7,
          "imsi": ")" +
           imsi20 + R"(", "id": "89"}, {"status": 1, "imsi": "46000"},
          {"type": 9, "locale": 9, "id": ")" +
           id40 + R"("}]})",
       {"slot 0: ID not terminated", "next index 20 is not 0 to 19",
        "entry 1: type 255 is neither 1 nor 2", "entry 1: locale 0 is not 1 to 6",
        "entry 2: locale 7 is not 1 to 6", "entry 2: IMSI not terminated"},
       {"slot 3: not a slot the daemon reads or writes", "entry 1: status 2, never read",
        "entry 2: status 0, never read", "entry 3: no ID, so no card can match it",
        "entry 4: ID not terminated, so no card can match it"}},
  };
  for (const auto& c : cases) {
    std::vector<unsigned char> file = encoded(c.json);
    file.resize(c.size, 0xaa);
    const History h = decode(file);
    EXPECT_EQ(c.damage, h.damage) << c.json << " in " << c.size << " bytes";
    EXPECT_EQ(c.leftovers, h.leftovers) << c.json << " in " << c.size << " bytes";
  }
  const std::string text = toText(decode(encoded(R"({"slots": ["", "", "x"]})")), "f");
  EXPECT_NE(std::string::npos, text.find("sound: no damage found\nleftovers no decision reads, "
                                         "kept as found (1):\n  slot 2: not a slot the daemon "
                                         "reads or writes\n"))
      << text;
  std::vector<unsigned char> cut = encoded(R"({"entries": [)" + card + "]}");
  cut.resize(kFileBytes - 1);
  EXPECT_EQ("89", decode(cut).entries[0].id.bytes);
  EXPECT_TRUE(decode(cut).entries[19].missing);
  std::string error;
  for (const char* bad : {R"({"entries": [{"type": "2"}]})", R"({"slots": ["\u0100"]})", "[]",
                          R"({"x": 1})", R"({"entries": [{"imei": "1"}]})"}) {
    EXPECT_FALSE(encode(bad, &cut, &error)) << bad;
  }
}

}  // namespace
}  // namespace cardhist
