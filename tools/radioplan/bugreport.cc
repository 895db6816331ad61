// Reading a bug report; see bugreport.h. The zip is read by libzip; the log by the simulator's
// radio-log parser; each logged answer by the daemon's own reader of that answer.
#include "radioplan/bugreport.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>
#ifdef MODEMPREP_LIBZIP
#include <zip.h>
#endif

#include <sys/stat.h>

#include <algorithm>
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
constexpr const char* kPropertySection = "SYSTEM PROPERTIES";
constexpr char kMainEntry[] = "main_entry.txt";
constexpr size_t kMaxName = 255;  // main_entry.txt names one file; longer floods an error line
constexpr size_t kChunk = 64 * 1024;

std::string clip(const std::string& s) {
  return s.size() <= kMaxName ? s : s.substr(0, kMaxName) + "...";
}

std::string mebibytes(uint64_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

bool isLogSection(const std::string& title) {
  for (const char* t : kLogSections) {
    if (title == t) return true;
  }
  return title == kPreviousBootSections[0];
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

// "Build fingerprint: 'X'" -> X, when the line is the label's.
bool headerValue(const std::string& line, const std::string& label, std::string* value) {
  if (line.compare(0, label.size(), label) != 0) return false;
  *value = line.substr(label.size());
  if (value->size() >= 2 && value->front() == '\'' && value->back() == '\'') {
    *value = value->substr(1, value->size() - 2);
  }
  *value = value->substr(0, 200);
  return true;
}

// A main text cut into sections as its bytes arrive, chunk by chunk: a text saved as UTF-16 (a
// byte-order mark, or NULs between ASCII letters) is read as UTF-8 (a lone surrogate becomes
// U+FFFD); lines end in LF, CR LF or CR CR LF. Only the sections the reader uses keep their
// lines, and of a log section only those that may be the daemon's (the others stay as empty
// lines, so every line keeps its number); the bytes kept are bounded.
class TextReader {
 public:
  TextReader(Bugreport* report, std::string where) : report_(report), where_(std::move(where)) {}

  void feed(const char* data, size_t n) {
    read_ += n;
    if (read_ > kMaxMainTextBytes) {
      throw BugreportError(where_ + ": larger than " + mebibytes(kMaxMainTextBytes) +
                           ", the limit of a main text: refused");
    }
    if (encoding_ == kUndecided) {
      pending_.append(data, n);
      if (pending_.size() >= 4) decide();
      return;
    }
    if (encoding_ == kUtf8) return split(data, n);
    pending_.append(data, n);
    utf16(false);
  }

  void finish() {
    if (encoding_ == kUndecided) decide();
    if (encoding_ != kUtf8) utf16(true);
    if (!partial_.empty() || cut_) endLine();
  }

 private:
  enum Encoding { kUndecided, kUtf8, kUtf16Le, kUtf16Be };

  void decide() {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(pending_[i]); };
    const size_t n = pending_.size();
    const bool bomLe = n >= 2 && byte(0) == 0xFF && byte(1) == 0xFE;
    const bool bomBe = n >= 2 && byte(0) == 0xFE && byte(1) == 0xFF;
    const bool bareLe = n >= 4 && byte(0) != 0 && byte(1) == 0 && byte(2) != 0 && byte(3) == 0;
    encoding_ = bomBe ? kUtf16Be : bomLe || bareLe ? kUtf16Le : kUtf8;
    if (bomLe || bomBe) pending_.erase(0, 2);
    if (encoding_ != kUtf8) return utf16(false);
    const std::string bytes = std::move(pending_);
    pending_.clear();
    split(bytes.data(), bytes.size());
  }

  uint32_t unit(size_t i) const {
    const auto byte = [&](size_t k) { return static_cast<uint32_t>(uint8_t(pending_[k])); };
    return encoding_ == kUtf16Be ? (byte(i) << 8 | byte(i + 1)) : (byte(i + 1) << 8 | byte(i));
  }

  // The pending UTF-16 units as UTF-8; a unit or a pair cut by the chunk waits for the next.
  void utf16(bool last) {
    std::string out;
    size_t i = 0;
    for (; i + 1 < pending_.size(); i += 2) {
      uint32_t code = unit(i);
      const bool high = code >= 0xD800 && code < 0xDC00;
      if (high && i + 3 >= pending_.size() && !last) break;
      if (high && i + 3 < pending_.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
        i += 2;
      } else if (code >= 0xD800 && code < 0xE000) {
        code = 0xFFFD;
      }
      appendUtf8(code, &out);
    }
    pending_.erase(0, i);
    split(out.data(), out.size());
  }

  // Lines across chunk boundaries; a line longer than kMaxLineBytes keeps its head.
  void split(const char* data, size_t n) {
    for (size_t at = 0; at < n;) {
      const char* nl = static_cast<const char*>(memchr(data + at, '\n', n - at));
      const size_t end = nl != nullptr ? static_cast<size_t>(nl - data) : n;
      const size_t room = kMaxLineBytes - std::min(kMaxLineBytes, partial_.size());
      partial_.append(data + at, std::min(room, end - at));
      cut_ |= end - at > room;
      if (nl == nullptr) return;
      endLine();
      at = end + 1;
    }
  }

  void endLine() {
    while (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
    line(partial_);
    partial_.clear();
    cut_ = false;
  }

  void line(const std::string& line) {
    number_++;
    const modemsim::SectionMark mark = modemsim::sectionLine(line);
    if (mark.kind == modemsim::SectionMark::kOpen) {
      report_->sections.push_back({mark.title, mark.command, number_, ""});
      Section& s = report_->sections.back();
      s.kept = isLogSection(s.title) || s.title == kPropertySection;
      log_ = isLogSection(s.title);
      open_ = true;
      longEntry_ = false;
      if (s.kept) keep(line);
      return;
    }
    if (mark.kind == modemsim::SectionMark::kClose) open_ = false;
    if (report_->sections.empty()) return headerLine(line);
    if (!open_ || !report_->sections.back().kept) return;
    keep(!log_ || daemonLine(line) ? line : std::string());
  }

  // Whether a log line may be the daemon's: it names the daemon's tag, or it is a line of a
  // long-format entry whose header does.
  bool daemonLine(const std::string& line) {
    const bool tagged = line.find(kLogTag) != std::string::npos;
    if (line.compare(0, 2, "[ ") == 0) {
      longEntry_ = tagged;
    } else if (line.empty()) {
      longEntry_ = false;
    }
    return tagged || longEntry_;
  }

  void keep(const std::string& line) {
    kept_ += line.size() + 1;
    if (kept_ > kMaxKeptBytes) {
      throw BugreportError(where_ + ": its log and property sections hold more than " +
                           mebibytes(kMaxKeptBytes) + ", the limit read of them: refused");
    }
    report_->sections.back().text.append(line).push_back('\n');
  }

  // dumpstate's header, before the first section: when, which build, which modem firmware.
  void headerLine(const std::string& line) {
    Identity& id = report_->identity;
    headerValue(line, "== dumpstate: ", &id.taken) ||
        headerValue(line, "Build fingerprint: ", &id.fingerprint) ||
        headerValue(line, "Radio: ", &id.baseband);
  }

  Bugreport* report_;
  std::string where_;
  Encoding encoding_ = kUndecided;
  std::string pending_, partial_;
  bool cut_ = false, open_ = false, log_ = false, longEntry_ = false;
  uint64_t read_ = 0, kept_ = 0;
  int number_ = 0;
};

// A regular file's bytes, chunk by chunk, into the reader.
void streamFile(const std::string& path, TextReader* reader) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw BugreportError(path + ": " + cli::reason(errno));
  std::unique_ptr<int, void (*)(int*)> closer(new int(fd), [](int* f) {
    close(*f);
    delete f;
  });
  struct stat st;
  if (fstat(fd, &st) != 0) throw BugreportError(path + ": " + cli::reason(errno));
  if (!S_ISREG(st.st_mode)) {
    throw BugreportError(path + ": " +
                         (S_ISDIR(st.st_mode) ? "is a directory" : "not a regular file"));
  }
  if (static_cast<uint64_t>(st.st_size) > kMaxMainTextBytes) {
    throw BugreportError(path + ": " + std::to_string(st.st_size) + " bytes, past " +
                         mebibytes(kMaxMainTextBytes) + ", the limit of a main text: refused");
  }
  char buffer[kChunk];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw BugreportError(path + ": " + cli::reason(errno));
    reader->feed(buffer, static_cast<size_t>(n));
  }
  reader->finish();
}

