// The daemon's own logs, as its golden runs recorded them, read back by the one reader of its log:
// each line's record is the one pinned in tests/daemonlog. A line the daemon writes otherwise than
// the reader expects, or a format of platform/log_lines.h reworded under a recorded log, fails
// here (the golden runs themselves fail when the daemon's lines change). Record again after a
// deliberate change: MODEMPREP_GOLDEN=record build/tests/daemonlog_test
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>

#include "daemonlog/records.h"

namespace {

const std::string kSource = MODEMPREP_SOURCE_DIR;

// What the recording masked or joined (a run of failed looks "(first..last/tries)"), filled in
// as the daemon writes it.
std::string unmasked(std::string message) {
  for (const auto& [mask, text] :
       {std::pair<std::string, std::string>{"<build>", "Dec  6 2026 06:45:00"},
        {"<clock>", "100:250000000 -> 105:0"},
        {"<n>", "7"}}) {
    for (size_t at; (at = message.find(mask)) != std::string::npos;) {
      message.replace(at, mask.size(), text);
    }
  }
  const size_t dots = message.find("..");
  if (message[0] == '(' && dots < message.find('/')) message.erase(1, dots + 1);
  return message;
}

// A recorded log ("P: message" lines) as the reader's records, one a line; a message of no known
// format shown as it is.
std::string recordsOf(const std::string& path) {
  std::ifstream in(path);
  std::string line, out;
  while (std::getline(in, line)) {
    if (line.size() < 3 || line.compare(1, 2, ": ") != 0) continue;
    const std::string message = unmasked(line.substr(3));
    nlohmann::json record = daemonlog::readRecord(message);
    if (record["kind"] == "line") record["message"] = message;
    out += record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  }
  return out;
}

TEST(DaemonLog, GoldenRunsReadBackAsThePinnedRecords) {
  const bool recording =
      getenv("MODEMPREP_GOLDEN") && std::string(getenv("MODEMPREP_GOLDEN")) == "record";
  // Between them: traffic, every kind of property read and write, refused init requests, time-outs,
  // an open failure, a line lost and a node gone, hot-plug messages, the NVRAM swap and the manual
  // RAT's decision lines.
  for (const char* run :
       {"hotplug_nvram_swap", "fault_refused_properties", "fault_silent_imsi",
        "fault_history_is_a_directory", "manual_rat", "fault_line_gone_for_good"}) {
    SCOPED_TRACE(run);
    const std::string got = recordsOf(kSource + "/tests/golden/" + run + "/boot1.log");
    const std::string pinned = kSource + "/tests/daemonlog/" + run + ".records";
    if (recording) std::ofstream(pinned) << got;
    std::stringstream expected;
    expected << std::ifstream(pinned).rdbuf();
    EXPECT_EQ(expected.str(), got);
    EXPECT_NE(std::string::npos, got.find("\"kind\":\"traffic\""));
  }
  // A value holding the brackets and separator of the format is the whole value.
  const nlohmann::json read = daemonlog::readRecord("get property: [persist.x]: [1,[0]: [2]");
  EXPECT_EQ("persist.x", read["name"]);
  EXPECT_EQ("1,[0]: [2", read["value"]);
}

}  // namespace
