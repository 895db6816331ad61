// A slot's card as values: the modem's answers read into a record, and the record classified
// (the history's entry for the card, the home network under the project target). No I/O: the
// card query asks the modem and uses these, and so does every tool that explains a card.
#pragma once

#include "card/record.h"
#include "modem/exchange.h"
#include "profile/profile.h"

// Whether one attempt's answer settles a query (kDone) or the query asks again (kRetry).
enum class AnswerVerdict { kRetry, kDone };

// Each reads one answer into the field its query fills: "^DCID: " into m_cardID, "+CIMI: " into
// m_cardIMSI (a PIN or PUK error settles it with the field left empty), "^DTOC: 1" or "2" into
// m_cardType.
AnswerVerdict readIdAnswer(const AtOutcome& outcome, const AtResponse& answer, CardInfo& card);
AnswerVerdict readImsiAnswer(const AtOutcome& outcome, const AtResponse& answer, CardInfo& card);
AnswerVerdict readTypeAnswer(const AtOutcome& outcome, const AtResponse& answer, CardInfo& card);

// The history's entry for a card identity; nullptr when it has none (an empty identity has none).
const CardInfo* findSavedCard(const saved_card_info_st& history, const char* id);
// Whether an entry knows the card well enough to spare the IMSI and type queries.
bool savedCardSparesQueries(const CardInfo& entry);

// The record of a slot's card from the modem's answers (status, identity, IMSI, type as the
// queries stored them, the last two unused when the history spares them): what the history knows
// of the card, and the home-network class under the profile's target.
CardInfo classifyCard(const CardInfo& answers, const ProjectProfile& profile,
                      const saved_card_info_st& history);
