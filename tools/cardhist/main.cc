// cardhist: decodes a card history file copied off a phone (or written by a host run), or writes
// one from JSON.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <exception>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "cardhist/history.h"

namespace {

const char kUsage[] =
    "usage: cardhist [--json] FILE    decode a card history file (radio.cfg)\n"
    "       cardhist --encode FILE    write FILE from JSON on stdin (the shape --json prints)\n"
    "\n"
    "The readable output names every field; --json prints the same decoding as one object:\n"
    "bytes, layout_bytes, reserved, slots, next_index, entries (status, type, locale, imsi, id)\n"
    "and damage. Text fields hold one code point per byte, up to the field's NUL.\n"
    "Exit status: 0 a sound file, 1 a damaged file (reported, decoded as far as it goes) or one\n"
    "that cannot be read or written, 2 a bad command line.\n";

int usageError(const std::string& why) {
  fprintf(stderr, "cardhist: %s (cardhist --help for usage)\n", why.c_str());
  return 2;
}

bool readFile(const std::string& path, std::vector<unsigned char>* out, std::string* error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    *error = strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    *error = "is a directory";
    close(fd);
    return false;
  }
  unsigned char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) out->insert(out->end(), buf, buf + n);
  if (n < 0) *error = strerror(errno);
  close(fd);
  return n == 0;
}

int decodeFile(const std::string& path, bool asJson) {
  std::vector<unsigned char> bytes;
  std::string error;
  if (!readFile(path, &bytes, &error)) {
    fprintf(stderr, "cardhist: %s: %s\n", path.c_str(), error.c_str());
    return 1;
  }
  const cardhist::History h = cardhist::decode(bytes);
  const std::string out = asJson ? cardhist::toJson(h, path) : cardhist::toText(h, path);
  fwrite(out.data(), 1, out.size(), stdout);
  return h.damage.empty() ? 0 : 1;
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
    fprintf(stderr, "cardhist: %s: %s\n", path.c_str(), strerror(errno));
    return 1;
  }
  return 0;
}

int run(const std::vector<std::string>& args) {
  bool json = false, encode = false;
  std::string file;
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      fputs(kUsage, stdout);
      return 0;
    } else if (a == "--json") {
      json = true;
    } else if (a == "--encode") {
      encode = true;
    } else if (a.compare(0, 1, "-") == 0 && a != "-") {
      return usageError("unknown option " + a);
    } else if (!file.empty()) {
      return usageError("one file only: " + a);
    } else {
      file = a;
    }
  }
  if (file.empty()) return usageError("no file given");
  if (json && encode) return usageError("--json and --encode exclude each other");
  return encode ? encodeFile(file) : decodeFile(file, json);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    fprintf(stderr, "cardhist: %s\n", e.what());
    return 1;
  }
}
