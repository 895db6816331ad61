// The card-info query: presence, identity, IMSI, type and home-network class of one slot's card.
#include <string.h>

#include "card/card.h"
#include "platform/platform.h"

namespace {

constexpr int kQueryAttempts = 5;
constexpr uint64_t kQueryRetryPauseUs = 300000;
constexpr int kCardStatusWaitS = 60;
// The shortest IMSI that carries a country and a network code.
constexpr size_t kMinImsiLength = 5;

constexpr char kCardAbsent[] = "^DUSIMU: 0";
constexpr char kCardPresent[] = "^DUSIMU: 1";

// How an IMSI is classified under a project target: own operator, same country, foreign.
struct LocaleRule {
  uint32_t target;
  PlmnList ProjectProfile::*plmnList;  // nullptr: every card gets `own`
  CardLocale own;
  CardLocale sameCountry;
  CardLocale foreign;
};
constexpr LocaleRule kLocaleRules[] = {
    {PROJECT_TARGET_CMCC, &ProjectProfile::cmccPlmnList, CardLocale::kCmccHome,
     CardLocale::kCmccSameCountry, CardLocale::kCmccForeign},
    {PROJECT_TARGET_CUCC, &ProjectProfile::cuccPlmnList, CardLocale::kCuccHome,
     CardLocale::kCuccOther, CardLocale::kCuccOther},
    {PROJECT_TARGET_OPEN, nullptr, CardLocale::kOpen, CardLocale::kOpen, CardLocale::kOpen},
};

struct CardTypeReport {
  const char* text;
  CardType type;
};
constexpr CardTypeReport kCardTypeReports[] = {{"\r\n^DTOC: 1\r\n", CardType::kSim},
                                               {"\r\n^DTOC: 2\r\n", CardType::kUsim}};

// SIM PIN and SIM PUK required: asking again cannot help.
constexpr const char* kImsiLockedErrors[] = {"\r\n+CME ERROR: 11\r\n", "\r\n+CME ERROR: 12\r\n"};

enum class Verdict { kRetry, kDone };
typedef Verdict (*AnswerParser)(const AtOutcome& outcome, const AtResponse& answer, CardInfo& card);

// Sends cmd until parse accepts the answer; the answer buffer is shared by all attempts.
void runQuery(ModemLink& link, const char* cmd, CardInfo& card, AnswerParser parse) {
  AtResponse answer = {};
  for (int attempt = 0; attempt < kQueryAttempts; attempt++) {
    AtOutcome outcome = sendAtSyncOk(link, cmd, &answer);
    if (parse(outcome, answer, card) == Verdict::kDone) return;
    platformSleepUs(kQueryRetryPauseUs);
  }
}

// The channel can be closed under a query; the record is always given.
bool channelMissing(const char* function, const ModemLink& link) {
  if (link.isOpen()) return false;
  LOGE("%s() parameter error: %d, %d", function, 1, 0);
  return true;
}

Verdict parseID(const AtOutcome& outcome, const AtResponse& answer, CardInfo& card) {
  if (!outcome.succeeded()) return Verdict::kRetry;
  return answer.line("^DCID: ", card.m_cardID, CARD_ID_SIZE) ? Verdict::kDone : Verdict::kRetry;
}

Verdict parseIMSI(const AtOutcome& outcome, const AtResponse& answer, CardInfo& card) {
  if (!outcome.succeeded()) {
    for (const char* locked : kImsiLockedErrors) {
      if (answer.holds(locked)) return Verdict::kDone;
    }
    return Verdict::kRetry;
  }
  return answer.line("+CIMI: ", card.m_cardIMSI, CARD_IMSI_SIZE) ? Verdict::kDone : Verdict::kRetry;
}

Verdict parseType(const AtOutcome& outcome, const AtResponse& answer, CardInfo& card) {
  if (!outcome.succeeded()) return Verdict::kRetry;
  for (const CardTypeReport& report : kCardTypeReports) {
    if (!answer.holds(report.text)) continue;
    card.m_cardType = report.type;
    return Verdict::kDone;
  }
  return Verdict::kRetry;
}

// Sends "AT^DUSIMR=1" and reads until the modem reports the card; false when no report came.
// Each chunk is searched by itself, read into the buffer the first answer came in.
bool waitCardStatus(ModemLink& link, CardInfo& card) {
  AtResponse report = {};
  if (!sendAtSyncOk(link, "AT^DUSIMR=1\r", &report).succeeded()) return false;
  for (;;) {
    if (report.holds(kCardAbsent)) {
      card.m_cardStatus = CardStatus::kAbsent;
      return true;
    }
    if (report.holds(kCardPresent)) {
      card.m_cardStatus = CardStatus::kPresent;
      return true;
    }
    // A hung-up line makes this fail, so the wait cannot spin.
    if (readAtWithTimeout(link, report.text, kCardStatusWaitS) != 0) return false;
  }
}

// The card-status report switched on for one wait, and off again whatever the wait gave.
bool askCardStatus(ModemLink& link, CardInfo& card) {
  sendAtSyncOk(link, "AT^DLKS=1\r");
  LOGI("waiting for the unsolicited result code of sim status.");
  bool decided = waitCardStatus(link, card);
  sendAtSyncOk(link, "AT^DLKS=0\r");
  sendAtSyncOk(link, "AT^DUSIMR=0\r");
  return decided;
}

// Fills type, locale and IMSI from the history entry with this card's identity. True when the
// entry is good enough to spare the IMSI and type queries.
bool takeFromHistory(const saved_card_info_st& history, CardInfo& card) {
  for (const CardInfo& entry : history.m_history) {
    if (strncmp(entry.m_cardID, card.m_cardID, CARD_ID_SIZE) != 0) continue;
    card.m_cardType = entry.m_cardType;
    card.m_cardLocale = entry.m_cardLocale;
    copyText(card.m_cardIMSI, entry.m_cardIMSI, fieldLength(entry.m_cardIMSI));
    LOGI("Found a saved (U)SIM card info");
    return strlen(card.m_cardIMSI) >= kMinImsiLength && card.m_cardType != CardType::kUnknown;
  }
  return false;
}

// Entry 0 of a PLMN list is the IMSI prefix, the later ones network codes up to the first empty.
bool networkCodeListed(const char* imsi, const PlmnList& list) {
  for (int i = 1; i < PLMN_LIST_ENTRIES && list[i][0] != '\0'; i++) {
    if (fieldLength(list[i]) == 2 && list[i][0] == imsi[3] && list[i][1] == imsi[4]) return true;
  }
  return false;
}

void decideLocale(const ProjectProfile& profile, CardInfo& card) {
  const char* imsi = card.m_cardIMSI;
  if (strlen(imsi) < kMinImsiLength) {
    card.m_cardLocale = CardLocale::kUnknown;
    return;
  }
  for (const LocaleRule& rule : kLocaleRules) {
    if (rule.target != profile.projectTarget) continue;
    if (rule.plmnList == nullptr) {
      card.m_cardLocale = rule.own;
      return;
    }
    const PlmnList& list = profile.*rule.plmnList;
    if (strncmp(imsi, list[0], fieldLength(list[0])) != 0) {
      card.m_cardLocale = rule.foreign;
    } else {
      card.m_cardLocale = networkCodeListed(imsi, list) ? rule.own : rule.sameCountry;
    }
    return;
  }
  // No rule for this target: a locale taken from the history stays.
}

}  // namespace

