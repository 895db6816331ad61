// The in-memory platform: the backend of the unit tests, the fuzz targets and radioplan; see
// memory_platform.h.
#include "platform/memory/memory_platform.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <map>
#include <set>

#include "platform/platform.h"
#include "platform/text.h"

namespace memory {
namespace {

constexpr uint64_t kClockStartUs = 1000ull * 1000000;

struct State {
  std::map<std::string, std::string> properties;
  std::set<std::string> refused;
  std::map<std::string, int> attempts;
  std::vector<std::pair<std::string, std::string>> writes;
  std::vector<LogLine> log;
  std::vector<uint64_t> sleeps;
  std::deque<std::pair<std::string, int>> uevents;  // message, or an errno to fail with
  bool failUeventOpen = false;
  int ueventOpens = 0;
  uint64_t clockUs = kClockStartUs;
  std::multimap<uint64_t, std::function<void()>> timed;  // actions by their due time
  std::string root;
};

// Never destroyed, so that the root's removal at exit still finds it.
State& state() {
  static State* s = new State;
  return *s;
}

void removeRoot() {
  std::error_code ignored;
  if (!state().root.empty()) std::filesystem::remove_all(state().root, ignored);
}

struct RootCleanup {
  ~RootCleanup() { removeRoot(); }
} g_rootCleanup;

}  // namespace

int selectRealCapMs = 200;

void reset() {
  removeRoot();
  state() = State();
  selectRealCapMs = 200;
  // Short, so that socket paths under it fit; TMPDIR where /tmp does not exist (a device).
  const char* tmp = getenv("TMPDIR");
  std::string dir = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/mpf.XXXXXX";
  if (mkdtemp(&dir[0]) != nullptr) state().root = dir;
}

const std::string& root() { return state().root; }

std::string path(const std::string& phonePath, bool makeParents) {
  std::string full = state().root + phonePath;
  if (makeParents) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(full).parent_path(), ignored);
  }
  return full;
}

void setProperty(const std::string& name, const std::string& value) {
  state().properties[name] = value;
}

std::string property(const std::string& name) {
  auto it = state().properties.find(name);
  return it == state().properties.end() ? "" : it->second;
}

bool hasProperty(const std::string& name) { return state().properties.count(name) != 0; }
void refuse(const std::string& name) { state().refused.insert(name); }
int setAttempts(const std::string& name) { return state().attempts[name]; }
const std::vector<std::pair<std::string, std::string>>& propertyWrites() { return state().writes; }
const std::vector<LogLine>& logLines() { return state().log; }

bool logHas(const std::string& text, int priority) {
  for (const LogLine& line : state().log) {
    if (line.text == text && (priority == 0 || line.priority == priority)) return true;
  }
  return false;
}

int logCount(const std::string& text) {
  int n = 0;
  for (const LogLine& line : state().log) n += line.text == text;
  return n;
}

std::string logText() {
  static constexpr char kLetters[] = "??VDIWEF";
  std::string out;
  for (const LogLine& line : state().log) {
    out += line.priority >= 2 && line.priority <= 7 ? kLetters[line.priority] : '?';
    out += " " + line.text + "\n";
  }
  return out;
}

uint64_t nowUs() { return state().clockUs; }
const std::vector<uint64_t>& sleeps() { return state().sleeps; }
void at(uint64_t dueUs, std::function<void()> action) {
  state().timed.emplace(dueUs, std::move(action));
}
void queueUevent(const std::string& bytes) { state().uevents.emplace_back(bytes, 0); }
void queueUeventError(int error) { state().uevents.emplace_back("", error); }
void failUeventOpen(bool fail) { state().failUeventOpen = fail; }
int ueventOpenCount() { return state().ueventOpens; }

}  // namespace memory

using memory::state;

namespace {

// The daemon hands the platform only the names of platform/properties.h: a name missing there is
// a fault every test that reaches it must show, not a property that happens to be unset.
void requireDeclared(const char* name) {
  if (declaredProperty(name) != nullptr) return;
  fprintf(stderr, "in-memory platform: property \"%s\" is not declared in platform/properties.h\n",
          name);
  abort();
}

}  // namespace

int platformPropertyGet(const char* name, char* value) {
  requireDeclared(name);
  copyText(value, PROPERTY_VALUE_SIZE, memory::property(name).c_str());
  return static_cast<int>(strlen(value));
}

