// The card-info query: presence, identity, IMSI, type and home-network class of one slot's card.
#include <string.h>

#include "card/card.h"
#include "modem/modem.h"
#include "platform/platform.h"
#include "profile/profile.h"

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
  int32_t own;
  int32_t sameCountry;
  int32_t foreign;
};
constexpr LocaleRule kLocaleRules[] = {
    {PROJECT_TARGET_CMCC, &ProjectProfile::cmccPlmnList, 1, 2, 3},
    {PROJECT_TARGET_CUCC, &ProjectProfile::cuccPlmnList, 4, 5, 5},
    {PROJECT_TARGET_OPEN, nullptr, 6, 6, 6},
};

struct CardTypeReport {
  const char* text;
  int32_t type;
};
constexpr CardTypeReport kCardTypeReports[] = {{"\r\n^DTOC: 1\r\n", 1}, {"\r\n^DTOC: 2\r\n", 2}};

// SIM PIN and SIM PUK required: asking again cannot help.
constexpr const char* kImsiLockedErrors[] = {"\r\n+CME ERROR: 11\r\n", "\r\n+CME ERROR: 12\r\n"};

enum Verdict { RETRY, DONE };
typedef Verdict (*AnswerParser)(int result, int isOk, const char* answer, CardInfo* card);

// Sends cmd until parse accepts the answer; the answer buffer is shared by all attempts.
int runQuery(int fd, const char* cmd, CardInfo* card, AnswerParser parse) {
  char answer[AT_CHUNK_SIZE] = {};
  int result = -1;
  for (int attempt = 0; attempt < kQueryAttempts; attempt++) {
    int isOk = 0;
    result = sendAtSyncOk(fd, cmd, &isOk, answer, sizeof answer);
    if (parse(result, isOk, answer, card) == DONE) return result;
    platformSleepUs(kQueryRetryPauseUs);
  }
  return result;
}

bool parametersBad(const char* function, int fd, const CardInfo* card) {
  if (fd >= 1 && card != nullptr) return false;
  LOGE("%s() parameter error: %d, %d", function, fd < 1, card == nullptr);
  return true;
}

Verdict parseID(int result, int isOk, const char* answer, CardInfo* card) {
  if (result != 0 || !isOk) return RETRY;
  return takeAnswerLine(answer, "^DCID: ", card->m_cardID, CARD_ID_SIZE) ? DONE : RETRY;
}

Verdict parseIMSI(int result, int isOk, const char* answer, CardInfo* card) {
  if (result != 0 || isOk != 1) {
    for (const char* locked : kImsiLockedErrors) {
      if (strstr(answer, locked) != nullptr) return DONE;
    }
    return RETRY;
  }
  return takeAnswerLine(answer, "+CIMI: ", card->m_cardIMSI, CARD_IMSI_SIZE) ? DONE : RETRY;
}

Verdict parseType(int result, int isOk, const char* answer, CardInfo* card) {
  if (result != 0 || !isOk) return RETRY;
  for (const CardTypeReport& report : kCardTypeReports) {
    if (strstr(answer, report.text) == nullptr) continue;
    card->m_cardType = report.type;
    return DONE;
  }
  return RETRY;
}

// Sends "AT^DUSIMR=1" and reads until the modem reports the card; -1 when no report came.
int waitCardStatus(int fd, CardInfo* card) {
  char chunk[AT_CHUNK_SIZE] = {};
  int isOk = 0;
  if (sendAtSyncOk(fd, "AT^DUSIMR=1\r", &isOk, chunk, sizeof chunk) != 0 || !isOk) return -1;
  if (strstr(chunk, kCardAbsent) != nullptr) {
    card->m_cardStatus = 0;
    return 0;
  }
  for (;;) {
    if (strstr(chunk, kCardPresent) != nullptr) {
      card->m_cardStatus = 1;
      return 0;
    }
    // A hung-up line makes this fail, so the wait cannot spin.
    if (readAtWithTimeout(fd, chunk, kCardStatusWaitS) != 0) return -1;
    if (strstr(chunk, kCardAbsent) != nullptr) {
      card->m_cardStatus = 0;
      return 0;
    }
  }
}