bool queryCardInfoStatus(ModemLink& link, CardInfo& card) {
  int reopens = link.reopens;
  bool decided = askCardStatus(link, card);
  // The line hung up during the wait and came back: the report went with the old line.
  if (!decided && link.reopens != reopens) decided = askCardStatus(link, card);
  return decided;
}

void queryCardInfoID(ModemLink& link, CardInfo& card) {
  if (channelMissing("queryCardInfoID", link)) return;
  memset(card.m_cardID, 0, sizeof card.m_cardID);
  runQuery(link, "AT^DCID\r", card, parseID);
}

void queryCardInfoIMSI(ModemLink& link, CardInfo& card) {
  if (channelMissing("queryCardInfoIMSI", link)) return;
  memset(card.m_cardIMSI, 0, sizeof card.m_cardIMSI);
  runQuery(link, "AT+CIMI\r", card, parseIMSI);
}

void queryCardInfoType(ModemLink& link, CardInfo& card) {
  if (channelMissing("queryCardInfoType", link)) return;
  card.m_cardType = CardType::kUnknown;
  runQuery(link, "AT^DTOC\r", card, parseType);
}

void queryCardInfo(ModemLink& link, int slot, CardInfo& card, const ProjectProfile& profile,
                   const saved_card_info_st& history) {
  // A channel that never opened is refused here; the slot and the record are always given.
  if (link.fd < 0) {
    LOGE("%s() parameter error: %d, %d, %d", "queryCardInfo", 1, 0, 0);
    return;
  }
  card = CARD_INFO_RESET;
  switchToStandby(link, slot);
  queryCardInfoStatus(link, card);
  if (isPresent(card)) {
    queryCardInfoID(link, card);
    if (card.m_cardID[0] == '\0' || !takeFromHistory(history, card)) {
      queryCardInfoIMSI(link, card);
      queryCardInfoType(link, card);
    }
  }
  decideLocale(profile, card);
}
