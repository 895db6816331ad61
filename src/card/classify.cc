// A slot's card as values: answers read, history entry found, home network classified.
#include "card/classify.h"

#include <string.h>

#include "platform/text.h"
#include "profile/targets.h"

namespace {

// The shortest IMSI that carries a country and a network code.
constexpr size_t kMinImsiLength = 5;

// The type report's values, in the order they are looked for.
struct CardTypeReport {
  const char* value;
  CardType type;
};
constexpr CardTypeReport kCardTypeReports[] = {{"1", CardType::kSim}, {"2", CardType::kUsim}};

// SIM PIN and SIM PUK required (+CME ERROR numbers): asking again cannot help.
constexpr int kImsiLockedErrors[] = {11, 12};

// The value of the answer's line for cmd into field (size bytes); false without such a line.
bool readValue(const AtAnswer& answer, CardCommand cmd, char* field, size_t size) {
  return answer.copyValue(cardCommand(cmd).command.prefix, field, size);
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
  const ProjectTargetName& target = projectTarget(profile.projectTarget);
  const LocaleRule& rule = target.locales;
  if (!rule.classes) return;  // no rule for this target: a locale taken from the history stays
  if (target.plmn.list == nullptr) {
    card.m_cardLocale = rule.own;
    return;
  }
  const PlmnList& list = profile.*target.plmn.list;
  if (strncmp(imsi, list[0], fieldLength(list[0])) != 0) {
    card.m_cardLocale = rule.foreign;
  } else {
    card.m_cardLocale = networkCodeListed(imsi, list) ? rule.own : rule.sameCountry;
  }
}

}  // namespace

AnswerVerdict readIdAnswer(const AtOutcome& outcome, const AtAnswer& answer, CardInfo& card) {
  if (!outcome.succeeded()) return AnswerVerdict::kRetry;
  return readValue(answer, CardCommand::kId, card.m_cardID, CARD_ID_SIZE) ? AnswerVerdict::kDone
                                                                          : AnswerVerdict::kRetry;
}

AnswerVerdict readImsiAnswer(const AtOutcome& outcome, const AtAnswer& answer, CardInfo& card) {
  if (!outcome.succeeded()) {
    for (int locked : kImsiLockedErrors) {
      if (answer.cmeError() == locked) return AnswerVerdict::kDone;
    }
    return AnswerVerdict::kRetry;
  }
  return readValue(answer, CardCommand::kImsi, card.m_cardIMSI, CARD_IMSI_SIZE)
             ? AnswerVerdict::kDone
             : AnswerVerdict::kRetry;
}

AnswerVerdict readTypeAnswer(const AtOutcome& outcome, const AtAnswer& answer, CardInfo& card) {
  if (!outcome.succeeded()) return AnswerVerdict::kRetry;
  for (const CardTypeReport& report : kCardTypeReports) {
    if (!answer.hasLine(cardCommand(CardCommand::kType).command.prefix, report.value)) continue;
    card.m_cardType = report.type;
    return AnswerVerdict::kDone;
  }
  return AnswerVerdict::kRetry;
}

const CardInfo* findSavedCard(const saved_card_info_st& history, const char* id) {
  if (id[0] == '\0') return nullptr;
  for (const CardInfo& entry : history.m_history) {
    if (strncmp(entry.m_cardID, id, CARD_ID_SIZE) == 0) return &entry;
  }
  return nullptr;
}

bool savedCardSparesQueries(const CardInfo& entry) {
  return strnlen(entry.m_cardIMSI, CARD_IMSI_SIZE) >= kMinImsiLength &&
         entry.m_cardType != CardType::kUnknown;
}

CardInfo classifyCard(const CardInfo& answers, const ProjectProfile& profile,
                      const saved_card_info_st& history) {
  CardInfo card = CARD_INFO_RESET;
  card.m_cardStatus = answers.m_cardStatus;
  if (isPresent(card)) {
    copyText(card.m_cardID, answers.m_cardID, fieldLength(answers.m_cardID));
    copyText(card.m_cardIMSI, answers.m_cardIMSI, fieldLength(answers.m_cardIMSI));
    card.m_cardType = answers.m_cardType;
    // A known card keeps the class it had; its IMSI and type too when they were good enough to
    // spare asking for them.
    if (const CardInfo* entry = findSavedCard(history, card.m_cardID)) {
      card.m_cardLocale = entry->m_cardLocale;
      if (savedCardSparesQueries(*entry)) {
        card.m_cardType = entry->m_cardType;
        copyText(card.m_cardIMSI, entry->m_cardIMSI, fieldLength(entry->m_cardIMSI));
      }
    }
  }
  decideLocale(profile, card);
  return card;
}
