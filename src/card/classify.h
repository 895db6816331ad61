// A slot's card as values: the modem's answers read into a record, and the record classified
// (the history's entry for the card, the home network under the project target). No I/O: the
// card query asks the modem and uses these, and so does every tool that explains a card.
#pragma once

#include "card/record.h"
#include "modem/exchange.h"
#include "profile/profile.h"

// Whether one attempt's answer settles a query (kDone) or the query asks again (kRetry).
enum class AnswerVerdict { kRetry, kDone };

// Each reads one answer's own lines into the field its query fills: the "^DCID: " line into
// m_cardID, the "+CIMI: " line into m_cardIMSI (a PIN or PUK error settles it with the field left
// empty), a "^DTOC: 1" or "2" line into m_cardType.
AnswerVerdict readIdAnswer(const AtOutcome& outcome, const AtAnswer& answer, CardInfo& card);
AnswerVerdict readImsiAnswer(const AtOutcome& outcome, const AtAnswer& answer, CardInfo& card);
AnswerVerdict readTypeAnswer(const AtOutcome& outcome, const AtAnswer& answer, CardInfo& card);
typedef AnswerVerdict (*AnswerReader)(const AtOutcome& outcome, const AtAnswer& answer,
                                      CardInfo& card);

// The card folder's commands, one row each: the command (text, information-line prefix, report
// asked for, attempts, pause after a failed attempt, bound, whether it concerns the current
// standby) and the reader that settles an attempt (none: judged by its code, or read by its
// caller).
enum class CardCommand { kStatusOn, kStatusOff, kId, kImsi, kType, kImei, kImeiWrite };
struct CardCommandRow {
  AtCommand command;
  AnswerReader read;
};
// The card queries' attempts and pause.
constexpr int kCardQueryAttempts = 5;
constexpr uint64_t kCardQueryPauseUs = 300000;
constexpr CardCommandRow kCardCommands[] = {
    {{"AT^DUSIMR=1", nullptr, "^DUSIMU: ", 1, 0, kAtExchangeBoundUs, true}, nullptr},
    {{"AT^DUSIMR=0", nullptr, nullptr, 1, 0, kAtExchangeBoundUs, true}, nullptr},
    {{"AT^DCID", "^DCID: ", nullptr, kCardQueryAttempts, kCardQueryPauseUs, kAtExchangeBoundUs,
      true},
     readIdAnswer},
    {{"AT+CIMI", "+CIMI: ", nullptr, kCardQueryAttempts, kCardQueryPauseUs, kAtExchangeBoundUs,
      true},
     readImsiAnswer},
    {{"AT^DTOC", "^DTOC: ", nullptr, kCardQueryAttempts, kCardQueryPauseUs, kAtExchangeBoundUs,
      true},
     readTypeAnswer},
    {{"AT+CGSN", "+CGSN: ", nullptr, 1, 0, kAtExchangeBoundUs, true}, nullptr},
    {{"AT^DCGSNW=%s", nullptr, nullptr, 1, 0, kAtExchangeBoundUs, true}, nullptr},
};
constexpr const CardCommandRow& cardCommand(CardCommand c) {
  return kCardCommands[static_cast<int>(c)];
}

// The history's entry for a card identity; nullptr when it has none (an empty identity has none).
const CardInfo* findSavedCard(const saved_card_info_st& history, const char* id);
// Whether an entry knows the card well enough to spare the IMSI and type queries.
bool savedCardSparesQueries(const CardInfo& entry);

// The record of a slot's card from the modem's answers (status, identity, IMSI, type as the
// queries stored them, the last two unused when the history spares them): what the history knows
// of the card, and the home-network class under the profile's target.
CardInfo classifyCard(const CardInfo& answers, const ProjectProfile& profile,
                      const saved_card_info_st& history);
