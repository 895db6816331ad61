#include "modemsim/radiolog.h"

#include <ctype.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <map>
#include <sstream>

#include "cli/files.h"
#include "platform/platform.h"

namespace modemsim {
namespace {

constexpr int64_t kDayMs = 24LL * 3600 * 1000;
// Days before each month in a leap year: a log spans minutes to days, only differences count.
constexpr int kDaysBefore[12] = {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335};

bool isPriority(char c) { return c != '\0' && strchr("VDIWEFS", c) != nullptr; }

// A reader over one line.
class Cursor {
 public:
  explicit Cursor(const std::string& s) : s_(s) {}
  bool done() const { return i_ >= s_.size(); }
  size_t pos() const { return i_; }
  bool skipSpaces() {
    const size_t from = i_;
    while (i_ < s_.size() && s_[i_] == ' ') ++i_;
    return i_ > from;
  }
  bool literal(const char* text) {
    const size_t n = strlen(text);
    if (s_.compare(i_, n, text) != 0) return false;
    i_ += n;
    return true;
  }
  // Exactly `count` digits (count 0: one to kMostDigits, a value that cannot overflow).
  bool number(int count, int64_t* value) {
    constexpr int kMostDigits = 9;
    const int most = count == 0 ? kMostDigits : count;
    size_t n = 0;
    int64_t v = 0;
    while (i_ + n < s_.size() && isdigit(static_cast<unsigned char>(s_[i_ + n])) &&
           static_cast<int>(n) < most) {
      v = v * 10 + (s_[i_ + n] - '0');
      ++n;
    }
    if (n == 0 || (count != 0 && static_cast<int>(n) != count)) return false;
    i_ += n;
    *value = v;
    return true;
  }
  std::string word() {
    const size_t from = i_;
    while (i_ < s_.size() && s_[i_] != ' ') ++i_;
    return s_.substr(from, i_ - from);
  }
  bool priority(char* letter) {
    if (done() || !isPriority(s_[i_])) return false;
    *letter = s_[i_++];
    return true;
  }
  std::string since(size_t from) const { return s_.substr(from, i_ - from); }
  std::string rest() const { return i_ < s_.size() ? s_.substr(i_) : std::string(); }

