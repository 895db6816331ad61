// Reading a bug report; see bugreport.h. The zip is read by libzip; the log by the simulator's
// radio-log parser; each logged answer by the daemon's own reader of that answer.
#include "radioplan/bugreport.h"

#include <errno.h>
#include <stdio.h>
#ifdef MODEMPREP_LIBZIP
#include <zip.h>
#endif

#include <sys/stat.h>

#include <memory>
#include <optional>
#include <sstream>

#include "card/classify.h"
#include "cli/files.h"
#include "daemonlog/records.h"
#include "modem/commands.h"
#include "modemsim/radiolog.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "radioplan/state.h"

namespace radioplan {
namespace {

// The sections that may hold the daemon's lines, in the order they are looked at.
constexpr const char* kLogSections[] = {"RADIO LOG", "SYSTEM LOG", "EVENT LOG"};
constexpr const char* kPreviousBootSections[] = {"LAST LOGCAT"};
constexpr char kMainEntry[] = "main_entry.txt";
constexpr size_t kMaxName = 255;  // main_entry.txt names one file; longer floods an error line

#ifdef MODEMPREP_LIBZIP

// One entry of an open zip, whole; throws naming the entry.
std::string zipEntry(zip_t* zip, const std::string& path, const std::string& name) {
  std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> file(zip_fopen(zip, name.c_str(), 0),
                                                         zip_fclose);
  if (!file) throw BugreportError(path + ": " + name + ": " + zip_strerror(zip));
  std::string bytes;
  char buffer[65536];
  zip_int64_t n;
  while ((n = zip_fread(file.get(), buffer, sizeof buffer)) > 0) {
    bytes.append(buffer, static_cast<size_t>(n));
  }
  if (n < 0) {
    throw BugreportError(path + ": damaged zip: " + name + ": " + zip_file_strerror(file.get()));
  }
  return bytes;
}

// The main text of a zip the way dumpstate makes it: main_entry.txt names it.
std::string mainText(const std::string& path, const std::string& bytes, std::string* mainName) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
  zip_t* opened = source != nullptr ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
  if (opened == nullptr) {
    const std::string why = zip_error_strerror(&error);
    zip_error_fini(&error);
    if (source != nullptr) zip_source_free(source);
    throw BugreportError(path + ": damaged zip (" + why + ")");
  }
  std::unique_ptr<zip_t, void (*)(zip_t*)> zip(opened, zip_discard);
  if (zip_name_locate(zip.get(), kMainEntry, 0) < 0) {
    throw BugreportError(path + ": a zip without " + kMainEntry + ": not a bug report");
  }
  zip_stat_t entry;
  if (zip_stat(zip.get(), kMainEntry, 0, &entry) == 0 && (entry.valid & ZIP_STAT_SIZE) != 0 &&
      entry.size > kMaxName) {
    throw BugreportError(path + ": " + kMainEntry + " holds " + std::to_string(entry.size) +
                         " bytes, not a file name");
  }
  *mainName = zipEntry(zip.get(), path, kMainEntry);
  while (!mainName->empty() && isspace(static_cast<unsigned char>(mainName->back()))) {
    mainName->pop_back();
  }
  if (zip_name_locate(zip.get(), mainName->c_str(), 0) < 0) {
    throw BugreportError(path + ": " + kMainEntry + " names \"" + mainName->substr(0, kMaxName) +
                         "\", which the zip lacks");
  }
  return zipEntry(zip.get(), path, *mainName);
}

#else

std::string mainText(const std::string& path, const std::string&, std::string*) {
  throw BugreportError(path +
                       ": a zip, and this radioplan was built without libzip: give the "
                       "bug report's main text (unzip it)");
}

#endif

std::vector<Section> cutSections(const std::string& text) {
  std::vector<Section> sections;
  bool open = false;
  std::istringstream in(text);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    number++;
    // CR LF and CR CR LF line ends alike.
    while (!line.empty() && line.back() == '\r') line.pop_back();
    const modemsim::SectionMark mark = modemsim::sectionLine(line);
    if (mark.kind == modemsim::SectionMark::kOpen) {
      sections.push_back({mark.title, mark.command, number, ""});
      open = true;
    } else if (mark.kind == modemsim::SectionMark::kClose) {
      open = false;
    }
    if (open) sections.back().text += line + "\n";
  }
  return sections;
}

void appendUtf8(uint32_t code, std::string* out) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | (code >> 6));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | (code >> 12));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (code >> 18));
    *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// A text saved as UTF-16 (a byte-order mark, or NULs between ASCII letters) as UTF-8; others as
