// A radio log as a bug report or a logcat dump brings it, to the simulator's parser that the
// replay and radioplan read it with.
//
// Input: the log, byte for byte (any format, other tags, section lines, printable escapes).
#include <sstream>

#include "fuzz_support.h"
#include "modemsim/radiolog.h"

namespace {

// Lines in file order, each counted once; starts in order and inside the daemon's lines.
void checkLog(const modemsim::RadioLog& log) {
  FUZZ_CHECK(log.lines.size() + log.other + log.malformed <= static_cast<size_t>(log.total));
  int previous = 0;
  for (const modemsim::LogLine& line : log.lines) {
    FUZZ_CHECK(line.lineNo > previous && line.lineNo <= log.total);
    previous = line.lineNo;
  }
  for (size_t i = 0; i < log.boots.size(); i++) {
    FUZZ_CHECK(log.boots[i] < log.lines.size());
    if (i > 0) FUZZ_CHECK(log.boots[i] > log.boots[i - 1]);
  }
}

// Each start's lines follow the previous start's without a gap; the last start is start 0.
void checkStarts(const modemsim::RadioLog& log) {
  std::vector<modemsim::LogLine> lines, last;
  std::string error;
  const int starts = static_cast<int>(log.boots.size());
  FUZZ_CHECK(modemsim::bootLines(log, 0, &last, &error) == (starts > 0));
  FUZZ_CHECK(!modemsim::bootLines(log, starts + 1, &lines, &error));
  size_t next = starts > 0 ? log.boots[0] : 0;
  for (int start = 1; start <= starts; start++) {
    FUZZ_CHECK(modemsim::bootLines(log, start, &lines, &error));
    FUZZ_CHECK(!lines.empty() && lines.front().lineNo == log.lines[next].lineNo);
    next += lines.size();
    if (start == starts) FUZZ_CHECK(lines.size() == last.size());
  }
  FUZZ_CHECK(starts == 0 || next == log.lines.size());
}

// A traffic line's bytes shrink or stay when undone; what the daemon would log of them reads
// back to them.
void checkTraffic(const modemsim::RadioLog& log) {
  for (const modemsim::LogLine& line : log.lines) {
    modemsim::Traffic traffic;
    if (!modemsim::parseTraffic(line.message, &traffic)) continue;
    const std::string bytes = modemsim::undisplay(traffic.shown);
    FUZZ_CHECK(bytes.size() <= traffic.shown.size());
    FUZZ_CHECK(modemsim::undisplay(modemsim::display(bytes)) == bytes);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  modemsim::RadioLog log;
  std::string error;
  const bool parsed = modemsim::parseRadioLog(in, &log, &error);
  FUZZ_CHECK(parsed == !log.lines.empty());
  FUZZ_CHECK(parsed || !error.empty());
  checkLog(log);
  if (!parsed) return 0;
  checkStarts(log);
  checkTraffic(log);
  return 0;
}
