// modemprep: prepares the modem, the SIM cards and the rild instances at boot, then follows SIM
// hot-plug events for the life of the process.
#include "main/startup.h"

int main() {
  if (runStartupSequence() != 0) return 0;
  for (;;) runResidentPass();
}
