// daemonlog: the daemon's lines of one start as JSON Lines records, for the tools written in
// Python (the replay, the benchmark, the test harness), from a radio log in any logcat format the
// simulator's parser reads or from a bug report through radioplan's reader, so that every tool
// reads the daemon's log through the one reader of tools/daemonlog.
#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>

#include <iostream>
#include <sstream>
#include <string>

#include "cli/options.h"
#include "daemonlog/records.h"
#include "modemsim/radiolog.h"
#include "radioplan/bugreport.h"

namespace {

constexpr char kTool[] = "daemonlog";
constexpr char kUsage[] =
    "Usage: daemonlog [--boot N | --all] LOG\n"
    "  or:  daemonlog [--boot N] [--previous-boot] --bugreport FILE [--save-section OUT]\n"
    "Prints the daemon's lines of one start of a radio log (logcat brief, time, threadtime or\n"
    "long format; - reads stdin) as JSON Lines: first a \"log\" record (format, starts, the\n"
    "section of a bug report), then one record per line with its line number (in a bug report:\n"
    "of its main text, as radioplan cites it), \"ms\" from the start's first line, \"time\" as\n"
    "logged, priority, message, kind and the line's arguments by name.\n"
    "  --boot N              the Nth start of the daemon (default: the last)\n"
    "  --all                 every line of the daemon, whatever start it belongs to\n"
    "  --bugreport FILE      a bug report (adb bugreport's zip, its main text or folder): the\n"
    "                        log section that holds the daemon's lines, as radioplan takes it\n"
    "  --previous-boot       with --bugreport: the start in its LAST LOGCAT section, the\n"
    "                        previous boot's log\n"
    "  --save-section OUT    also write that section's text to OUT (its line 1 is the\n"
    "                        section line)\n"
    "  --help                this text\n"
    "  --version             the version\n"
    "Exit status: 0 printed, 1 an unreadable log or report (named), 2 a bad command line.\n";

enum { kBoot = 1, kAll, kBugreport, kPreviousBoot, kSave, kHelp, kVersion };

struct Options {
  std::string log, bugreport, saveSection;
  int boot = 0;
  bool all = false;
  bool previousBoot = false;  // the start in LAST LOGCAT
};

// The log, its lines to print, the offset of their numbers, and the section they came from.
struct Source {
  modemsim::RadioLog log;
  std::vector<modemsim::LogLine> lines;
  int offset = 0;
  nlohmann::json described = nlohmann::json::object();
};

bool readLog(const Options& o, Source* s, std::string* error) {
  if (o.log != "-") return modemsim::readRadioLog(o.log, &s->log, error);
  std::stringstream text;
  text << std::cin.rdbuf();
  if (modemsim::parseRadioLog(text, &s->log, error)) return true;
  *error = "stdin: " + *error;
  return false;
}

// The section of a bug report radioplan takes the start from, parsed.
bool readReport(const Options& o, Source* s, std::string* error) {
  try {
    const radioplan::Bugreport report = radioplan::readBugreport(o.bugreport);
    const radioplan::LoggedStart start = radioplan::loggedStart(report, o.boot, o.previousBoot);
    for (const radioplan::Section& section : report.sections) {
      if (section.title != start.section || section.line != start.sectionLine) continue;
      std::istringstream in(section.text);
      if (!modemsim::parseRadioLog(in, &s->log, error)) return false;
      s->offset = section.line - 1;
      s->described = {{"section", section.title}, {"section_line", section.line}};
      if (o.previousBoot) s->described["previous_boot"] = true;
      if (!report.mainName.empty()) s->described["main"] = report.mainName;
      if (o.saveSection.empty()) return true;
      FILE* out = fopen(o.saveSection.c_str(), "w");
      const bool written = out != nullptr && fwrite(section.text.data(), 1, section.text.size(),
                                                    out) == section.text.size();
      if ((out == nullptr || fclose(out) != 0 || !written))
        *error = o.saveSection + ": not written";
      return error->empty();
    }
    *error = o.bugreport + ": no section holds the start";
  } catch (const radioplan::BugreportError& e) {
    *error = e.what();
  }
  return false;
}

nlohmann::json logRecord(const Source& s, int boot) {
  nlohmann::json r = {
      {"kind", "log"},        {"format", s.log.format},       {"lines", s.log.total},
      {"other", s.log.other}, {"malformed", s.log.malformed}, {"printable", s.log.printable}};
  nlohmann::json starts = nlohmann::json::array();
  for (size_t b : s.log.boots) starts.push_back(s.offset + s.log.lines[b].lineNo);
  r["starts"] = starts;
  if (!s.log.boots.empty()) r["start"] = boot == 0 ? s.log.boots.size() : static_cast<size_t>(boot);
  r.update(s.described);
  return r;
}

nlohmann::json lineRecord(const modemsim::LogLine& l, int offset, int64_t startMs) {
  nlohmann::json r = {{"line", offset + l.lineNo}};
  if (l.ms >= 0 && startMs >= 0) r["ms"] = l.ms - startMs;
  if (!l.time.empty()) r["time"] = l.time;
  r["priority"] = std::string(1, l.priority);
  r["message"] = l.message;
  r.update(daemonlog::readRecord(l.message));
  return r;
}

void print(const nlohmann::json& record) {
  puts(record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

int run(const Options& o) {
  Source s;
  std::string error;
  const bool read = o.bugreport.empty() ? readLog(o, &s, &error) : readReport(o, &s, &error);
  if (read && !o.all && !modemsim::bootLines(s.log, o.boot, &s.lines, &error)) {
    error = (o.bugreport.empty() ? o.log : o.bugreport) + ": " + error;
  }
  if (o.all) s.lines = s.log.lines;
  if (!error.empty()) {
    fprintf(stderr, "%s: %s\n", kTool, error.c_str());
    return cli::kRuntimeStatus;
  }
  print(logRecord(s, o.boot));
  const int64_t startMs = s.lines.empty() ? -1 : s.lines.front().ms;
  for (const modemsim::LogLine& l : s.lines) print(lineRecord(l, s.offset, startMs));
  return fflush(stdout) == 0 ? 0 : cli::kRuntimeStatus;
}

int parse(int argc, char** argv, Options* o) {
  static const option kOptions[] = {
      {"boot", required_argument, nullptr, kBoot},
      {"all", no_argument, nullptr, kAll},
      {"bugreport", required_argument, nullptr, kBugreport},
      {"previous-boot", no_argument, nullptr, kPreviousBoot},
      {"save-section", required_argument, nullptr, kSave},
      {"help", no_argument, nullptr, kHelp},
      {"version", no_argument, nullptr, kVersion},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, ":", kOptions, nullptr)) != -1;) {
    if (c == kHelp || c == kVersion) return -c;
    if (c == ':') return cli::usageError(kTool, cli::missingValue(argv));
    if (c == '?') return cli::usageError(kTool, cli::refusedOption(argv));
    if (c == kBoot && ((o->boot = atoi(optarg)) < 1 || std::to_string(o->boot) != optarg)) {
      return cli::usageError(kTool, std::string("--boot ") + optarg + ": not a start (1 or more)");
    }
    o->all |= c == kAll;
    o->previousBoot |= c == kPreviousBoot;
    if (c == kBugreport) o->bugreport = optarg;
    if (c == kSave) o->saveSection = optarg;
  }
  if (optind < argc) o->log = argv[optind++];
  if (optind < argc)
    return cli::usageError(kTool, std::string("unexpected argument ") + argv[optind]);
  if (o->log.empty() == o->bugreport.empty()) {
    return cli::usageError(kTool, "give a LOG or --bugreport FILE (one of them)");
  }
  if (o->all && (o->boot != 0 || !o->bugreport.empty())) {
    return cli::usageError(kTool, "--all reads a LOG, without --boot");
  }
  if ((!o->saveSection.empty() || o->previousBoot) && o->bugreport.empty()) {
    return cli::usageError(kTool, "--save-section and --previous-boot need --bugreport");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const int status = parse(argc, argv, &options);
  if (status == -kVersion) return cli::printVersion(kTool);
  if (status == -kHelp) {
    fputs(kUsage, stdout);
    return fflush(stdout) == 0 ? 0 : cli::kRuntimeStatus;
  }
  return status != 0 ? status : run(options);
}