#ifdef MODEMPREP_LIBZIP

using ZipFile = std::unique_ptr<zip_file_t, int (*)(zip_file_t*)>;

// An entry of an open zip, opened to stream; refused past `limit` bytes declared.
ZipFile openEntry(zip_t* zip, const std::string& path, const std::string& name, uint64_t limit) {
  zip_stat_t entry;
  if (zip_stat(zip, name.c_str(), 0, &entry) == 0 && (entry.valid & ZIP_STAT_SIZE) != 0 &&
      entry.size > limit) {
    throw BugreportError(path + ": " + clip(name) + " declares " + std::to_string(entry.size) +
                         " bytes, past its limit of " + std::to_string(limit) + ": refused");
  }
  ZipFile file(zip_fopen(zip, name.c_str(), 0), zip_fclose);
  if (!file) {
    throw BugreportError(path + ": unreadable zip entry " + clip(name) + " (" +
                         clip(zip_strerror(zip)) + ")");
  }
  return file;
}

// Chunks of an entry to `take` until its end; a read error is a damaged zip.
template <typename Take>
void readEntry(zip_file_t* file, const std::string& path, const std::string& name, Take take) {
  char buffer[kChunk];
  zip_int64_t n;
  while ((n = zip_fread(file, buffer, sizeof buffer)) > 0) take(buffer, static_cast<size_t>(n));
  if (n < 0) {
    throw BugreportError(path + ": damaged zip: " + clip(name) + ": " +
                         clip(zip_file_strerror(file)));
  }
}

