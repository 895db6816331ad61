// Shared pieces of the fuzz targets: the daemon's records back to their start values, a modem
// line whose every chunk is one read, an input reader and the check that reports a finding.
#pragma once

#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "card/card.h"
#include "modem/modem.h"
#include "platform/fake_platform.h"
#include "platform/platform.h"
#include "profile/profile.h"
#include "rat/rat.h"
#include "scripted_modem.h"

// A broken invariant is a finding: say which, then stop the way the sanitizers do.
#define FUZZ_CHECK(condition)                                                              \
  do {                                                                                     \
    if (!(condition)) {                                                                    \
      fprintf(stderr, "FUZZ_CHECK failed: %s at %s:%d\n", #condition, __FILE__, __LINE__); \
      __builtin_trap();                                                                    \
    }                                                                                      \
  } while (0)

namespace fuzz {

// Fresh fake platform and every process-wide record as a newly started daemon has it. Silence on
// the modem line then costs virtual time only.
inline void resetDaemon() {
  fake::reset();
  fake::selectRealCapMs = 0;
  modemFd = -1;
  g_currentStandby = -1;
  forgetTimedOutExchange();
  g_modemCapability = kInitialModemCapability;
  g_isSwitchModem = 0;
  for (CardInfo& card : g_cardInfo) card = CARD_INFO_RESET;
  g_dual_sim_online = 0;
  memset(&g_savedCardInfo, 0, sizeof g_savedCardInfo);
  copyText(g_masterCard, "10");
  memset(g_masterCard + 3, 0, sizeof g_masterCard - 3);
  g_projectProfile = kInitialProjectProfile;
  g_ratTableTarget = PROJECT_TARGET_OPEN;
  for (int i = 0; i < MAX_STANDBY; i++) {
    g_standbyRat[i] = g_standbyActualRat[i] = RAT_GSM;
    g_standbySimSlot[i] = -1;
  }
  memset(standbyDSTMEX, 0, sizeof standbyDSTMEX);
}

// A scripted modem attached as the daemon's channel. The daemon holds a duplicate of its end,
// which it may close (closeModemChannel), made non-blocking so that a daemon writing more than the
// queue holds fails its write instead of hanging the run.
class AttachedModem : public ScriptedModem {
 public:
  AttachedModem() : held_(dup(fd())) {
    fcntl(held_, F_SETFL, fcntl(held_, F_GETFL) | O_NONBLOCK);
    modemFd = held_;
  }
  ~AttachedModem() {
    if (modemFd == held_) {
      close(held_);
      modemFd = -1;
    }
  }

 private:
  int held_;
};

// Takes the input front to back; past its end every read gives zeros or nothing.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  // Up to n bytes (fewer at the end).
  std::string bytes(size_t n) {
    size_t take = n < size_ - pos_ ? n : size_ - pos_;
    std::string out(reinterpret_cast<const char*>(data_ + pos_), take);
    pos_ += take;
    return out;
  }
  std::string rest() { return bytes(size_ - pos_); }
  bool done() const { return pos_ >= size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A text field as the daemon fills it: copied through copyText, so it always ends inside.
template <size_t N>
void setField(char (&field)[N], const std::string& text) {
  memset(field, 0, N);
  copyText(field, text.c_str(), text.size());
}

template <size_t N>
bool terminated(const char (&field)[N]) {
  return memchr(field, '\0', N) != nullptr;
}

// Values a card record's fields take in the daemon, picked by a selector.
inline int32_t pickStatus(uint8_t selector) {
  constexpr int32_t kStatuses[] = {0, 1, 1, CARD_UNKNOWN};
  return kStatuses[selector % 4];
}
inline int32_t pickType(uint8_t selector) {
  constexpr int32_t kTypes[] = {2, 1, CARD_UNKNOWN, 2};
  return kTypes[selector % 4];
}
inline int32_t pickLocale(uint8_t selector) {
  constexpr int32_t kLocales[] = {1, 2, 3, 4, 5, 6, CARD_UNKNOWN, 1};
  return kLocales[selector % 8];
}

}  // namespace fuzz
