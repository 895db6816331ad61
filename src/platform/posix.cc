// Real sleeps, clocks and select, shared by the host and Android backends (the unit-test fake
// runs them on a virtual clock instead).
#include <errno.h>
#include <sys/select.h>
#include <time.h>

#include "platform/platform.h"
#include "platform/text.h"

void platformSleepUs(uint64_t microseconds) {
  timespec rest = {static_cast<time_t>(microseconds / 1000000),
                   static_cast<long>(microseconds % 1000000) * 1000};
  while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}

void platformClockRealtime(struct timespec* now) { clock_gettime(CLOCK_REALTIME, now); }

void platformClockMonotonic(struct timespec* now) { clock_gettime(CLOCK_MONOTONIC, now); }

int platformSelect(int nfds, fd_set* readSet, fd_set* writeSet, struct timeval* limit) {
  return select(nfds, readSet, writeSet, nullptr, limit);
}
