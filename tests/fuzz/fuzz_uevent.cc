// The hot-plug monitor's handling of received uevent messages, with the reconfiguration a card
// change triggers run against a modem that answers nothing.
//
// Input (at most UEVENT_MESSAGE_SIZE bytes are used): byte 0 is the stored online mask; byte 1
// the set-up (bits 0-1 project target, bit 2 three standbys, bit 3 dynamic RAT, bits 4 and 5 a
// card in slots 0 and 1 before the event); the rest is split at '\n' into messages, each handed
// to handleHotplugMessage in a buffer of exactly its length + 2 bytes.
#include <memory>

#include "fuzz_support.h"
#include "hotplug/hotplug.h"

namespace {

constexpr uint32_t kTargets[] = {PROJECT_TARGET_CMCC, PROJECT_TARGET_CUCC, PROJECT_TARGET_OPEN,
                                 PROJECT_TARGET_CTC};

void setUp(uint8_t online, uint8_t setup) {
  g_dual_sim_online = online;
  g_projectProfile.simCount = 2;
  g_projectProfile.standbyCount = (setup & 4) ? 3 : 2;
  g_projectProfile.projectTarget = kTargets[setup & 3];
  g_projectProfile.dynamicRat = (setup >> 3) & 1;
  g_projectProfile.rat2GMask = RAT_GSM;
  g_projectProfile.rat3GMask = RAT_TDSCDMA | RAT_WCDMA;
  g_projectProfile.rat4GMask = RAT_LTE_TDD | RAT_LTE_FDD;
  setRatTableTarget(g_projectProfile.projectTarget);
  static const char* const kIDs[] = {"89860012345678901234", "89860198765432109876"};
  for (int slot = 0; slot < 2; slot++) {
    if ((setup & (0x10 << slot)) == 0) continue;
    CardInfo& card = g_cardInfo[slot];
    card = {1, 2, 1, {}, {}};
    fuzz::setField(card.m_cardIMSI, "460001234567890");
    fuzz::setField(card.m_cardID, kIDs[slot]);
  }
}

void handle(const std::string& message) {
  if (message.empty()) return;  // a receive of nothing ends the monitor's pass instead
  // Without a live channel the reconfiguration would try the device node a hundred times.
  std::unique_ptr<fuzz::AttachedModem> line(new fuzz::AttachedModem);
  int length = static_cast<int>(message.size());
  std::unique_ptr<char[]> buffer(new char[message.size() + 2]);
  memcpy(buffer.get(), message.data(), message.size());
  uint32_t before = g_dual_sim_online;
  handleHotplugMessage(buffer.get(), length);
  FUZZ_CHECK(((g_dual_sim_online ^ before) & ~3u) == 0);
  // The message is handed on as text: terminated, with no NUL inside.
  FUZZ_CHECK(buffer[length] == '\0' && buffer[length + 1] == '\0');
  FUZZ_CHECK(memchr(buffer.get(), '\0', message.size()) == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UEVENT_MESSAGE_SIZE) size = UEVENT_MESSAGE_SIZE;
  fuzz::resetDaemon();
  fuzz::Reader in(data, size);
  uint8_t online = in.byte();
  uint8_t setup = in.byte();
  setUp(online, setup);
  std::string rest = in.rest();
  size_t start = 0;
  for (;;) {
    size_t end = rest.find('\n', start);
    handle(rest.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return 0;
}