// Fills type, locale and IMSI from the history entry with this card's identity. True when the
// entry is good enough to spare the IMSI and type queries.
bool takeFromHistory(CardInfo* card) {
  for (const CardInfo& entry : g_savedCardInfo.m_history) {
    if (strncmp(entry.m_cardID, card->m_cardID, CARD_ID_SIZE) != 0) continue;
    card->m_cardType = entry.m_cardType;
    card->m_cardLocale = entry.m_cardLocale;
    copyText(card->m_cardIMSI, entry.m_cardIMSI, fieldLength(entry.m_cardIMSI));
    LOGI("Found a saved (U)SIM card info");
    return strlen(card->m_cardIMSI) >= kMinImsiLength && card->m_cardType != CARD_UNKNOWN;
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

void decideLocale(CardInfo* card) {
  const char* imsi = card->m_cardIMSI;
  if (strlen(imsi) < kMinImsiLength) {
    card->m_cardLocale = CARD_UNKNOWN;
    return;
  }
  for (const LocaleRule& rule : kLocaleRules) {
    if (rule.target != g_projectProfile.projectTarget) continue;
    if (rule.plmnList == nullptr) {
      card->m_cardLocale = rule.own;
      return;
    }
    const PlmnList& list = g_projectProfile.*rule.plmnList;
    if (strncmp(imsi, list[0], fieldLength(list[0])) != 0) {
      card->m_cardLocale = rule.foreign;
    } else {
      card->m_cardLocale = networkCodeListed(imsi, list) ? rule.own : rule.sameCountry;
    }
    return;
  }
  // No rule for this target: a locale taken from the history stays.
}

}  // namespace

bool takeAnswerLine(const char* answer, const char* marker, char* out, size_t size) {
  const char* start = strstr(answer, marker);
  if (start == nullptr) return false;
  start += strlen(marker);
  if (strstr(start, "\r\n") == nullptr) return false;
  // Up to the first CR or LF, not just the CR LF pair: a stray line break in a modem's answer
  // must never reach the rild files or a later AT command.
  copyText(out, size, start, strcspn(start, "\r\n"));
  return true;
}

int queryCardInfoStatus(int fd, CardInfo* card) {
  if (card == nullptr) {
    LOGE("%s() parameter error: %d", "queryCardInfoStatus", 1);
    return -1;
  }
  int isOk = 0;
  sendAtSyncOk(fd, "AT^DLKS=1\r", &isOk, nullptr, 0);
  LOGI("waiting for the unsolicited result code of sim status.");
  int result = waitCardStatus(fd, card);
  sendAtSyncOk(fd, "AT^DLKS=0\r", &isOk, nullptr, 0);
  sendAtSyncOk(fd, "AT^DUSIMR=0\r", &isOk, nullptr, 0);
  return result;
}

int queryCardInfoID(int fd, CardInfo* card) {
  if (parametersBad("queryCardInfoID", fd, card)) return -1;
  memset(card->m_cardID, 0, sizeof card->m_cardID);
  return runQuery(fd, "AT^DCID\r", card, parseID);
}

int queryCardInfoIMSI(int fd, CardInfo* card) {
  if (parametersBad("queryCardInfoIMSI", fd, card)) return -1;
  memset(card->m_cardIMSI, 0, sizeof card->m_cardIMSI);
  return runQuery(fd, "AT+CIMI\r", card, parseIMSI);
}

int queryCardInfoType(int fd, CardInfo* card) {
  if (parametersBad("queryCardInfoType", fd, card)) return -1;
  card->m_cardType = CARD_UNKNOWN;
  return runQuery(fd, "AT^DTOC\r", card, parseType);
}

int queryCardInfo(int fd, int slot, CardInfo* card) {
  if (fd < 0 || slot < 0 || card == nullptr) {
    LOGE("%s() parameter error: %d, %d, %d", "queryCardInfo", fd < 0, slot < 0, card == nullptr);
    return -1;
  }
  *card = CARD_INFO_RESET;
  switchToStandby(fd, slot);
  queryCardInfoStatus(fd, card);
  if (card->m_cardStatus == 1) {
    queryCardInfoID(fd, card);
    if (card->m_cardID[0] == '\0' || !takeFromHistory(card)) {
      queryCardInfoIMSI(fd, card);
      queryCardInfoType(fd, card);
    }
  } else {
    card->m_cardType = CARD_UNKNOWN;
  }
  decideLocale(card);
  return 0;
}
