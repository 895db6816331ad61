// Old rild configuration files of any content, then the new files and the start requests.
//
// Input: byte 0 the standby count (signed); byte 1 flags (bit 0 the modem was just switched,
// bits 1-3 hotplug_sim + 1, bit 4 no old rild.cfg0, bit 5 no old rild.cfg1, bit 6 rild0 and rild1
// running); byte 2 the DSTMEX of standbys 0..3 (two bits each); bytes 3 and 4 the cards of
// slots 0 and 1 (status bits 0-1, type bits 2-3, locale bits 4-6); then each card's identity as
// the modem can deliver it (length byte, bytes, kept as the card query keeps an answer); then the
// length of the old rild.cfg0 (two bytes, big-endian), its bytes, and the rest is the old
// rild.cfg1.
#include <unistd.h>

#include "fuzz_support.h"
#include "ril/ril.h"
#include "ril/rild_file.h"

namespace {

// Every DSTMEX text the policy can build.
constexpr const char* kDstmexTexts[] = {"0,7,2,0", "1,0", "0,2,0", "0,0"};
std::string rildPath(int standby) {
  return memory::path(std::string(kRildConfigBasePath) + std::to_string(standby), true);
}

// The identity the card query keeps from an answer "^DCID: <raw>\r\n".
std::string modemCardID(const std::string& raw) {
  const std::string text = "\r\n^DCID: " + raw.substr(0, raw.find('\0')) + "\r\n\r\nOK\r\n";
  CardInfo card = CARD_INFO_RESET;
  const AtAnswer answer = readAnswerText(cardCommand(CardCommand::kId).command, text.c_str());
  readIdAnswer({0, answer.final == FinalCode::kOk}, answer, card);
  return card.m_cardID;
}

// The file reads back, through the daemon's own key table, as the record the plan makes.
bool readsBackAsPlanned(const std::string& text, const RildConfig& planned) {
  RildConfig read;
  const char* badKey = nullptr;
  return parseRildConfig(text.data(), text.size(), read, &badKey) &&
         memcmp(&read, &planned, sizeof read) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Reader in(data, size);
  fixture::Daemon d(fixture::profile(PROJECT_TARGET_CMCC, 2, static_cast<int8_t>(in.byte())));
  DaemonState& s = d.state;
  uint8_t flags = in.byte(), dstmex = in.byte();
  for (int i = 0; i < MAX_STANDBY; i++) {
    copyText(s.plan.standbyDSTMEX[i], i < 4 ? kDstmexTexts[(dstmex >> (2 * i)) & 3] : "1,0");
    s.plan.standbySimSlot[i] = i < 2 ? i : -1;
  }
  uint8_t selectors[2] = {in.byte(), in.byte()};
  for (int slot = 0; slot < 2; slot++) {
    s.cards.cardInfo[slot] =
        fuzz::pickCard(selectors[slot], "460001234567890", modemCardID(in.bytes(in.byte())));
  }
  rildPath(0);  // the radio directory exists on the phone; the files may not
  size_t oldLength = in.byte() << 8;
  std::string old0 = in.bytes(oldLength | in.byte());
  if ((flags & 0x10) == 0) fixture::writeFile(rildPath(0), old0);
  if ((flags & 0x20) == 0) fixture::writeFile(rildPath(1), in.rest());
  if (flags & 0x40) {
    memory::setProperty("init.svc.rild0", "running");
    memory::setProperty("init.svc.rild1", "running");
  }

  startRildService(s.profile, s.cards.cardInfo, s.plan, flags & 1, ((flags >> 1) & 7) - 1);
  int written = s.profile.standbyCount < MAX_STANDBY ? s.profile.standbyCount : MAX_STANDBY;
  for (int standby = 0; standby < written; standby++) {
    FUZZ_CHECK(readsBackAsPlanned(fixture::readFile(rildPath(standby)),
                                  rildConfigFor(s.profile, s.cards.cardInfo, s.plan, standby)));
    FUZZ_CHECK(access((rildPath(standby) + ".tmp").c_str(), F_OK) != 0);
    // Every standby served has its rild running afterwards.
    FUZZ_CHECK(memory::property("init.svc.rild" + std::to_string(standby)) == "running");
  }
  return 0;
}