 private:
  const std::string& s_;
  size_t i_ = 0;
};

// "[YYYY-]MM-DD HH:MM:SS.mmm" as ms within the year, and as logged.
bool stamp(Cursor& c, LogLine* line) {
  const size_t from = c.pos();
  int64_t a, month, day, h, m, s, frac;
  if (!c.number(0, &a)) return false;
  if (a > 12) {  // a year came first
    if (!c.literal("-") || !c.number(2, &month)) return false;
  } else {
    month = a;
  }
  if (month < 1 || month > 12 || !c.literal("-") || !c.number(2, &day) || !c.literal(" ") ||
      !c.number(2, &h) || !c.literal(":") || !c.number(2, &m) || !c.literal(":") ||
      !c.number(2, &s) || !c.literal(".") || !c.number(3, &frac)) {
    return false;
  }
  line->ms = ((kDaysBefore[month - 1] + day - 1) * 24 + h) * 3600000 + (m * 60 + s) * 1000 + frac;
  line->time = c.since(from);
  return true;
}

struct Parsed {
  LogLine line;
  std::string tag;
};

// "P/tag( pid): message" (brief, and time after its stamp).
bool briefBody(Cursor& c, Parsed* p, const std::string& s) {
  if (!c.priority(&p->line.priority) || !c.literal("/")) return false;
  const size_t open = s.find('(', c.pos());
  const size_t close = s.find("): ", c.pos());
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  p->tag = s.substr(c.pos(), open - c.pos());
  std::string digits = s.substr(open + 1, close - open - 1);
  const size_t first = digits.find_first_not_of(' ');
  if (first == std::string::npos) return false;
  digits = digits.substr(first);
  for (char d : digits) {
    if (!isdigit(static_cast<unsigned char>(d))) return false;
  }
  p->line.pid = atoi(digits.c_str());
  p->line.message = s.substr(close + 3);
  return true;
}

bool parseBrief(const std::string& s, Parsed* p) {
  Cursor c(s);
  return briefBody(c, p, s);
}

bool parseTime(const std::string& s, Parsed* p) {
  Cursor c(s);
  return stamp(c, &p->line) && c.skipSpaces() && briefBody(c, p, s);
}

// "stamp [uid] pid tid P tag: message".
bool parseThreadtime(const std::string& s, Parsed* p) {
  Cursor c(s);
  if (!stamp(c, &p->line) || !c.skipSpaces()) return false;
  std::string words[3];
  int n = 0;
  // Two numbers (pid, tid), or a uid before them, then the priority letter.
  for (; n < 3; ++n) {
    words[n] = c.word();
    if (!c.skipSpaces() || words[n].empty()) return false;
    if (n >= 1 && c.pos() + 1 < s.size() && isPriority(s[c.pos()]) && s[c.pos() + 1] == ' ') break;
  }
  if (n == 3) return false;
  const std::string& pid = words[n - 1];
  const std::string& tid = words[n];
  if (pid.find_first_not_of("0123456789") != std::string::npos ||
      tid.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  if (!c.priority(&p->line.priority) || !c.literal(" ")) return false;
  size_t colon = s.find(": ", c.pos());
  // An empty message may have lost its blank to a tool that trims lines.
  if (colon == std::string::npos && s.back() == ':') colon = s.size() - 1;
  if (colon == std::string::npos) return false;
  const size_t end = colon;
  p->tag = s.substr(c.pos(), end - c.pos());
  while (!p->tag.empty() && p->tag.back() == ' ') p->tag.pop_back();
  p->line.pid = atoi(pid.c_str());
  p->line.message = colon + 2 <= s.size() ? s.substr(colon + 2) : "";
  return true;
}

// "[ stamp [uid] pid: tid P/tag ]", the header of the long format.
bool parseLongHeader(const std::string& s, Parsed* p) {
  if (s.size() < 4 || s.compare(s.size() - 2, 2, " ]") != 0) return false;
  Cursor c(s);
  if (!c.literal("[ ") || !stamp(c, &p->line) || !c.skipSpaces()) return false;
  std::string words[4];
  int n = 0;
  while (n < 4 && !c.done()) {
    words[n++] = c.word();
    c.skipSpaces();
    if (words[n - 1] == "]") break;
  }
  // ... "pid:" "tid" "P/tag" "]"
  if (n < 4 || words[n - 1] != "]") return false;
  const std::string& last = words[n - 2];
  const std::string& pid = words[n - 4];
  if (last.size() < 3 || last[1] != '/' || !isPriority(last[0]) || pid.size() < 2 ||
      pid.back() != ':') {
    return false;
  }
  p->line.priority = last[0];
  p->tag = last.substr(2);
  p->line.pid = atoi(pid.c_str());
  return true;
}

// The escape of logcat's printable form at s[at] (a backslash): its byte and its length, 0 when
// it is none. A byte logcat does not print raw is written "\\", "\a", "\b", "\v", "\f", "\r", "\n",
// in octal ("\ooo", one to three digits) or in hex ("\xHH").
size_t printableEscape(const std::string& s, size_t at, char* byte) {
  static constexpr struct {
    char letter, byte;
  } kNamed[] = {{'\\', '\\'}, {'a', '\a'}, {'b', '\b'}, {'v', '\v'},
                {'f', '\f'},  {'r', '\r'}, {'n', '\n'}, {'t', '\t'}};
  const char c = at + 1 < s.size() ? s[at + 1] : '\0';
  for (const auto& named : kNamed) {
    if (c == named.letter) {
      *byte = named.byte;
      return 2;
    }
  }
  const bool hex = c == 'x';
  const size_t from = at + (hex ? 2 : 1);
  const std::string digits = from < s.size() ? s.substr(from, hex ? 2 : 3) : "";
  const size_t n = strspn(digits.c_str(), hex ? "0123456789abcdefABCDEF" : "01234567");
  if (n == 0) return 0;
  *byte = static_cast<char>(strtol(digits.substr(0, n).c_str(), nullptr, hex ? 16 : 8));
  return from - at + n;
}

std::string unprintable(const std::string& shown) {
  std::string bytes;
  for (size_t i = 0; i < shown.size();) {
    char byte = shown[i];
    const size_t length = byte == '\\' ? printableEscape(shown, i, &byte) : 0;
    bytes += byte;
    i += length == 0 ? 1 : length;
  }
  return bytes;
}

}  // namespace

SectionMark sectionLine(const std::string& line) {
  const std::string edge = "------";
  SectionMark mark;
  if (line.size() < 2 * edge.size() + 3 || line.compare(0, edge.size() + 1, edge + " ") != 0 ||
      line.compare(line.size() - edge.size() - 1, edge.size() + 1, " " + edge) != 0) {
    return mark;
  }
  const std::string inner = line.substr(edge.size() + 1, line.size() - 2 * edge.size() - 2);
  if (inner.find("s was the duration of '") != std::string::npos) {
    mark.kind = SectionMark::kClose;
    return mark;
  }
  mark.kind = SectionMark::kOpen;
  const size_t open = inner.find(" (");
  const bool command = open != std::string::npos && inner.back() == ')';
  mark.title = command ? inner.substr(0, open) : inner;
  mark.command = command ? inner.substr(open + 2, inner.size() - open - 3) : "";
  return mark;
}

namespace {

// Reads a log line by line: what one line leaves for the next (a long-format entry, a printable
// section, the year's wrap) and how many lines each format read.
class LineReader {
 public:
  explicit LineReader(RadioLog* out) : out_(out) {}

