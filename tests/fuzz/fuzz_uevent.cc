// The hot-plug monitor over received uevent messages, with the reconfiguration a card change
// triggers run against a modem node that answers nothing (every read ends at once).
//
// Input (at most UEVENT_MESSAGE_SIZE bytes are used): byte 0 is the stored online mask; byte 1
// the set-up (bits 0-1 project target, bit 2 three standbys, bit 3 dynamic RAT, bits 4 and 5 a
// card in slots 0 and 1 before the event); the rest is split at '\n' into messages, received in
// turn by one pass of the monitor.
#include <unistd.h>

#include <sstream>

#include "fuzz_support.h"
#include "hotplug/hotplug.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UEVENT_MESSAGE_SIZE) size = UEVENT_MESSAGE_SIZE;
  fuzz::Reader in(data, size);
  uint8_t online = in.byte();
  uint8_t setup = in.byte();
  fixture::Daemon d(fixture::profile(fuzz::kTargets[setup & 3], 2, (setup & 4) ? 3 : 2));
  DaemonState& s = d.state;
  s.profile.dynamicRat = (setup >> 3) & 1;
  s.cards.dual_sim_online = online;
  for (int slot = 0; slot < 2; slot++) {
    if (setup & (0x10 << slot))
      s.cards.cardInfo[slot] = fuzz::pickCard(0x15, "460001234567890", fuzz::kCardIDs[slot]);
  }
  // A reconfiguration closes the channel; the next one opens the node again.
  symlink("/dev/null", memory::path(kModemDevicePath, true).c_str());
  std::istringstream messages(in.rest());
  for (std::string message; std::getline(messages, message);) {
    if (!message.empty()) memory::queueUevent(message);  // a receive of nothing ends the pass
  }
  sim_hot_plug_monitor_loop(s);
  FUZZ_CHECK(((s.cards.dual_sim_online ^ online) & ~3u) == 0);
  FUZZ_CHECK(memory::ueventOpenCount() == 1);
  return 0;
}
