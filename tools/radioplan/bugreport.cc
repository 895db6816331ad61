// Reading a bug report; see bugreport.h. The zip is read by libzip; the log by the simulator's
// radio-log parser; each logged answer by the daemon's own reader of that answer.
#include "radioplan/bugreport.h"

#include <errno.h>
#include <stdio.h>
#ifdef MODEMPREP_LIBZIP
#include <zip.h>
#endif

#include <memory>
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
constexpr char kMainEntry[] = "main_entry.txt";

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
  *mainName = zipEntry(zip.get(), path, kMainEntry);
  while (!mainName->empty() && isspace(static_cast<unsigned char>(mainName->back()))) {
    mainName->pop_back();
  }
  if (zip_name_locate(zip.get(), mainName->c_str(), 0) < 0) {
    throw BugreportError(path + ": " + kMainEntry + " names \"" + *mainName +
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
    if (!line.empty() && line.back() == '\r') line.pop_back();
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

// ---- The daemon's lines
// -------------------------------------------------------------------------

// One command of the daemon and what the modem sent until the next one.
struct Exchange {
  int standby = -1;
  std::string command;  // without its CR
  std::string answer;   // bytes
  int line = 0;
};

// What an exchange tells of the slot's card or the modem. A query starts with the card-status
// report switched on; the daemon asks the identity, IMSI and type only of a card the report
// showed present.
void readExchange(const Exchange& ex, LoggedStart* out) {
  if (ex.command == "AT^DMCC?") {
    AtResponse response = {};
    copyText(response.text, ex.answer.c_str());
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
    readAnswer(ex.answer, card.answers, readIdAnswer);
  } else if (ex.command == "AT+CIMI") {
    card.imsiAsked = true;
    readAnswer(ex.answer, card.answers, readImsiAnswer);
  } else if (ex.command == "AT^DTOC") {
    card.typeAsked = true;
    readAnswer(ex.answer, card.answers, readTypeAnswer);
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

void readLines(const std::vector<modemsim::LogLine>& lines, int offset, LoggedStart* out) {
  Exchange ex;
  for (const modemsim::LogLine& l : lines) {
    const int line = offset + l.lineNo;
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
  if (!cli::readFile(path, cli::Readable::kRegularOnly, &bytes, &why)) {
    throw BugreportError(path + ": " + why);
  }
  const bool zip = bytes.compare(0, 2, "PK") == 0;
  const std::string text = zip ? mainText(path, bytes, &report.mainName) : bytes;
  report.sections = cutSections(text);
  if (report.sections.empty()) {
    throw BugreportError(path + (zip ? ": " + report.mainName : "") +
                         ": not a bug report's main text (no \"------ TITLE (COMMAND) ------\" "
                         "section line)");
  }
  return report;
}

LoggedStart lastStart(const Bugreport& report) {
  std::string present;
  for (const char* title : kLogSections) {
    const Section* section = report.find(title);
    if (section == nullptr) continue;
    present += (present.empty() ? "" : ", ") + std::string(title);
    std::istringstream in(section->text);
    modemsim::RadioLog log;
    std::string error;
    if (!modemsim::parseRadioLog(in, &log, &error)) continue;
    LoggedStart out;
    out.section = section->title;
    out.sectionLine = section->line;
    out.starts = static_cast<int>(log.boots.size());
    out.start = out.starts;
    out.format = log.format;
    out.printable = log.printable;
    std::vector<modemsim::LogLine> lines = log.lines;
    if (out.starts > 0) modemsim::bootLines(log, 0, &lines, &error);
    const int offset = section->line - 1;
    out.firstLine = offset + lines.front().lineNo;
    out.lastLine = offset + lines.back().lineNo;
    readLines(lines, offset, &out);
    return out;
  }
  throw BugreportError(report.path + ": no line of the daemon" +
                       (present.empty() ? ": no RADIO LOG section (nor a SYSTEM LOG or EVENT LOG)"
                                        : " in its sections " + present));
}

}  // namespace radioplan