// The main text of a zip the way dumpstate makes it: main_entry.txt names it; streamed.
void streamZip(const std::string& path, TextReader* reader, std::string* mainName) {
  int code = 0;
  std::unique_ptr<zip_t, void (*)(zip_t*)> zip(zip_open(path.c_str(), ZIP_RDONLY, &code),
                                               zip_discard);
  if (!zip) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const std::string why = zip_error_strerror(&error);
    zip_error_fini(&error);
    throw BugreportError(path + ": damaged zip (" + clip(why) + ")");
  }
  if (zip_name_locate(zip.get(), kMainEntry, 0) < 0) {
    throw BugreportError(path + ": a zip without " + kMainEntry + ": not a bug report");
  }
  zip_stat_t named;
  if (zip_stat(zip.get(), kMainEntry, 0, &named) == 0 && (named.valid & ZIP_STAT_SIZE) != 0 &&
      named.size > kMaxName) {
    throw BugreportError(path + ": " + kMainEntry + " holds " + std::to_string(named.size) +
                         " bytes, not a file name");
  }
  ZipFile entry = openEntry(zip.get(), path, kMainEntry, kMaxName);
  readEntry(entry.get(), path, kMainEntry, [&](const char* data, size_t n) {
    if (mainName->size() + n > kMaxName) {
      throw BugreportError(path + ": " + kMainEntry + " holds more than " +
                           std::to_string(kMaxName) + " bytes, not a file name");
    }
    mainName->append(data, n);
  });
  while (!mainName->empty() && isspace(static_cast<unsigned char>(mainName->back()))) {
    mainName->pop_back();
  }
  if (zip_name_locate(zip.get(), mainName->c_str(), 0) < 0) {
    throw BugreportError(path + ": " + kMainEntry + " names \"" + clip(*mainName) +
                         "\", which the zip lacks");
  }
  ZipFile text = openEntry(zip.get(), path, *mainName, kMaxMainTextBytes);
  readEntry(text.get(), path, *mainName,
            [&](const char* data, size_t n) { reader->feed(data, n); });
  reader->finish();
}

