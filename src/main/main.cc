// modemprep: prepares the modem, the SIM cards and the rild instances at boot, then follows SIM
// hot-plug events for the life of the process.
#include <signal.h>

#include "main/daemon.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  int exitStatus = 0;
  if (!platformStart(argc, argv, &exitStatus)) return exitStatus;
  // Started as a session leader, a hang-up of whatever terminal the process had must not end it.
  signal(SIGHUP, SIG_IGN);
  static DaemonState state;
  if (!runStartupSequence(state)) return 0;
  for (;;) runResidentPass(state);
}
