// The daemon's sequences over the in-memory platform: given this modem and these properties, the
// start-up and each hot-plug reconfiguration send these commands, make these init requests and
// leave these files.
#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "daemon_fixture.h"
#include "hotplug/hotplug.h"
#include "ril/ril.h"
#include "ril/rild_file.h"

namespace {

using fixture::Daemon;
using fixture::kOk;
using fixture::lineOk;

struct SimCard {
  std::string id, imsi;
  int type;
};
const SimCard kUsimHome = {"89860012345678901234", "460001234567890", 2};
const SimCard kSimOther = {"89860198765432109876", "460019876543210", 1};

// The modem's answers to one slot's query, from the standby switch on; switched false when the
// channel already stands on the slot's standby.
std::vector<std::string> slotAnswers(const SimCard* card, bool switched = true) {
  std::vector<std::string> out;
  if (switched) out.push_back(kOk);
  out.push_back(kOk);  // AT^DLKS=1
  out.push_back(lineOk(card != nullptr ? "^DUSIMU: 1" : "^DUSIMU: 0"));
  out.insert(out.end(), {kOk, kOk});
  if (card == nullptr) return out;
  out.insert(out.end(), {lineOk("^DCID: " + card->id), lineOk("+CIMI: " + card->imsi),
                         lineOk("^DTOC: " + std::to_string(card->type))});
  return out;
}

// Init requests made, as "ctl.<verb> <service>" lines.
std::string requests() {
  std::string out;
  for (const auto& w : memory::propertyWrites()) {
    if (w.first.rfind("ctl.", 0) == 0) out += w.first + " " + w.second + "\n";
  }
  return out;
}

// A two-card cmcc phone whose channel is open already (so the start-up opens nothing).
struct Phone : Daemon {
  Phone() {
    memory::path(kCardHistoryPath, true);  // the data directory exists
    memory::setProperty("persist.sys.vx.msms", "221");
  }
  void boot(const SimCard* slot0, const SimCard* slot1, const char* dmcc = "1,2,1,31,1") {
    answer({lineOk(std::string("^DMCC: ") + dmcc)});
    answer(slotAnswers(slot0));
    answer(slotAnswers(slot1));
    answer({kOk});  // the switch back to standby 0 that begins the modem check
    ASSERT_TRUE(runStartupSequence(state));
  }
};

// The commands, files and properties of this start-up are pinned by the golden runs; here what
// they cannot show: the mandated pauses and the state the start-up leaves in memory.
TEST(DaemonTest, FirstBootOfATwoCardPhone) {
  Phone p;
  p.boot(&kUsimHome, &kSimOther);
  EXPECT_EQ(std::vector<uint64_t>({100000, 100000}), memory::sleeps());  // after each request
  EXPECT_EQ(2, p.state.cards.savedCardInfo.m_nextIndex);
  EXPECT_EQ(3u, p.state.cards.dual_sim_online);
  EXPECT_EQ(LineState::kClosed, p.state.link.line.state);
}

TEST(DaemonTest, GuardStopsAStartWhileAMasterCardSwitchIsUnderWay) {
  for (const char* flag : {"01", "11", "10", "00", ""}) {
    Phone p;
    memory::setProperty("gsm.operator.mcard_switch", flag);
    bool stops = flag[0] != '\0' && flag[1] == '1';
    if (stops) {
      EXPECT_FALSE(runStartupSequence(p.state));
      EXPECT_EQ("", p.sent());
      EXPECT_EQ(flag, memory::property("gsm.operator.mcard_switch"));
    } else {
      p.boot(nullptr, nullptr);
      EXPECT_EQ("00", memory::property("gsm.operator.mcard_switch"));
    }
    EXPECT_EQ(stops, memory::logHas("switching master card now, wait for a while!"));
  }
}

// The crash test kills a swapping start at every write and checks the flags are back and no record
// is left; here the records a next start finds. Only a record the daemon could have written is
// applied; anything else is refused whole, and every record is removed.
TEST(DaemonTest, InterruptedSwapRecordIsAppliedOnlyWhenTheDaemonCouldHaveWrittenIt) {
  const std::string reset = "persist.sys.modem.reset=0\n";
  const std::string prompt = "persist.sys.modem.reset.prompt=1\n";
  const struct {
    std::string record;  // "fifo" and "dir": not a regular file
    const char* reset;   // the flags afterwards; they start as "1" and "0"
    const char* prompt;
  } cases[] = {
      {reset, "0", "0"},
      {prompt, "1", "1"},
      {reset + prompt, "0", "1"},
      {reset + prompt + "ro.other=1\n", "1", "0"},
      {"persist.sys.modem.reset=rm -rf /\n", "1", "0"},
      {prompt + reset, "1", "0"},
      {std::string(300, 'x') + "\n" + reset, "1", "0"},
      {"", "1", "0"},
      {"fifo", "1", "0"},
      {"dir", "1", "0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.record);
    memory::reset();
    memory::setProperty("persist.sys.modem.reset", "1");
    memory::setProperty("persist.sys.modem.reset.prompt", "0");
    const std::string path = memory::path(kRestoreRecordPath, true);
    if (c.record == "fifo") {
      ASSERT_EQ(0, mkfifo(path.c_str(), 0600));
    } else if (c.record == "dir") {
      ASSERT_EQ(0, mkdir(path.c_str(), 0700));
    } else {
      fixture::writeFile(path, c.record);
    }
    restoreInterruptedSwap();
    EXPECT_EQ(c.reset, memory::property("persist.sys.modem.reset"));
    EXPECT_EQ(c.prompt, memory::property("persist.sys.modem.reset.prompt"));
    EXPECT_NE(0, access(path.c_str(), F_OK));
    const bool applied = std::string(c.reset) == "0" || std::string(c.prompt) == "1";
    EXPECT_EQ(applied, memory::logHas(
                           "an NVRAM swap was interrupted: restoring the modem reset properties"));
    EXPECT_FALSE(memory::hasProperty("ro.other"));
  }
}

// Each failure is logged with the errno of the failure, not that of the cleanup after it: a write
// past the size limit fails with EFBIG, as one on a full partition fails with ENOSPC, and the
// record's temporary file was already removed when the cleanup tried again (ENOENT).
TEST(DaemonTest, AFailedWriteIsLoggedWithItsOwnErrno) {
  Daemon d;
  memory::path(kCardHistoryPath, true);
  memory::setProperty("persist.sys.modem.reset", "0");
  rlimit before;
  getrlimit(RLIMIT_FSIZE, &before);
  const rlimit none = {0, before.rlim_max};
  signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &none);
  swapModemNvram(d.state.link);
  writeSavedCardInfo(d.state.cards.savedCardInfo);
  setrlimit(RLIMIT_FSIZE, &before);
  signal(SIGXFSZ, SIG_DFL);
  for (const char* line :
       {"write \"/data/vantorel/radio/modem_reset.restore\" fail: 27 - File too large",
        "fwrite() fail: return 0 != 1, 27 - File too large"}) {
    EXPECT_TRUE(memory::logHas(line, LOG_PRIO_ERROR)) << line << "\n" << memory::logText();
  }
  EXPECT_EQ("0", memory::property("persist.sys.modem.reset"));
}

// Messages of other devices and a card reported as it was are golden runs.
TEST(DaemonTest, HotPlugMessagesGiveTheirCandidateMask) {
  const struct {
    uint32_t stored;
    std::string message;
    uint32_t candidate;
  } cases[] = {
      {1, "change@/devices/virtual/sim/sim0 USIM0 OUT", 0},
      {0, std::string("USIM0\0IN\0USIM1\0IN\0", 18), 2},  // both named: slot 1's change only
      {2, "USIM1 OUT", 0},
      {0, "USIM1 XX", 0},
      {3, "USIM1", 3},  // nothing after the name
  };
  for (const auto& c : cases) {
    memory::reset();
    std::vector<char> buffer(c.message.begin(), c.message.end());
    buffer.resize(c.message.size() + 2);
    EXPECT_EQ(c.candidate,
              hotplugCandidate(buffer.data(), static_cast<int>(c.message.size()), c.stored))
        << c.message;
    EXPECT_EQ(c.message.find("USIM") != std::string::npos,
              memory::logCount("sim_hot_plug_monitor_loop g_dual_sim_online:" +
                               std::to_string(c.stored)) > 0);
  }
}

// The modem still sees no card in slot 1 whatever the messages say.
struct NoCardInSlot1 : Phone {
  NoCardInSlot1() {
    boot(&kUsimHome, nullptr);
    attach(0);
  }
  // One round: AT^DMPCHN=1 when the channel is not on standby 1 yet, AT+DSIMIO=1, the query.
  void modemSeesNoCard(bool switched) {
    if (switched) answer({kOk});
    answer({kOk});
    answer(slotAnswers(nullptr, false));
  }
};

TEST(DaemonTest, BadOrLostMessagesNeitherEndThePassNorLoseAChange) {
  NoCardInSlot1 p;
  // A socket that cannot be opened ends the pass at once; the next is tried 2 s later.
  memory::failUeventOpen(true);
  runResidentPass(p.state);
  EXPECT_TRUE(
      memory::logHas("uevent_open_socket get device_fd error fd:-1, 13 - Permission denied"));
  EXPECT_EQ(2000000u, memory::sleeps().back());
  memory::failUeventOpen(false);
  // An empty message, one refused as not the kernel's and interrupted receives are skipped; the
  // next one is handled.
  memory::queueUevent("");
  memory::queueUeventError(EIO);
  memory::queueUeventError(EINTR);
  memory::queueUeventError(EAGAIN);
  memory::queueUevent("USIM1 IN");
  // Messages dropped by the kernel: the modem is asked what each slot holds.
  memory::queueUeventError(ENOBUFS);
  p.modemSeesNoCard(true);
  p.answer({kOk});                        // AT^DMPCHN=0
  p.answer(slotAnswers(nullptr, false));  // slot 0: card gone
  p.answer({kOk});                        // AT^DMPCHN=1
  p.answer(slotAnswers(nullptr, false));  // slot 1: still none
  p.answer({kOk, kOk});  // AT^DMPCHN=0, AT+DSIMIO=0 for the reconfiguration of slot 0
  p.answer(slotAnswers(nullptr, false));
  p.answer({lineOk("^DMCC: 1,2,1,31,1")});
  sim_hot_plug_monitor_loop(p.state);
  EXPECT_EQ(2, memory::ueventOpenCount());  // the refused open, then this pass's
  EXPECT_NE(std::string::npos, memory::logText().find("message skipped, 5 so far"));
  EXPECT_TRUE(memory::logHas("sim_hot_plug_monitor_loop old_sim_online 1, new_sim_online: 0"));
  EXPECT_EQ(0u, p.state.cards.dual_sim_online);
  EXPECT_NE(std::string::npos,
            fixture::readFile(memory::path(kRildConfigBasePath + std::string("0")))
                .find("rild.cardStatus = 0\n"));
}

// A modem that answers every command right but late, just inside the exchange's 10 s, reports
// the card late in its 60 s wait, and meanwhile sends an unsolicited line every 300 ms that never
// ends an exchange. It runs on the virtual clock until the bound, then falls silent.
struct SlowChattyModem {
  NoCardInSlot1& phone;
  const char* capability;
  uint64_t untilUs;

