// Linked into the daemon of the coverage build only. The end-to-end tests stop the daemon with
// SIGTERM, whose default action would drop the counts of the whole run; write them first, then
// end by the same signal, so the process looks to its parent exactly as a production daemon does.
#include <signal.h>

extern "C" void __gcov_dump(void);

namespace {

void writeCountsThenEnd(int signal_number) {
  __gcov_dump();
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

struct InstallAtStart {
  InstallAtStart() {
    signal(SIGTERM, writeCountsThenEnd);
    signal(SIGINT, writeCountsThenEnd);
  }
} installAtStart;

}  // namespace
