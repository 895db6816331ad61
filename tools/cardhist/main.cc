// cardhist: decodes a card history file copied off a phone (or written by a host run), or writes
// one from JSON.
#include <errno.h>
#include <getopt.h>
#include <stdio.h>
#include <string.h>

#include <exception>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "cardhist/history.h"
#include "cli/files.h"
#include "cli/options.h"

namespace {

constexpr char kTool[] = "cardhist";

const char kUsage[] =
    "Usage: cardhist [--json] FILE\n"
    "  or:  cardhist --encode FILE\n"
    "\n"
    "Decodes a card history file (radio.cfg), or with --encode writes FILE from JSON on stdin\n"
    "(the shape --json prints). The history remembers the card ID per SIM slot at the last run\n"
    "and, in a ring of 20 entries, every card seen: status (present, absent), type (SIM, USIM),\n"
    "home-network class against the project's target operator, IMSI and ID. The readable output\n"
    "names each field in words; --json prints the same decoding as one object for programs:\n"
    "file, bytes, layout_bytes, reserved, slots, next_index, entries (status 0 absent, 1\n"
    "present; type 1 SIM, 2 USIM; locale 1-3 cmcc own, same country, foreign, 4-5 cucc own,\n"
    "other, 6 open; 255 undetermined; imsi, id), damage and leftovers. Text fields hold one code\n"
    "point per byte, up to the field's NUL. A file shorter than 1648 bytes, or with a field that\n"
    "can change a decision out of range, is reported as damaged and still decoded as far as it\n"
    "goes; bytes no decision reads (past the 1648, slots 2 to 4, entries no card can match, the\n"
    "status of entries) are listed as leftovers of a sound file. FILE must be a regular file\n"
    "(copy it off the phone first: a pipe or a device is refused); only its first 1648 bytes\n"
    "are read.\n"
    "Options may come anywhere; \"--\" ends them (for a FILE that starts with '-'); --help,\n"
    "--version.\n"
    "Exit status: 0 a sound file, 1 a damaged file or one that cannot be read or written (one\n"
    "line on standard error names it and the reason), 2 a bad command line.\n";

// Only a regular file, and only as much of it as the daemon reads: a FIFO would hold the tool and
// /dev/zero fill its memory.
int decodeFile(const std::string& path, bool asJson) {
  std::string bytes, error;
  size_t size = 0;
  if (!cli::readFile(path, cli::Readable::kRegularOnly, &bytes, &error, cardhist::kFileBytes,
                     &size)) {
    return cli::fileError(kTool, path, error);
  }
  const cardhist::History h = cardhist::decode({bytes.begin(), bytes.end()}, size);
  const std::string out = asJson ? cardhist::toJson(h, path) : cardhist::toText(h, path);
  fwrite(out.data(), 1, out.size(), stdout);
  // What can be read is shown all the same; the verdict goes where errors go.
  if (h.damage.empty()) return 0;
  fflush(stdout);
  return cli::fileError(kTool, path, cardhist::problem(h));
}

int encodeFile(const std::string& path) {
  const std::string json((std::istreambuf_iterator<char>(std::cin)),
                         std::istreambuf_iterator<char>());
  std::vector<unsigned char> bytes;
  std::string error;
  if (!cardhist::encode(json, &bytes, &error)) {
    fprintf(stderr, "cardhist: JSON on stdin: %s\n", error.c_str());
    return 1;
  }
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || fclose(f) != 0) {
    return cli::fileError(kTool, path, cli::reason(errno));
  }
  return 0;
}

int run(int argc, char** argv) {
  static const option kOptions[] = {{"json", no_argument, nullptr, 'j'},
                                    {"encode", no_argument, nullptr, 'e'},
                                    {"help", no_argument, nullptr, 'h'},
                                    {"version", no_argument, nullptr, 'V'},
                                    {}};
  bool json = false, encode = false;
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, ":h", kOptions, nullptr)) != -1;) {
    if (c == 'h') {
      fputs(kUsage, stdout);
      return 0;
    } else if (c == 'V') {
      return cli::printVersion(kTool);
    } else if (c == 'j') {
      json = true;
    } else if (c == 'e') {
      encode = true;
    } else {
      return cli::usageError(kTool, cli::refusedOption(argv));
    }
  }
  if (optind == argc) return cli::usageError(kTool, "no file given");
  if (argc - optind > 1)
    return cli::usageError(kTool, std::string("one file only: ") + argv[optind + 1]);
  if (json && encode) return cli::usageError(kTool, "--json and --encode exclude each other");
  return encode ? encodeFile(argv[optind]) : decodeFile(argv[optind], json);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    fprintf(stderr, "cardhist: %s\n", e.what());
    return 1;
  }
}
