// The daemon's lines out of a radio log as a bug report brings it: logcat's brief, time,
// threadtime or long format (optionally with the year and the uid column), other processes' lines
// and unreadable lines skipped and counted, several starts of the daemon told apart. A log cut
// from a bug report's main text may keep its section line ("------ RADIO LOG (logcat ... -v
// printable ...) ------"): the escapes of logcat's printable form are then undone.
#pragma once

#include <stdint.h>

#include <istream>
#include <string>
#include <vector>

#include "daemonlog/records.h"

namespace modemsim {

struct LogLine {
  int lineNo = 0;    // in the file, from 1
  int64_t ms = -1;   // time of day in ms (days counted within the year); -1: the format has none
  std::string time;  // the stamp as logged ("12-06 07:20:00.123"); empty: the format has none
  int pid = 0;
  char priority = '?';
  std::string message;
};

struct RadioLog {
  std::string format;          // the format most lines were in: "brief", "time", ...
  std::vector<LogLine> lines;  // the daemon's, in file order
  int total = 0;               // lines in the file
  int other = 0;               // log lines of other tags
  int malformed = 0;           // lines in no known format
  bool printable = false;      // lines of a section logcat wrote with "-v printable" were read
  // Index in `lines` of the first line of each start of the daemon.
  std::vector<size_t> boots;
};

// Parses a whole log. False with a reason when no line is in a known format or no line is the
// daemon's.
bool parseRadioLog(std::istream& in, RadioLog* out, std::string* error);
// The same from a file; the reason names the file.
bool readRadioLog(const std::string& path, RadioLog* out, std::string* error);

// The lines of start `boot` (1-based; 0: the last). False with a reason when there is no such
// start.
bool bootLines(const RadioLog& log, int boot, std::vector<LogLine>* out, std::string* error);

// A bug report's section lines: "------ TITLE (COMMAND) ------" opens a section (a logcat
// section's command names its formats; the command may be missing), "------ 1.234s was the
// duration of 'TITLE' ------" closes one.
struct SectionMark {
  enum Kind { kNone, kOpen, kClose } kind = kNone;
  std::string title, command;  // of an opening line
};
SectionMark sectionLine(const std::string& line);

// The traffic lines, read by the one reader of the daemon's lines.
using daemonlog::display;
using daemonlog::parseTraffic;
using daemonlog::Traffic;
using daemonlog::undisplay;

}  // namespace modemsim
