// The card-info query: presence, identity, IMSI and type of one slot's card, asked of the modem,
// then classified (classify.h).
#include "card/query.h"

#include <string.h>

#include "card/classify.h"
#include "modem/commands.h"
#include "platform/log_lines.h"
#include "platform/platform.h"

namespace {

// The card-status report comes within 60 s or not at all, whatever else the modem says meanwhile.
constexpr int64_t kCardStatusWaitUs = 60000000;
constexpr ReportWait kCardStatusWait = {kCardStatusWaitUs, kCardStatusWaitUs, 0};
// No card first: a read that shows both counts as no card.
constexpr const char* kCardReports[] = {"^DUSIMU: 0", "^DUSIMU: 1"};

// Sends a query's command until its reader accepts the answer; one answer for all attempts.
void runQuery(ModemLink& link, CardCommand query, CardInfo& card) {
  const CardCommandRow& row = cardCommand(query);
  AtAnswer answer;
  retryCommand(link, row.command, answer,
               [&row, &card](const AtOutcome& outcome, const AtAnswer& got) {
                 return row.read(outcome, got, card) == AnswerVerdict::kDone;
               });
}

// The channel can be closed under a query; the record is always given.
bool channelMissing(const char* function, const ModemLink& link) {
  if (link.isOpen()) return false;
  LOGE("%s() parameter error: %d, %d", function, 1, 0);
  return true;
}

// Sends "AT^DUSIMR=1" and waits for the modem to report the card, in that answer or after it;
// false when no report came within the wait's bound. A read that shows both reports counts as no
// card.
bool waitCardStatus(ModemLink& link, CardInfo& card) {
  if (!sendAtSyncOk(link, cardCommand(CardCommand::kStatusOn).command).succeeded()) return false;
  int report = waitForReport(link, kCardReports, 2, kCardStatusWait);
  if (report < 0) return false;
  card.m_cardStatus = report == 0 ? CardStatus::kAbsent : CardStatus::kPresent;
  return true;
}

// The card-status report switched on for one wait, and off again whatever the wait gave.
bool askCardStatus(ModemLink& link, CardInfo& card) {
  sendAtSyncOk(link, modemCommand(ModemCommand::kLock));
  LOGI("waiting for the unsolicited result code of sim status.");
  bool decided = waitCardStatus(link, card);
  sendAtSyncOk(link, modemCommand(ModemCommand::kUnlock));
  sendAtSyncOk(link, cardCommand(CardCommand::kStatusOff).command);
  return decided;
}

}  // namespace

bool queryCardInfoStatus(ModemLink& link, CardInfo& card) {
  int reopens = link.line.reopens;
  bool decided = askCardStatus(link, card);
  // The line hung up during the wait and came back: the report went with the old line.
  if (!decided && link.line.reopens != reopens) decided = askCardStatus(link, card);
  return decided;
}

void queryCardInfoID(ModemLink& link, CardInfo& card) {
  if (channelMissing("queryCardInfoID", link)) return;
  memset(card.m_cardID, 0, sizeof card.m_cardID);
  runQuery(link, CardCommand::kId, card);
}

void queryCardInfoIMSI(ModemLink& link, CardInfo& card) {
  if (channelMissing("queryCardInfoIMSI", link)) return;
  memset(card.m_cardIMSI, 0, sizeof card.m_cardIMSI);
  runQuery(link, CardCommand::kImsi, card);
}

void queryCardInfoType(ModemLink& link, CardInfo& card) {
  if (channelMissing("queryCardInfoType", link)) return;
  card.m_cardType = CardType::kUnknown;
  runQuery(link, CardCommand::kType, card);
}

void queryCardInfo(ModemLink& link, int slot, CardInfo& card, const ProjectProfile& profile,
                   const saved_card_info_st& history) {
  // A channel that never opened is refused here; the slot and the record are always given.
  if (link.neverOpened()) {
    LOGE("%s() parameter error: %d, %d, %d", "queryCardInfo", 1, 0, 0);
    return;
  }
  // What the modem answers goes into this record; the card's record is made from it.
  CardInfo answers = CARD_INFO_RESET;
  switchToStandby(link, slot);
  queryCardInfoStatus(link, answers);
  if (isPresent(answers)) {
    queryCardInfoID(link, answers);
    const CardInfo* saved = findSavedCard(history, answers.m_cardID);
    if (saved != nullptr) LOGI(logline::kSavedCard);
    if (saved == nullptr || !savedCardSparesQueries(*saved)) {
      queryCardInfoIMSI(link, answers);
      queryCardInfoType(link, answers);
    }
  }
  card = classifyCard(answers, profile, history);
}