  void answerLate(const std::string& text, uint64_t afterUs) {
    memory::at(memory::nowUs() + afterUs, [this, text] { phone.modem.send(text); });
  }
  void tick() {
    for (const std::string& command : phone.modem.commands()) {
      if (command.rfind("AT^DUSIMR=1", 0) == 0) answerLate("\r\n^DUSIMU: 1\r\n", 59000000);
      if (command.rfind("AT^DSRST", 0) == 0) answerLate("\r\n^DMRST\r\n", 49000000);
      answerLate(answerTo(command), 9500000);
    }
    phone.modem.send("\r\n+CREG: 1\r\n");
    if (memory::nowUs() < untilUs) memory::at(memory::nowUs() + 300000, [this] { tick(); });
  }
  std::string answerTo(const std::string& command) const {
    if (command.rfind("AT^DCID", 0) == 0) return lineOk("^DCID: " + kSimOther.id);
    if (command.rfind("AT+CIMI", 0) == 0) return lineOk("+CIMI: " + kSimOther.imsi);
    if (command.rfind("AT^DTOC", 0) == 0) return lineOk("^DTOC: 1");
    if (command.rfind("AT^DMCC?", 0) == 0) return lineOk(std::string("^DMCC: ") + capability);
    return kOk;
  }
};

// A pass ends within the sum of its designed bounds (575 s with a swap, 567 s without, on a line
// that stays up) whatever the modem does: silence, or a slow modem that chatters. The chatter stops
// at the bound, so a wait that restarts on every line shows as a pass that outlasts it.
TEST(DaemonTest, AHotPlugPassEndsWithinItsBoundWhateverTheModemSends) {
  constexpr uint64_t kPassBoundUs = 575ull * 1000000;
  // Silent, no swap, a swap, a swap although neither standby offers what the plan expects.
  for (const char* capability : {"", "1,2,1,31,1", "1,2,1,1,31", "1,2,1,1,1"}) {
    NoCardInSlot1 p;
    const uint64_t startUs = memory::nowUs();
    SlowChattyModem modem{p, capability, startUs + kPassBoundUs};
    p.modem.commands();  // the start-up's
    if (*capability != '\0') memory::at(startUs, [&modem] { modem.tick(); });
    EXPECT_EQ(1, check_modemprep_after_hotplug(p.state, 3));
    EXPECT_LE(memory::nowUs() - startUs, kPassBoundUs) << capability;
    // A reply is a reply however much came before it: the card is read, the swap decided.
    EXPECT_EQ(*capability != '\0', p.state.cards.cardInfo[1].m_cardStatus == CardStatus::kPresent);
    const bool swaps = strncmp(capability, "1,2,1,1,", 8) == 0;
    EXPECT_EQ(swaps, memory::logHas(fixture::logged(logline::kSwitchNvram, "true")));
    EXPECT_EQ(strcmp(capability, "1,2,1,1,1") == 0,
              memory::logHas("ERROR: AP and Modem are unmatched since Modem does not support the "
                             "RAT that AP expected."));
  }
}

// A card the target's tables have no class for is logged as such and counts as an empty slot.
TEST(DaemonTest, ACardOutsideTheTargetsTablesIsNamedInTheLog) {
  Daemon d;  // a cmcc phone
  d.state.cards.cardInfo[0] = fixture::card(CardType::kSim, CardLocale::kCuccHome);
  d.state.cards.cardInfo[1] = fixture::kNoCard;
  decideRadioPlan(d.state);
  EXPECT_TRUE(memory::logHas(
      "can not get index of RAT_CAPABILITY_XXXX by m_cardStatus(1) & m_cardType(1) & "
      "m_cardLocale(4)"));
  EXPECT_TRUE(memory::logHas(
      fixture::logged(logline::kCardClass, "getIndexOf_STANDBY_RAT_CAPABILITY", 0, 0)));
}

TEST(DaemonTest, ARunningRildRestartsOnlyWhenItsDstmexChanged) {
  const struct {
    const char* oldLine;
    bool restart;
  } cases[] = {
      {"rild.rat.DSTMEX = 0,7,2\n", false},
      {"rild.rat.DSTMEX =   0,7,2  \r\n", false},
      {"rild.rat.DSTMEX = 0,7,2,0\n", true},  // an old text continuing the new one is a change
      {"rild.rat.DSTMEX = 0,7\n", true},
      {"rild.rat.DSTMEX = \n", true},
      {"rild.rat = 31\n", false},  // no DSTMEX line: nothing to compare
  };
  // After an NVRAM swap nothing running restarts: the golden runs of a swap at start-up and at a
  // hot-plug.
  for (const auto& c : cases) {
    Daemon d;
    strcpy(d.state.plan.standbyDSTMEX[0], "0,7,2");
    strcpy(d.state.plan.standbyDSTMEX[1], "1,0");
    memory::setProperty("init.svc.rild0", "running");
    memory::setProperty("init.svc.rild1", "running");
    fixture::writeFile(memory::path(kRildConfigBasePath + std::string("0"), true), c.oldLine);
    fixture::writeFile(memory::path(kRildConfigBasePath + std::string("1")),
                       "rild.rat.DSTMEX = 1,0\n");
    startRildService(d.state.profile, d.state.cards.cardInfo, d.state.plan, false, -1);
    EXPECT_EQ(c.restart ? "ctl.restart rild0\n" : "", requests()) << c.oldLine;
    EXPECT_TRUE(memory::logHas(fixture::logged(logline::kOldDstmex, 1, "1,0", "1,0", 0)));
  }
}

// An old rild file is read back to what was written; a line no key's, or a key without its " = ",
// is skipped; a number that is not exactly an int32 makes the file unreadable, naming its key, so
// that a damaged file is replaced rather than taken as equal.
TEST(DaemonTest, RildFileReadsBackWhatWasWrittenAndNamesItsFirstBadKey) {
  RildConfig written = {2, 1, 1, 2, 1, "89860012345678901234", 31, 31, "1,1,1", 1, 1, 0, -1};
  char text[1024];
  const int length = formatRildConfig(written, text, sizeof text);
  ASSERT_GT(length, 0);
  const std::string file(text, static_cast<size_t>(length));
  EXPECT_EQ(-1, formatRildConfig(written, text, static_cast<size_t>(length)));  // no room for NUL
  const struct {
    std::string text;
    const char* badKey;  // nullptr: read as written
  } cases[] = {
      {file, nullptr},
      {"rild.unknown = 7\nno separator\n" + file.substr(0, file.size() - 1), nullptr},
      {file + "rild.cs\n", nullptr},
      {file.substr(file.find('\n') + 1), "rild.count"},
      {file + "rild.ps = 2147483648\n", "rild.ps"},
      {file + "rild.ps = -2147483649\n", "rild.ps"},
      {file + "rild.ps = 1x\n", "rild.ps"},
      {file + "rild.ps = \n", "rild.ps"},
      {file + "rild.ps = 0000000000000001\n", "rild.ps"},
  };
  for (const auto& c : cases) {
    RildConfig read;
    const char* badKey = nullptr;
    EXPECT_EQ(c.badKey == nullptr, parseRildConfig(c.text.data(), c.text.size(), read, &badKey))
        << c.text;
    if (c.badKey == nullptr) {
      EXPECT_EQ(length, formatRildConfig(read, text, sizeof text));
      EXPECT_EQ(file, std::string(text, static_cast<size_t>(length))) << c.text;
    } else {
      EXPECT_STREQ(c.badKey, badKey) << c.text;
    }
  }
}

}  // namespace
