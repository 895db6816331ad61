// The modem's byte stream against the AT channel and the commands built on it.
//
// Input: two configuration bytes, then records. A record is a length byte L and L bytes: one
// chunk, delivered by exactly one read. L = 0xFF ends a phase, L = 0xFE hangs the line up (every
// later read returns 0). Each phase's chunks are queued just before it runs; chunks it leaves
// unread stay on the line for the next one, like a late answer. Phases, in order: one exchange
// through sendAtSyncOk ("AT^DMCC?"), queryModemCapability (forced), queryCardInfo for slots 0 and
// 1, checkIMEI.
//
// Configuration byte 0: bits 0-1 project target (cmcc, cucc, open, ctc); bit 2 puts a card into
// the history ring (identity kCardIDs[0], the rest of the byte as its selector).
// Configuration byte 1: a non-zero byte fills the answer with older lines before the exchange
// (what an answer laid over an older one leaves).
#include "fuzz_support.h"

namespace {

constexpr uint8_t kEndOfPhase = 0xFF;
constexpr uint8_t kHangUp = 0xFE;
constexpr size_t kMaxChunksPerPhase = 48;  // well inside the socket's queue
constexpr int kPhases = 5;

// Queues the next phase's chunks.
void queuePhase(fuzz::Reader& in, ScriptedModem& line) {
  for (size_t chunks = 0; !in.done();) {
    uint8_t length = in.byte();
    if (length == kEndOfPhase) return;
    if (length == kHangUp) {
      line.hangUp();
    } else if (std::string chunk = in.bytes(length); chunks++ < kMaxChunksPerPhase) {
      line.send(chunk);
    }
  }
}

void checkCard(const CardInfo& card) {
  FUZZ_CHECK(fuzz::terminated(card.m_cardIMSI) && fuzz::terminated(card.m_cardID));
  FUZZ_CHECK(card.m_cardStatus == CardStatus::kAbsent || isPresent(card));
  FUZZ_CHECK(card.m_cardType == CardType::kSim || card.m_cardType == CardType::kUsim ||
             card.m_cardType == CardType::kUnknown);
  FUZZ_CHECK(isPresent(card) || card.m_cardType == CardType::kUnknown);
  int locale = static_cast<int>(card.m_cardLocale);
  FUZZ_CHECK((locale >= 1 && locale <= 6) || locale == 255);
}

void runPhase(int phase, fixture::Daemon& d, uint8_t fill) {
  DaemonState& s = d.state;
  if (phase == 0) {
    // An older answer the new one is laid over: four lines of the fill byte.
    AtAnswer out = {};
    for (int i = 0; i < kAnswerLines; i++) {
      memset(out.lines[i], fill, sizeof out.lines[i] - 1);
      out.starts[i] = static_cast<size_t>(fill) * i;
    }
    out.lineCount = fill != 0 ? kAnswerLines : 0;
    AtOutcome outcome = sendAtSyncOk(s.link, modemCommand(ModemCommand::kCapability), &out);
    FUZZ_CHECK(outcome.result == 0 || outcome.result == -1);
    FUZZ_CHECK(outcome.isOk == (out.final == FinalCode::kOk));
    FUZZ_CHECK(out.lineCount >= 0 && out.lineCount <= kAnswerLines);
    for (int i = 0; i < out.lineCount; i++) FUZZ_CHECK(fuzz::terminated(out.lines[i]));
  } else if (phase == 1) {
    queryModemCapability(s.link, true);
  } else if (phase < 4) {
    int slot = phase - 2;
    queryCardInfo(s.link, slot, s.cards.cardInfo[slot], s.profile, s.cards.savedCardInfo);
    checkCard(s.cards.cardInfo[slot]);
  } else {
    d.modem.commands();
    checkIMEI(s.link, s.profile.simCount);
    FUZZ_CHECK(memory::property("persist.sys.vx.check.imei") == "0");
    // A replacement command is one line: "AT^DCGSNW=" and at most 19 characters of IMEI.
    for (const std::string& sent : d.modem.commands()) {
      if (sent.rfind("AT^DCGSNW=", 0) == 0) FUZZ_CHECK(sent.size() <= strlen("AT^DCGSNW=") + 20);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Reader in(data, size);
  uint8_t config = in.byte(), fill = in.byte();
  fixture::Daemon d(fixture::profile(fuzz::kTargets[config & 3]));
  memory::setProperty("persist.sys.vx.check.imei", "1");
  if (config & 4) {
    d.state.cards.savedCardInfo.m_history[0] =
        fuzz::pickCard(config | 1, "460001234567890", fuzz::kCardIDs[0]);
  }
  for (int phase = 0; phase < kPhases; phase++) {
    queuePhase(in, d.modem);
    runPhase(phase, d, fill);
    d.modem.commands();
  }
  return 0;
}