int platformPropertySet(const char* name, const char* value) {
  requireDeclared(name);
  state().attempts[name]++;
  if (state().refused.count(name) != 0 || strlen(value) >= PROPERTY_VALUE_SIZE) return -1;
  state().writes.emplace_back(name, value);
  if (strcmp(name, "ctl.start") == 0 || strcmp(name, "ctl.restart") == 0) {
    state().properties[std::string("init.svc.") + value] = "running";
  } else if (strncmp(name, "ctl.", 4) != 0) {
    state().properties[name] = value;
  }
  return 0;
}

void platformLogWrite(int priority, const char* message) {
  state().log.push_back({priority, message});
  if (getenv("FAKE_LOG") != nullptr) fprintf(stderr, "%d %s\n", priority, message);
}

int platformUeventOpen(int, bool) {
  state().ueventOpens++;
  if (state().failUeventOpen) {
    errno = EACCES;  // a failed open says why, as the real ones do
    return -1;
  }
  return 1000 + state().ueventOpens;
}

int platformUeventReceive(int, char* buffer, size_t length) {
  // Nothing left: the socket is gone, which ends the monitor's pass.
  if (state().uevents.empty()) {
    errno = EBADF;
    return -1;
  }
  auto [message, error] = state().uevents.front();
  state().uevents.pop_front();
  if (error != 0) {
    errno = error;
    return -1;
  }
  size_t n = message.size() < length ? message.size() : length;
  memcpy(buffer, message.data(), n);
  return static_cast<int>(n);
}

void platformUeventClose(int) {}

void platformSleepUs(uint64_t microseconds) {
  state().sleeps.push_back(microseconds);
  state().clockUs += microseconds;
}

// One virtual clock serves as both: nothing in a unit test steps the wall clock.
void platformClockRealtime(struct timespec* now) {
  now->tv_sec = static_cast<time_t>(state().clockUs / 1000000);
  now->tv_nsec = static_cast<long>(state().clockUs % 1000000) * 1000;
}

void platformClockMonotonic(struct timespec* now) { platformClockRealtime(now); }

bool platformStart(int, char**, int*) { return true; }

namespace {

// One real select, waiting at most the cap; what it returns.
int selectCapped(int nfds, fd_set* readSet, fd_set* writeSet, uint64_t limitUs) {
  uint64_t capUs = static_cast<uint64_t>(memory::selectRealCapMs) * 1000;
  uint64_t waitUs = limitUs < capUs ? limitUs : capUs;
  timeval realWait = toTimeval(waitUs);
  return select(nfds, readSet, writeSet, nullptr, &realWait);
}

}  // namespace

int platformSelect(int nfds, fd_set* readSet, fd_set* writeSet, struct timeval* limit) {
  uint64_t limitUs = limit == nullptr ? 0 : limit->tv_sec * 1000000ull + limit->tv_usec;
  fd_set reads, writes;
  for (;;) {
    if (readSet != nullptr) reads = *readSet;
    if (writeSet != nullptr) writes = *writeSet;
    int result = selectCapped(nfds, readSet != nullptr ? &reads : nullptr,
                              writeSet != nullptr ? &writes : nullptr, limitUs);
    if (result != 0) {
      if (readSet != nullptr) *readSet = reads;
      if (writeSet != nullptr) *writeSet = writes;
      if (limit != nullptr) *limit = toTimeval(limitUs);
      return result;
    }
    auto& timed = state().timed;
    uint64_t endUs = state().clockUs + limitUs;
    if (timed.empty() || timed.begin()->first > endUs) break;
    // Time passes up to the next action, which may give the select something to see.
    uint64_t dueUs = std::max(timed.begin()->first, state().clockUs);
    std::function<void()> action = std::move(timed.begin()->second);
    timed.erase(timed.begin());
    limitUs = endUs - dueUs;
    state().clockUs = dueUs;
    action();
  }
  state().clockUs += limitUs;
  if (readSet != nullptr) FD_ZERO(readSet);
  if (writeSet != nullptr) FD_ZERO(writeSet);
  if (limit != nullptr) *limit = {0, 0};
  return 0;
}

int platformPath(const char* path, char* out, size_t size) {
  int n = snprintf(out, size, "%s%s", state().root.c_str(), path);
  return n >= 0 && static_cast<size_t>(n) < size ? 0 : -1;
}
