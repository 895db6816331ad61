// modemprep: prepares the modem, the SIM cards and the rild instances at boot, then follows SIM
// hot-plug events for the life of the process.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "main/daemon.h"
#include "platform/platform.h"

namespace {

// Descriptors 0 to 2 held by /dev/null when the process was started without them: the modem's
// node must never be given descriptor 0, which stands for a closed channel.
void holdStandardDescriptors() {
  int fd;
  while ((fd = open("/dev/null", O_RDWR)) >= 0 && fd <= STDERR_FILENO) {
  }
  if (fd > STDERR_FILENO) close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  holdStandardDescriptors();
  int exitStatus = 0;
  if (!platformStart(argc, argv, &exitStatus)) return exitStatus;
  // Started as a session leader, a hang-up of whatever terminal the process had must not end it;
  // nor may a log reader that goes away (the host's standard error): such a write fails and the
  // line is skipped.
  signal(SIGHUP, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
  static DaemonState state;
  if (!runStartupSequence(state)) return 0;
  for (;;) runResidentPass(state);
}
