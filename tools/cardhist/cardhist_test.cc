// The end-to-end tests read every history file through this decoder and write their damaged ones
// with its encoder: a slip here would be blamed on the daemon.
#include <string>
#include <vector>

#include "cardhist/history.h"
#include "gtest/gtest.h"

namespace cardhist {
namespace {

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
  EXPECT_EQ(9, h.reserved);
  EXPECT_EQ(7, h.nextIndex);
  EXPECT_EQ("8986A", h.slots[0].bytes);
  EXPECT_EQ("\xff", h.slots[2].bytes);
  EXPECT_FALSE(h.entries[0].used());
  EXPECT_EQ((std::vector<int32_t>{1, 2, 4}),
            (std::vector<int32_t>{h.entries[1].status, h.entries[1].type, h.entries[1].locale}));
  EXPECT_EQ("460001234567890", h.entries[1].imsi.bytes);
  EXPECT_EQ(id40, h.entries[1].id.bytes);
  EXPECT_EQ(std::vector<std::string>{"entry 1: ID not terminated"}, h.damage);
  // The JSON output carries byte 0xff as U+00FF, which encode takes back.
  EXPECT_EQ(file, encoded(toJson(h, "f")));
}

TEST(CardHistory, DamageIsReportedAndTheRestStillDecoded) {
  const std::string card = R"({"status": 1, "type": 2, "locale": 1, "imsi": "46000", "id": "89")";
  const struct {
    const char* name;
    std::string json;
    size_t size;
    std::vector<std::string> damage;
  } cases[] = {
      {"sound", R"({"next_index": 1, "entries": [)" + card + "}]}", kFileBytes, {}},
      {"short",
       R"({"next_index": 1, "entries": [)" + card + "}]}",
       250,
       {"short file: 250 of 1648 bytes; entry 0 and what follows read as zeros"}},
      {"empty",
       "{}",
       0,
       {"short file: 0 of 1648 bytes; the reserved number and what follows read as zeros"}},
      {"long", "{}", 2000, {"long file: 2000 bytes, only the first 1648 are used"}},
      {"ranges",
       R"({"next_index": 20, "entries": [null, {"status": 2, "type": 255, "locale": 0,
          "id": "89"}, {"type": 3, "locale": 7}]})",
       kFileBytes,
       {"next index 20 is not 0 to 19", "entry 1: status 2 is neither 0 nor 1",
        "entry 1: type 255 is neither 1 nor 2", "entry 1: locale 0 is not 1 to 6"}},
  };
  for (const auto& c : cases) {
    std::vector<unsigned char> file = encoded(c.json);
    file.resize(c.size, 0xaa);
    const History h = decode(file);
    EXPECT_EQ(c.damage, h.damage) << c.name;
    EXPECT_EQ(c.size, h.fileBytes) << c.name;
  }
  std::vector<unsigned char> cut = encoded(R"({"entries": [)" + card + "}]}");
  cut.resize(kFileBytes - 1);
  EXPECT_EQ("89", decode(cut).entries[0].id.bytes);
  EXPECT_TRUE(decode(cut).entries[19].missing);
}

TEST(CardHistory, FieldsAreNamedInWords) {
  const struct {
    const char* entry;
    const char* words;  // status, type, locale as the readable output names them
  } cases[] = {
      {R"({"status": 1, "type": 2, "locale": 4, "id": "89"})",
       "present, USIM, cucc target, the operator's own card"},
      {R"({"status": 0, "type": 1, "locale": 3, "id": "89"})",
       "absent, SIM, cmcc target, a foreign card"},
      {R"({"status": 1, "type": 255, "locale": 255, "id": "89"})",
       "present, type undetermined, home network undetermined"},
      {R"({"status": 9, "type": 7, "locale": -1, "id": "89"})",
       "status 9 (out of range), type 7 (out of range), locale -1 (out of range)"},
  };
  for (const auto& c : cases) {
    const History h = decode(encoded(std::string(R"({"entries": [)") + c.entry + "]}"));
    EXPECT_NE(std::string::npos, toText(h, "f").find(std::string("entry  0: ") + c.words + ";"))
        << c.words;
  }
}

TEST(CardHistory, EncodeNamesTheBadKey) {
  for (const char* json : {R"({"entries": [{"type": "2"}]})", R"({"slots": ["\u0100"]})",
                           R"({"reserved": 1.5})", "[]"}) {
    std::vector<unsigned char> file;
    std::string error;
    EXPECT_FALSE(encode(json, &file, &error)) << json;
    EXPECT_FALSE(error.empty()) << json;
  }
}

}  // namespace
}  // namespace cardhist