#else

void streamZip(const std::string& path, TextReader*, std::string*) {
  throw BugreportError(path +
                       ": a zip, and this radioplan was built without libzip: give the "
                       "bug report's main text (unzip it)");
}

#endif

// An unzipped report: the folder's main_entry.txt names its main text.
std::string folderEntry(const std::string& path) {
  std::string bytes, why;
  const std::string entry = path + "/" + kMainEntry;
  if (!cli::readFile(entry, cli::Readable::kRegularOnly, &bytes, &why, kMaxName + 1)) {
    throw BugreportError(path + ": a folder without a readable " + kMainEntry + " (" + why +
                         "): not an unzipped bug report");
  }
  const std::string name = bytes.substr(0, bytes.find_first_of("\r\n"));
  if (name.empty() || name.size() > kMaxName || name.find("..") != std::string::npos) {
    throw BugreportError(entry + ": names no file of the folder");
  }
  return name;
}

bool startsZip(const std::string& path) {
  std::string head, why;
  return cli::readFile(path, cli::Readable::kRegularOnly, &head, &why, 2) && head == "PK";
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

// Where each line of a section's text begins, to read a line by its number without a copy.
class LineIndex {
 public:
  explicit LineIndex(const std::string& text) : text_(text) {
    for (size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
      starts_.push_back(at);
      if (text.find('\n', at) == std::string::npos) break;
    }
  }
  // Line `lineNo` (from 1) without its LF; empty past the end.
  std::string line(int lineNo) const {
    if (lineNo < 1 || lineNo > static_cast<int>(starts_.size())) return "";
    const size_t from = starts_[static_cast<size_t>(lineNo - 1)];
    const size_t end = text_.find('\n', from);
    return text_.substr(from, (end == std::string::npos ? text_.size() : end) - from);
  }

 private:
  const std::string& text_;
  std::vector<size_t> starts_;
};

// The time at the head of a section's line, as logcat wrote it: "MM-DD hh:mm:ss.mmm", after a year
// in the year format; empty in a format without one.
std::string timeOf(const LineIndex& text, int lineNo) {
  const std::string line = text.line(lineNo);
  const size_t dot = line.find('.');
  const bool stamped = dot != std::string::npos && dot >= 14 && dot + 4 <= line.size() &&
                       line[dot - 3] == ':' && line[dot - 12] == '-';
  return stamped ? line.substr(dot - 14, 18) : "";
}

void readLines(const std::vector<modemsim::LogLine>& lines, int offset, const LineIndex& text,
               LoggedStart* out) {
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
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    report.mainName = folderEntry(path);
    const std::string text = path + "/" + report.mainName;
    TextReader reader(&report, text);
    streamFile(text, &reader);
  } else if (startsZip(path)) {
    TextReader reader(&report, path);
    streamZip(path, &reader, &report.mainName);
  } else {
    TextReader reader(&report, path);
    streamFile(path, &reader);
  }
  if (report.sections.empty()) {
    throw BugreportError(path + (report.mainName.empty() ? "" : ": " + clip(report.mainName)) +
                         ": not a bug report's main text (no \"------ TITLE (COMMAND) ------\" "
                         "section line)");
  }
  return report;
}

namespace {

// A section's text read as a stream in place (it may be tens of megabytes).
struct ViewBuffer : std::streambuf {
  explicit ViewBuffer(const std::string& s) {
    char* begin = const_cast<char*>(s.data());  // only read: get area
    setg(begin, begin, begin + s.size());
  }
};

// The start of one log section, or false when the section holds none of the daemon's lines.
bool startIn(const Section& section, int boot, LoggedStart* out, std::string* error) {
  ViewBuffer view(section.text);
  std::istream in(&view);
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
  const LineIndex text(section.text);
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
