// A bug report as a user sends it, to radioplan's reader: the zip or the main text, its sections,
// the daemon's last start in its log and what that start logged of the cards and the modem.
//
// Input: a form byte, then the file. Form bit 0 clear: the rest is the file, byte for byte (a
// text, or a zip when it begins with "PK"). Bit 0 set: the rest is the main text, packed into a
// zip the way dumpstate packs one; bit 1 then leaves out main_entry.txt, bit 2 makes it name an
// entry the zip lacks.
#include <unistd.h>
#include <zip.h>

#include "fuzz_support.h"
#include "radioplan/bugreport.h"

namespace {

constexpr char kMainName[] = "bugreport-fuzz.txt";

// The file the reader is given: one per process in memory (tmpfs), rewritten for every input and
// removed at exit.
char g_folder[] = "/dev/shm/fuzz_bugreport.XXXXXX";
std::string g_report;

void removeReport() {
  unlink(g_report.c_str());
  rmdir(g_folder);
}

const std::string& reportPath() {
  if (g_report.empty()) {
    FUZZ_CHECK(mkdtemp(g_folder) != nullptr);
    g_report = std::string(g_folder) + "/report";
    atexit(removeReport);
  }
  return g_report;
}

bool addEntry(zip_t* zip, const char* name, const std::string& bytes) {
  zip_source_t* source = zip_source_buffer(zip, bytes.data(), bytes.size(), 0);
  if (source == nullptr) return false;
  const zip_int64_t index = zip_file_add(zip, name, source, ZIP_FL_OVERWRITE);
  if (index < 0) {
    zip_source_free(source);
    return false;
  }
  return zip_set_file_compression(zip, index, ZIP_CM_STORE, 0) == 0;
}

// The main text in a zip at `path`, with main_entry.txt naming it (or not, by the form).
void writeZip(const std::string& path, uint8_t form, const std::string& text) {
  int error = 0;
  zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  FUZZ_CHECK(zip != nullptr);
  const std::string mainEntry = (form & 4) != 0 ? "missing.txt\n" : std::string(kMainName) + "\n";
  FUZZ_CHECK(addEntry(zip, kMainName, text));
  if ((form & 2) == 0) FUZZ_CHECK(addEntry(zip, "main_entry.txt", mainEntry));
  FUZZ_CHECK(zip_close(zip) == 0);
}

// Sections in the order of their lines, each kept text starting with its section line (the
// others empty); find() gives the first of a title.
void checkSections(const radioplan::Bugreport& report) {
  FUZZ_CHECK(!report.sections.empty());
  int previous = 0;
  for (const radioplan::Section& section : report.sections) {
    FUZZ_CHECK(section.line > previous);
    previous = section.line;
    FUZZ_CHECK(section.kept ? section.text.compare(0, 7, "------ ") == 0 : section.text.empty());
    FUZZ_CHECK(report.find(section.title) != nullptr);
  }
}

// The start lies inside its section; every line it names lies inside the start; the cards read
// from its answers are records the daemon could hold.
void checkStart(const radioplan::Bugreport& report, const radioplan::LoggedStart& start) {
  // Any section of the title may hold it (the last one with the daemon's lines is taken).
  bool inSection = false;
  for (const radioplan::Section& section : report.sections) {
    inSection |= section.title == start.section && section.line == start.sectionLine;
  }
  FUZZ_CHECK(inSection);
  FUZZ_CHECK(start.sectionLine < start.firstLine && start.firstLine <= start.lastLine);
  FUZZ_CHECK(start.start == start.starts && start.starts >= 0);
  const auto inside = [&](int line) {
    return line == 0 || (line >= start.firstLine && line <= start.lastLine);
  };
  FUZZ_CHECK(inside(start.capabilityLine) && start.capabilityLogged == (start.capabilityLine != 0));
  for (const radioplan::LoggedCard& card : start.cards) {
    FUZZ_CHECK(inside(card.queryLine) && inside(card.classLine));
    FUZZ_CHECK(fuzz::terminated(card.answers.m_cardID) &&
               fuzz::terminated(card.answers.m_cardIMSI));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Reader in(data, size);
  const uint8_t form = in.byte();
  const std::string file = in.rest(), &path = reportPath();
  if ((form & 1) != 0) {
    writeZip(path, form, file);
  } else {
    fixture::writeFile(path, file);
  }
  radioplan::Bugreport report;
  try {
    report = radioplan::readBugreport(path);
  } catch (const radioplan::BugreportError&) {
    return 0;
  }
  FUZZ_CHECK(report.path == path);
  checkSections(report);
  try {
    checkStart(report, radioplan::loggedStart(report));
  } catch (const radioplan::BugreportError&) {
  }
  return 0;
}
