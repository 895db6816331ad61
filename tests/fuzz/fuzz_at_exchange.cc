// The modem's byte stream against the AT channel and the commands built on it.
//
// Input: two configuration bytes, then records. A record is a length byte L and L bytes: one
// chunk, delivered by exactly one read. L = 0xFF ends a phase, L = 0xFE hangs the line up (every
// later read returns 0). Each phase's chunks are queued just before it runs; chunks it leaves
// unread stay on the line for the next one, like a late answer. Phases, in order: one exchange
// through sendAtSyncOk, queryModemCapability(1), queryCardInfo for slots 0 and 1, checkIMEI.
//
// Configuration byte 0: bits 0-1 project target (cmcc, cucc, open, ctc); bit 2 puts a card into
// the history ring (identity kHistoryCardID, type from bits 3-4, locale from bits 5-7).
// Configuration byte 1: size of the output buffer given to sendAtSyncOk (0: none).
#include <stdlib.h>

#include <vector>

#include "fuzz_support.h"

namespace {

constexpr uint8_t kEndOfPhase = 0xFF;
constexpr uint8_t kHangUp = 0xFE;
constexpr size_t kMaxChunksPerPhase = 48;  // well inside the socket's queue
constexpr int kPhases = 5;
constexpr uint32_t kTargets[] = {PROJECT_TARGET_CMCC, PROJECT_TARGET_CUCC, PROJECT_TARGET_OPEN,
                                 PROJECT_TARGET_CTC};
constexpr char kHistoryCardID[] = "89860012345678901234";

void setUpProfile(uint8_t config) {
  g_projectProfile.simCount = 2;
  g_projectProfile.standbyCount = 2;
  g_projectProfile.projectTarget = kTargets[config & 3];
  readPlmnList("persist.sys.vx.plmn.cmcc", "460,00,02,07,08,20", g_projectProfile.cmccPlmnList);
  readPlmnList("persist.sys.vx.plmn.cucc", "460,01,06,09", g_projectProfile.cuccPlmnList);
  fake::setProperty("persist.sys.vx.check.imei", "1");
  if ((config & 4) == 0) return;
  CardInfo& entry = g_savedCardInfo.m_history[0];
  entry = {1, fuzz::pickType(config >> 3), fuzz::pickLocale(config >> 5), {}, {}};
  fuzz::setField(entry.m_cardIMSI, "460001234567890");
  fuzz::setField(entry.m_cardID, kHistoryCardID);
}

// Queues the next phase's chunks.
void queuePhase(fuzz::Reader& in, fuzz::AttachedModem& line) {
  size_t chunks = 0;
  while (!in.done()) {
    uint8_t length = in.byte();
    if (length == kEndOfPhase) return;
    if (length == kHangUp) {
      line.hangUp();
      continue;
    }
    std::string chunk = in.bytes(length);
    if (chunks++ < kMaxChunksPerPhase) {
      line.send(chunk);
    }
  }
}

void checkCard(const CardInfo& card) {
  FUZZ_CHECK(fuzz::terminated(card.m_cardIMSI));
  FUZZ_CHECK(fuzz::terminated(card.m_cardID));
  FUZZ_CHECK(card.m_cardStatus == 0 || card.m_cardStatus == 1);
  FUZZ_CHECK(card.m_cardType == 1 || card.m_cardType == 2 || card.m_cardType == CARD_UNKNOWN);
  FUZZ_CHECK(card.m_cardStatus == 1 || card.m_cardType == CARD_UNKNOWN);
  FUZZ_CHECK((card.m_cardLocale >= 1 && card.m_cardLocale <= 6) ||
             card.m_cardLocale == CARD_UNKNOWN);
}

void exchangePhase(uint8_t outSize) {
  // Exactly the size asked for, so a write past it is caught.
  std::vector<char> out(outSize);
  int isOk = -1;
  int result = sendAtSyncOk(modemFd, "AT\r", &isOk, outSize != 0 ? out.data() : nullptr, outSize);
  FUZZ_CHECK(result == 0 || result == -1);
  FUZZ_CHECK(isOk == 0 || isOk == 1);
}

void capabilityPhase() {
  int result = queryModemCapability(1);
  FUZZ_CHECK(result == 0 || result == -1);
}

void cardPhase(int slot) {
  FUZZ_CHECK(queryCardInfo(modemFd, slot, &g_cardInfo[slot]) == 0);
  checkCard(g_cardInfo[slot]);
}

void imeiPhase(fuzz::AttachedModem& line) {
  line.commands();
  FUZZ_CHECK(checkIMEI() == 0);
  FUZZ_CHECK(fake::property("persist.sys.vx.check.imei") == "0");
  // A replacement command is one line: "AT^DCGSNW=" and at most 19 characters of IMEI.
  for (const std::string& sent : line.commands()) {
    if (sent.rfind("AT^DCGSNW=", 0) == 0) FUZZ_CHECK(sent.size() <= strlen("AT^DCGSNW=") + 19 + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::resetDaemon();
  fuzz::Reader in(data, size);
  uint8_t config = in.byte();
  uint8_t outSize = in.byte();
  setUpProfile(config);
  fuzz::AttachedModem line;
  for (int phase = 0; phase < kPhases; phase++) {
    queuePhase(in, line);
    switch (phase) {
      case 0:
        exchangePhase(outSize);
        break;
      case 1:
        capabilityPhase();
        break;
      case 2:
      case 3:
        cardPhase(phase - 2);
        break;
      default:
        imeiPhase(line);
    }
    line.commands();
  }
  return 0;
}
