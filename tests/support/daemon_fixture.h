// What unit tests and fuzz targets build the daemon from: a fresh in-memory platform, the daemon's
// state as values, a scripted modem attached as its channel, card and profile values and files.
#pragma once

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "card/classify.h"
#include "card/history.h"
#include "card/history_file.h"
#include "card/imei.h"
#include "card/query.h"
#include "main/daemon.h"
#include "modem/commands.h"
#include "modem/nvram.h"
#include "platform/log_lines.h"
#include "platform/memory/memory_platform.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "scripted_modem.h"

namespace fixture {

// A line of one of the daemon's log formats (logline::k...), as the daemon writes it.
template <typename... Args>
std::string logged(const char* format, Args... args) {
  char line[512];
  snprintf(line, sizeof line, format, args...);
  return line;
}

// The groups of the default project RAT list.
constexpr RatMask k2G = RAT_GSM, k3G = RAT_TDSCDMA | RAT_WCDMA, k4G = RAT_LTE_TDD | RAT_LTE_FDD;

const std::string kOk = "\r\nOK\r\n";
inline std::string lineOk(const std::string& line) { return "\r\n" + line + "\r\n" + kOk; }

// A text field as the daemon fills it: bounded, so it always ends inside.
template <size_t N>
void setField(char (&field)[N], const std::string& text) {
  memset(field, 0, N);
  copyText(field, text.c_str(), text.size());
}

inline void fillPlmnList(PlmnList& list, std::initializer_list<const char*> entries) {
  memset(list, 0, sizeof(PlmnList));
  int i = 0;
  for (const char* entry : entries) setField(list[i++], entry);
}

// A profile as start-up leaves it with the default properties and a modem offering everything.
inline ProjectProfile profile(uint32_t target = PROJECT_TARGET_CMCC, int32_t simCount = 2,
                              int32_t standbyCount = 2) {
  ProjectProfile p = kInitialProjectProfile;
  p.simCount = simCount;
  p.standbyCount = standbyCount;
  p.projectTarget = target;
  p.rat2GMask = k2G;
  p.rat3GMask = k3G;
  p.rat4GMask = k4G;
  p.dynamicRat = 1;
  fillPlmnList(p.cmccPlmnList, {"46", "00", "02", "07", "08", "20"});
  fillPlmnList(p.cuccPlmnList, {"46", "01", "06", "09"});
  return p;
}

inline CardInfo card(CardType type, CardLocale locale, const std::string& imsi = "460001234567890",
                     const std::string& id = "8986000000000000001") {
  CardInfo c = {CardStatus::kPresent, type, locale, {}, {}};
  setField(c.m_cardIMSI, imsi);
  setField(c.m_cardID, id);
  return c;
}
constexpr CardInfo kNoCard = CARD_INFO_RESET;

inline std::string readFile(const std::string& path) {
  std::stringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}
inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A fresh in-memory platform (silence costs virtual time only) and a daemon's state with a scripted
// modem attached: the daemon holds a non-blocking duplicate of its end, which it may close.
struct Daemon {
  ScriptedModem modem;
  DaemonState state;

  explicit Daemon(const ProjectProfile& p = profile()) {
    memory::reset();
    memory::selectRealCapMs = 0;
    state.profile = p;
    attach();
  }
  ~Daemon() {
    if (state.link.isOpen()) close(state.link.line.fd);
  }
  // The channel as a fresh open leaves it, or as it stands on a given standby.
  void attach(int standby = -1) {
    ModemLine& line = state.link.line;
    if (state.link.isOpen()) close(line.fd);
    line.fd = dup(modem.fd());
    line.state = LineState::kOpen;
    fcntl(line.fd, F_SETFL, fcntl(line.fd, F_GETFL) | O_NONBLOCK);
    state.link.currentStandby = standby;
  }
  // Answers queued before the daemon asks: one read each.
  void answer(const std::vector<std::string>& chunks) {
    for (const std::string& c : chunks) modem.send(c);
  }
  // Every command written since the last call, joined with their CRs shown as '|'.
  std::string sent() {
    std::string out;
    for (std::string command : modem.commands()) {
      for (char& c : command) c = c == '\r' ? '|' : c;
      out += command;
    }
    return out;
  }
};

}  // namespace fixture