// they are. A lone surrogate becomes U+FFFD.
std::string asUtf8(const std::string& bytes) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const bool bomLe = bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE;
  const bool bomBe = bytes.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF;
  const bool bareLe =
      bytes.size() >= 4 && byte(0) != 0 && byte(1) == 0 && byte(2) != 0 && byte(3) == 0;
  if (!bomLe && !bomBe && !bareLe) return bytes;
  const bool big = bomBe;
  std::string out;
  auto unit = [&](size_t i) -> uint32_t {
    return big ? (byte(i) << 8 | byte(i + 1)) : (byte(i + 1) << 8 | byte(i));
  };
  for (size_t i = bomLe || bomBe ? 2 : 0; i + 1 < bytes.size(); i += 2) {
    uint32_t code = unit(i);
    if (code >= 0xD800 && code < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 &&
        unit(i + 2) < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (code >= 0xD800 && code < 0xE000) {
      code = 0xFFFD;
    }
    appendUtf8(code, &out);
  }
  return out;
}

// "Build fingerprint: 'X'" -> X: a header line's value after its label.
std::string headerValue(const std::string& text, size_t end, const std::string& label) {
  const size_t at = text.find("\n" + label);
  if (at == std::string::npos || at > end) return "";
  const size_t from = at + 1 + label.size();
  std::string value = text.substr(from, text.find('\n', from) - from);
  while (!value.empty() && value.back() == '\r') value.pop_back();
  if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') {
    value = value.substr(1, value.size() - 2);
  }
  return value.substr(0, 200);
}

// dumpstate's header, before the first section: when, which build, which modem firmware.
Identity headerIdentity(const std::string& text) {
  const size_t end = std::min(text.find("\n------ "), text.size());
  Identity id;
  id.taken = headerValue(text, end, "== dumpstate: ");
  id.fingerprint = headerValue(text, end, "Build fingerprint: ");
  id.baseband = headerValue(text, end, "Radio: ");
  return id;
}

// An unzipped report: the folder's main_entry.txt names its main text.
std::string folderText(const std::string& path, std::string* mainName) {
  std::string bytes, why;
  const std::string entry = path + "/" + kMainEntry;
  if (!cli::readFile(entry, cli::Readable::kRegularOnly, &bytes, &why)) {
    throw BugreportError(path + ": a folder without a readable " + kMainEntry + " (" + why +
                         "): not an unzipped bug report");
  }
  *mainName = bytes.substr(0, bytes.find_first_of("\r\n"));
  if (mainName->empty() || mainName->size() > kMaxName ||
      mainName->find("..") != std::string::npos) {
    throw BugreportError(entry + ": names no file of the folder");
  }
  if (!cli::readFile(path + "/" + *mainName, cli::Readable::kRegularOnly, &bytes, &why)) {
    throw BugreportError(path + "/" + *mainName + ": " + why);
  }
  return bytes;
}

// One command of the daemon and what the modem sent until the next one.
struct Exchange {
  int standby = -1;
  std::string command;  // without its CR
  std::string answer;   // bytes
  int line = 0;
};

// The final result code of an answer: its last line that is one.
std::string finalResult(const std::string& answer) {
  if (answer.find_first_not_of("\r\n") == std::string::npos) return "no answer";
  std::string result = "no final result";
  std::istringstream in(answer);
  for (std::string line; std::getline(in, line);) {
    while (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "OK" || line == "ERROR" || line.rfind("+CME ERROR", 0) == 0 ||
        line.rfind("+CMS ERROR", 0) == 0) {
      result = line.substr(0, 40);
    }
  }
  return result;
}

void summarise(const Exchange& ex, LoggedStart* out) {
  if (ex.line == 0) return;
  const std::string result = finalResult(ex.answer);
  if (!out->exchanges.empty()) {
    LoggedExchange& last = out->exchanges.back();
    if (last.standby == ex.standby && last.command == ex.command && last.result != "OK") {
      last.tries++;
      last.result = result;
      return;
    }
  }
  out->exchanges.push_back({ex.standby, ex.command.substr(0, 60), result, ex.line, 1});
}

