// The card record and the card history file's image: their layout is stored byte for byte.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "profile/profile.h"

constexpr int MAX_SIM = 5;
constexpr int CARD_IMSI_SIZE = 20;
constexpr int CARD_ID_SIZE = 40;

// The field types keep the file's 32-bit layout; a damaged history may hold any other value.
enum class CardStatus : int32_t { kAbsent = 0, kPresent = 1, kUnknown = 255 };
enum class CardType : int32_t { kSim = 1, kUsim = 2, kUnknown = 255 };
// CardLocale, a card's home network against the project target, comes with the targets
// (profile/profile.h).

// One slot's card.
struct CardInfo {
  CardStatus m_cardStatus;
  CardType m_cardType;
  CardLocale m_cardLocale;
  char m_cardIMSI[CARD_IMSI_SIZE];
  char m_cardID[CARD_ID_SIZE];
};

static_assert(sizeof(CardInfo) == 72, "CardInfo is stored byte for byte");
static_assert(offsetof(CardInfo, m_cardType) == 4);
static_assert(offsetof(CardInfo, m_cardLocale) == 8);
static_assert(offsetof(CardInfo, m_cardIMSI) == 12);
static_assert(offsetof(CardInfo, m_cardID) == 32);

// A record before any query, and after its slot is reset for a new one.
constexpr CardInfo CARD_INFO_RESET = {
    CardStatus::kAbsent, CardType::kUnknown, CardLocale::kUnknown, {}, {}};

constexpr int CARD_HISTORY_ENTRIES = 20;

// Memory image of the card history file; numbers are little-endian in the file.
struct saved_card_info_st {
  int32_t m_reserved;
  char m_slotCardID[MAX_SIM][CARD_ID_SIZE];
  int32_t m_nextIndex;
  CardInfo m_history[CARD_HISTORY_ENTRIES];
};

static_assert(sizeof(saved_card_info_st) == 1648, "the history file is 1648 bytes");
static_assert(offsetof(saved_card_info_st, m_slotCardID) == 4);
static_assert(offsetof(saved_card_info_st, m_nextIndex) == 204);
static_assert(offsetof(saved_card_info_st, m_history) == 208);

inline bool isPresent(const CardInfo& card) { return card.m_cardStatus == CardStatus::kPresent; }

// Everything known of the cards: one record per slot, which slots hold a card, and the history.
struct Cards {
  CardInfo cardInfo[MAX_SIM] = {CARD_INFO_RESET, CARD_INFO_RESET, CARD_INFO_RESET, CARD_INFO_RESET,
                                CARD_INFO_RESET};
  uint32_t dual_sim_online = 0;  // bit i: slot i holds a card
  saved_card_info_st savedCardInfo = {};
};
