// Controls of the in-memory platform, the backend that unit tests, fuzz targets and radioplan link
// instead of a real one.
//
// Properties live in a map, log lines are captured with their priority, and sleeps and time-outs
// run on a virtual clock: a mandated sleep costs no real time but is recorded. platformSelect
// really waits (at most selectRealCapMs) so that a test peer on another thread can answer; when
// nothing arrives the whole limit passes on the virtual clock.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace memory {

struct LogLine {
  int priority;
  std::string text;
};

// Fresh state: no properties, no log, clock at 1000 s, a new empty root directory.
void reset();

// Root directory standing for "/" (created by reset(); removed at the next reset).
const std::string& root();
// root() + path; creates the parent directories when makeParents is true.
std::string path(const std::string& phonePath, bool makeParents = false);

// Property store.
void setProperty(const std::string& name, const std::string& value);
std::string property(const std::string& name);  // "" when unset
bool hasProperty(const std::string& name);
void refuse(const std::string& name);      // every write of name is refused
int setAttempts(const std::string& name);  // platformPropertySet calls for name
// Accepted writes in order, ctl.* ones included ("ctl.start" = "rild0").
const std::vector<std::pair<std::string, std::string>>& propertyWrites();

// Log.
const std::vector<LogLine>& logLines();
bool logHas(const std::string& text, int priority = 0);  // a line equal to text (and priority)
int logCount(const std::string& text);
std::string logText();  // every line, one per row, with its priority letter, for diagnostics

// Virtual clock.
uint64_t nowUs();
const std::vector<uint64_t>& sleeps();  // every platformSleepUs in order
extern int selectRealCapMs;             // real wait of one platformSelect, default 200
// Runs action (a test peer sending, say) once the virtual clock reaches dueUs, when a
// platformSelect would otherwise let that time pass: the clock stops there, the action runs and
// the select looks again. Actions of one due time run in the order given.
void at(uint64_t dueUs, std::function<void()> action);

// Uevents: queued messages are returned by platformUeventReceive in order; a queued error makes
// one receive fail with that errno; an empty queue fails with EBADF, which ends a monitor pass.
void queueUevent(const std::string& bytes);
void queueUeventError(int error);
void failUeventOpen(bool fail);
int ueventOpenCount();

}  // namespace memory