// What an exchange tells of the slot's card or the modem. A query starts with the card-status
// report switched on; the daemon asks the identity, IMSI and type only of a card the report
// showed present.
void readExchange(const Exchange& ex, LoggedStart* out) {
  summarise(ex, out);
  if (ex.command == "AT^DMCC?") {
    const AtAnswer response =
        readAnswerText(modemCommand(ModemCommand::kCapability), ex.answer.c_str());
    ModemCapability capability = kInitialModemCapability;
    if (parseCapability(response, capability)) {
      out->capabilityLogged = true;
      out->capability = capability;
      out->capabilityLine = ex.line;
    }
    return;
  }
  if (ex.standby < 0 || ex.standby >= MAX_SIM) return;
  LoggedCard& card = out->cards[ex.standby];
  if (ex.command == "AT^DUSIMR=1") {  // a new query: only the class logged before it stays
    LoggedCard fresh;
    fresh.loggedClass = card.loggedClass;
    fresh.classLine = card.classLine;
    card = fresh;
    card.whole = true;
  }
  const bool asks = ex.command == "AT^DCID" || ex.command == "AT+CIMI" || ex.command == "AT^DTOC";
  if (card.queryLine == 0 && (card.whole || asks)) card.queryLine = ex.line;
  if (asks) card.answers.m_cardStatus = CardStatus::kPresent;
  if (ex.command == "AT^DCID") {
    readAnswer(ex.answer, card.answers, CardCommand::kId);
  } else if (ex.command == "AT+CIMI") {
    card.imsiAsked = true;
    readAnswer(ex.answer, card.answers, CardCommand::kImsi);
  } else if (ex.command == "AT^DTOC") {
    card.typeAsked = true;
    readAnswer(ex.answer, card.answers, CardCommand::kType);
  }
}

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A property read or write of the start: what the phone held before the start touched it, and
// what the start left.
void readProperty(const daemonlog::PropertyRecord& p, int line, LoggedStart* out) {
  if (p.kind == daemonlog::PropertyRecord::kWriteFailed) return;
  if (p.isRead() && out->left.count(p.name) == 0)
    out->held.emplace(p.name, LoggedProperty{p.held(), line});
  out->left[p.name] = {p.isRead() ? p.held() : p.value, line};
}

// The time at the head of a section's line, as logcat wrote it: "MM-DD hh:mm:ss.mmm", after a year
// in the year format; empty in a format without one.
std::string timeOf(const std::vector<std::string>& text, int lineNo) {
  if (lineNo < 1 || lineNo > static_cast<int>(text.size())) return "";
  const std::string& line = text[static_cast<size_t>(lineNo - 1)];
  const size_t dot = line.find('.');
  const bool stamped = dot != std::string::npos && dot >= 14 && dot + 4 <= line.size() &&
                       line[dot - 3] == ':' && line[dot - 12] == '-';
  return stamped ? line.substr(dot - 14, 18) : "";
}

void readLines(const std::vector<modemsim::LogLine>& lines, int offset,
               const std::vector<std::string>& text, LoggedStart* out) {
  Exchange ex;
  std::string event;
  out->time = timeOf(text, lines.front().lineNo);
  for (const modemsim::LogLine& l : lines) {
    const int line = offset + l.lineNo;
    if (l.priority == 'E' || l.priority == 'F') {
      out->errors.push_back({line, timeOf(text, l.lineNo), l.message.substr(0, 200)});
    }
    modemsim::Traffic t;
    daemonlog::PropertyRecord property;
    daemonlog::ClassRecord cls;
    daemonlog::OpenFailure failed;
    if (modemsim::parseTraffic(l.message, &t)) {
      if (!t.sent) {
        if (t.standby == ex.standby) ex.answer += modemsim::undisplay(t.shown);
        continue;
      }
      readExchange(ex, out);
      ex = {t.standby, modemsim::undisplay(t.shown), "", line};
      if (!ex.command.empty() && ex.command.back() == '\r') ex.command.pop_back();
    } else if (daemonlog::isSavedCardLine(l.message)) {
      if (ex.standby >= 0 && ex.standby < MAX_SIM) out->cards[ex.standby].foundSaved = true;
    } else if (daemonlog::parseOpenFailure(l.message, &failed) && failed.error == ENOENT &&
               endsWith(failed.path, kCardHistoryPath)) {
      out->historyAbsentLine = line;
    } else if (daemonlog::parseHotplug(l.message, &event)) {
      out->hotplugs.push_back({line, timeOf(text, l.lineNo), event});
    } else if (daemonlog::parseProperty(l.message, &property)) {
      readProperty(property, line, out);
    } else if (daemonlog::parseClass(l.message, &cls) && !cls.actualTable && cls.slot >= 0 &&
               cls.slot < MAX_SIM) {
      out->cards[cls.slot].loggedClass = cls.index;
      out->cards[cls.slot].classLine = line;
    }
  }
  readExchange(ex, out);
}

}  // namespace

