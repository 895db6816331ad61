// A bug report as "adb bugreport" brings it: a zip whose main_entry.txt names the main text, or
// that text itself, cut into the sections dumpstate writes ("------ TITLE (COMMAND) ------" up to
// the next such line); and what the daemon logged in the last start its radio log holds.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "card/record.h"
#include "modem/modem_capability.h"

namespace radioplan {

// A file that is no usable bug report: one line naming it and the reason.
struct BugreportError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Section {
  std::string title;    // "RADIO LOG"
  std::string command;  // "logcat -b radio -v threadtime ..."; empty when the line names none
  int line = 0;         // its section line in the main text, from 1
  // From its section line up to the line that ends it or the next one, in the sections the
  // reader uses (kept): the log sections, where a line that cannot be the daemon's is left empty
  // (every line keeps its number), and SYSTEM PROPERTIES; empty in the others.
  std::string text;
  bool kept = false;
};

// What is read of a report, whatever the zip or file declares: a main text of at most
// kMaxMainTextBytes (as stored, before UTF-16 becomes UTF-8), of which at most kMaxKeptBytes are
// kept; a line longer than kMaxLineBytes is cut to its head.
constexpr uint64_t kMaxMainTextBytes = uint64_t{1} << 30;
constexpr uint64_t kMaxKeptBytes = uint64_t{16} << 20;
constexpr size_t kMaxLineBytes = 64 * 1024;

// Which phone and build, and when: dumpstate's header, else the SYSTEM PROPERTIES section.
struct Identity {
  std::string fingerprint, device, baseband, taken;  // empty: the report does not say
};

struct Bugreport {
  std::string path;
  Identity identity;
  std::string mainName;  // the main text's entry in the zip; empty when the file is the text
  std::vector<Section> sections;
  const Section* find(const std::string& title) const;  // the first of that title
};

// `path` is a zip, its main text, or an unzipped report's folder (main_entry.txt names the text),
// read in one pass with bounded memory (the zip entry streamed, never inflated whole); a UTF-16
// text is read as UTF-8. Throws BugreportError (one line of bounded length) for an unreadable
// file, a damaged zip, an encrypted entry or one of an unknown compression method, a zip or
// folder without a bug report's main text, a text past the limits above, and a text without
// dumpstate's section lines.
Bugreport readBugreport(const std::string& path);

// What the daemon logged of one slot's card.
struct LoggedCard {
  int queryLine = 0;   // the first line of the slot's last query in the log; 0: none is there
  bool whole = false;  // the query's start is in the log (it may have rolled over past it)
  CardInfo answers = CARD_INFO_RESET;  // as the daemon's readers read the logged answers
  bool imsiAsked = false, typeAsked = false;
  bool foundSaved = false;  // the card was in the daemon's history ("Found a saved ...")
  int loggedClass = -1;     // the last class the daemon logged for the slot's card
  int classLine = 0;
};

// A property as the start's lines show it.
struct LoggedProperty {
  std::string value;
  int line = 0;
};

// A line of the log with its time as the log shows it ("12-06 07:20:00.123"; empty in brief).
struct LoggedEvent {
  int line = 0;
  std::string time, what;
};

// One command to the modem and its outcome: the final result code ("OK", "ERROR", "+CME ERROR:
// 10"), "no answer" (a time-out) or "no final result"; the same command sent again at once on the
// same standby counts as a retry of it.
struct LoggedExchange {
  int standby = -1;
  std::string command, result;
  int line = 0, tries = 1;
};

// The daemon's lines of the last start in a bug report's log.
struct LoggedStart {
  std::string section;  // "RADIO LOG", else the log section that holds the daemon's lines
  int sectionLine = 0;
  int start = 0;  // 1-based; 0: the log holds none, it begins after one
  int starts = 0;
  int firstLine = 0, lastLine = 0;  // in the main text, as every line here
  std::string format;               // "threadtime"...
  bool printable = false;
  LoggedCard cards[MAX_SIM];
  bool capabilityLogged = false;  // the modem's "AT^DMCC?" answer
  ModemCapability capability = kInitialModemCapability;
  int capabilityLine = 0;
  int historyAbsentLine = 0;
  std::string time;                   // of the start's first line
  std::vector<LoggedEvent> hotplugs;  // each uevent the monitor took, in order
  std::vector<LoggedExchange> exchanges;
  std::vector<LoggedEvent> errors;  // the daemon's lines at error priority  // the daemon found
                                    // no card history file (it started from none)
  // What the phone held at the start's first read of each property ("" unset), unless the start
  // wrote it before; and the last value the start read or wrote.
  std::map<std::string, LoggedProperty> held, left;
};

// Start `boot` (1-based; 0: the last) in the RADIO LOG section, else in the SYSTEM LOG or EVENT
// LOG sections (a device may log the daemon to its main buffer). Throws BugreportError when none
// of them holds a line of the daemon, or there is no such start.
// previousBoot: start `boot` in the LAST LOGCAT section instead (the previous boot's log,
// "logcat -L"), never in place of this boot's; without it, an error says when only that section
// holds the daemon's lines.
LoggedStart loggedStart(const Bugreport& report, int boot = 0, bool previousBoot = false);

}  // namespace radioplan