  void read(std::string s) {
    ++out_->total;
    if (!s.empty() && s.back() == '\r') s.pop_back();
    Parsed p;
    p.line.lineNo = out_->total;
    if (readSection(s) || readLong(s, &p)) return;
    if (parseThreadtime(s, &p)) {
      keep(p, "threadtime");
    } else if (parseTime(s, &p)) {
      keep(p, "time");
    } else if (parseBrief(s, &p)) {
      keep(p, "brief");
    } else if (s.compare(0, 9, "---------") != 0 && !s.empty()) {
      // logcat's buffer banners and blank lines are part of the format, not damage.
      ++out_->malformed;
    }
  }

  int parsed() const { return parsed_; }

  // The format most lines were in.
  std::string commonestFormat() const {
    std::string name;
    int best = 0;
    for (const auto& [format, count] : formats_) {
      if (count <= best) continue;
      best = count;
      name = format;
    }
    return name;
  }

 private:
  // A bug report's section line: a section logcat printed with "-v printable" escapes bytes.
  bool readSection(const std::string& s) {
    const SectionMark section = sectionLine(s);
    if (section.kind == SectionMark::kNone) return false;
    printable_ = section.kind == SectionMark::kOpen &&
                 section.command.find(" -v printable") != std::string::npos;
    out_->printable |= printable_;
    inLong_ = false;
    return true;
  }

  // A long-format header, or a message line of its entry (until a blank line).
  bool readLong(const std::string& s, Parsed* p) {
    if (parseLongHeader(s, p)) {
      entry_ = *p;
      inLong_ = true;
      return true;
    }
    if (!inLong_) return false;
    if (s.empty()) {
      inLong_ = false;
      return true;
    }
    Parsed line = entry_;
    line.line.lineNo = out_->total;
    line.line.message = s;
    keep(line, "long");
    return true;
  }

  void keep(Parsed& p, const char* format) {
    ++formats_[format];
    ++parsed_;
    if (printable_) p.line.message = unprintable(p.line.message);
    if (p.line.ms >= 0) {
      // A log that runs over the new year starts the count of days again.
      if (lastMs_ >= 0 && p.line.ms + yearOffset_ + 180 * kDayMs < lastMs_)
        yearOffset_ += 366 * kDayMs;
      p.line.ms += yearOffset_;
      lastMs_ = p.line.ms;
    }
    if (p.tag != kLogTag) {
      ++out_->other;
      return;
    }
    out_->lines.push_back(p.line);
  }

  RadioLog* out_;
  std::map<std::string, int> formats_;
  int64_t yearOffset_ = 0, lastMs_ = -1;
  bool inLong_ = false, printable_ = false;
  Parsed entry_;
  int parsed_ = 0;
};

// A start begins with the first of the same process's lines before its "Build time" line (the
// boot marker's lines come first).
void findStarts(RadioLog* log) {
  size_t previous = 0;
  for (size_t i = 0; i < log->lines.size(); ++i) {
    if (!daemonlog::isStartLine(log->lines[i].message)) continue;
    size_t first = i;
    while (first > previous && log->lines[first - 1].pid == log->lines[i].pid) --first;
    log->boots.push_back(first);
    previous = i + 1;
  }
}

}  // namespace

bool parseRadioLog(std::istream& in, RadioLog* out, std::string* error) {
  *out = RadioLog();
  LineReader reader(out);
  std::string s;
  while (std::getline(in, s)) reader.read(s);
  out->format = reader.commonestFormat();
  if (reader.parsed() == 0) {
    *error = "not a radio log in a known format (brief, time, threadtime or long): no line of " +
             std::to_string(out->total) + " is one";
    return false;
  }
  if (out->lines.empty()) {
    *error = "no line of the daemon (tag \"" + std::string(kLogTag) + "\") among " +
             std::to_string(reader.parsed()) + " log lines";
    return false;
  }
  findStarts(out);
  return true;
}

bool readRadioLog(const std::string& path, RadioLog* out, std::string* error) {
  std::string text;
  if (!cli::readFile(path, cli::Readable::kStreams, &text, error)) {
    *error = path + ": " + *error;
    return false;
  }
  std::istringstream in(text);
  if (!parseRadioLog(in, out, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

bool bootLines(const RadioLog& log, int boot, std::vector<LogLine>* out, std::string* error) {
  const int count = static_cast<int>(log.boots.size());
  if (count == 0) {
    *error = "no start of the daemon (no \"Build time\" line): a replay begins at a start";
    return false;
  }
  if (boot < 0 || boot > count) {
    *error = "no start " + std::to_string(boot) + ": the log holds " + std::to_string(count);
    return false;
  }
  const size_t index = boot == 0 ? count - 1 : boot - 1;
  const size_t end = index + 1 < log.boots.size() ? log.boots[index + 1] : log.lines.size();
  out->assign(log.lines.begin() + log.boots[index], log.lines.begin() + end);
  return true;
}

}  // namespace modemsim