const Section* Bugreport::find(const std::string& title) const {
  for (const Section& s : sections) {
    if (s.title == title) return &s;
  }
  return nullptr;
}

Bugreport readBugreport(const std::string& path) {
  Bugreport report;
  report.path = path;
  std::string bytes, why;
  struct stat st;
  const bool folder = stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  if (folder) {
    bytes = folderText(path, &report.mainName);
  } else if (!cli::readFile(path, cli::Readable::kRegularOnly, &bytes, &why)) {
    throw BugreportError(path + ": " + why);
  }
  const bool zip = !folder && bytes.compare(0, 2, "PK") == 0;
  const std::string text = asUtf8(zip ? mainText(path, bytes, &report.mainName) : bytes);
  report.sections = cutSections(text);
  report.identity = headerIdentity(text);
  if (report.sections.empty()) {
    throw BugreportError(path + (report.mainName.empty() ? "" : ": " + report.mainName) +
                         ": not a bug report's main text (no \"------ TITLE (COMMAND) ------\" "
                         "section line)");
  }
  return report;
}

namespace {

// The start of one log section, or false when the section holds none of the daemon's lines.
bool startIn(const Section& section, int boot, LoggedStart* out, std::string* error) {
  std::istringstream in(section.text);
  modemsim::RadioLog log;
  if (!modemsim::parseRadioLog(in, &log, error)) return false;
  out->section = section.title;
  out->sectionLine = section.line;
  out->starts = static_cast<int>(log.boots.size());
  out->format = log.format;
  out->printable = log.printable;
  std::vector<modemsim::LogLine> lines = log.lines;
  if (out->starts > 0 && !modemsim::bootLines(log, boot, &lines, error)) {
    throw BugreportError("--boot " + std::to_string(boot) + ": " + *error + " in its " +
                         section.title + " section");
  }
  out->start = out->starts == 0 ? 0 : boot == 0 ? out->starts : boot;
  const int offset = section.line - 1;
  out->firstLine = offset + lines.front().lineNo;
  out->lastLine = offset + lines.back().lineNo;
  std::vector<std::string> text;
  std::istringstream rows(section.text);
  for (std::string row; std::getline(rows, row);) text.push_back(row);
  readLines(lines, offset, text, out);
  return true;
}

}  // namespace

namespace {

// Start `boot` in the last section of one of the titles, in their order, that holds the daemon's
// lines; *present: the titles the report has.
std::optional<LoggedStart> startInSections(const Bugreport& report, int boot,
                                           const std::vector<const char*>& titles,
                                           std::string* present) {
  for (const char* title : titles) {
    // Every section of the title, the last that holds the daemon's lines (a report of Android 11
    // and later ends with a second SYSTEM LOG).
    std::optional<LoggedStart> found;
    for (const Section& section : report.sections) {
      if (section.title != title) continue;
      if (present->find(title) == std::string::npos) {
        *present += (present->empty() ? "" : ", ") + std::string(title);
      }
      LoggedStart out;
      std::string error;
      try {
        if (startIn(section, boot, &out, &error)) found = out;
      } catch (const BugreportError& e) {
        throw BugreportError(report.path + ": " + e.what());
      }
    }
    if (found) return found;
  }
  return std::nullopt;
}

}  // namespace

LoggedStart loggedStart(const Bugreport& report, int boot, bool previousBoot) {
  const std::vector<const char*> previous(std::begin(kPreviousBootSections),
                                          std::end(kPreviousBootSections));
  std::string present, lastPresent;
  if (previousBoot) {
    const std::optional<LoggedStart> found = startInSections(report, boot, previous, &present);
    if (found) return *found;
    throw BugreportError(report.path +
                         ": no line of the daemon in a LAST LOGCAT section (the "
                         "previous boot's log)" +
                         (present.empty() ? ": the report has none" : ""));
  }
  const std::vector<const char*> titles(std::begin(kLogSections), std::end(kLogSections));
  const std::optional<LoggedStart> found = startInSections(report, boot, titles, &present);
  if (found) return *found;
  const bool earlier = startInSections(report, 0, previous, &lastPresent).has_value();
  throw BugreportError(
      report.path + ": no line of the daemon" +
      (present.empty() ? ": no RADIO LOG section (nor a SYSTEM LOG or EVENT LOG)"
                       : " in its sections " + present) +
      (earlier ? "; its LAST LOGCAT section (the previous boot) holds some: --previous-boot" : ""));
}

}  // namespace radioplan
