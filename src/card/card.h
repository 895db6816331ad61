// SIM cards: the per-slot card records, the card history file, the card-info query, the master
// card and the IMEI check.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr int MAX_SIM = 5;
constexpr int CARD_IMSI_SIZE = 20;
constexpr int CARD_ID_SIZE = 40;

constexpr int32_t CARD_UNKNOWN = 255;  // type or locale not determined

// One slot's card; stored byte for byte in the card history file.
struct CardInfo {
  int32_t m_cardStatus;  // 0 no card (or undetermined), 1 card present
  int32_t m_cardType;    // 1 SIM, 2 USIM, 255 undetermined
  int32_t m_cardLocale;  // home network against the project target, 255 undetermined
  char m_cardIMSI[CARD_IMSI_SIZE];
  char m_cardID[CARD_ID_SIZE];
};

static_assert(sizeof(CardInfo) == 72, "CardInfo is stored byte for byte");
static_assert(offsetof(CardInfo, m_cardType) == 4);
static_assert(offsetof(CardInfo, m_cardLocale) == 8);
static_assert(offsetof(CardInfo, m_cardIMSI) == 12);
static_assert(offsetof(CardInfo, m_cardID) == 32);

// A record before any query, and after its slot is reset for a new one.
constexpr CardInfo CARD_INFO_RESET = {0, CARD_UNKNOWN, CARD_UNKNOWN, {}, {}};

extern CardInfo g_cardInfo[MAX_SIM];
extern uint32_t g_dual_sim_online;  // bit i: slot i holds a card

// ---- Card history ---------------------------------------------------------------------------

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

extern saved_card_info_st g_savedCardInfo;

int readSavedCardInfo(saved_card_info_st* info);
int writeSavedCardInfo(const saved_card_info_st* info);
int updateSavedCardInfo();

// ---- Card-info query ----------------------------------------------------------------------------

int queryCardInfo(int fd, int slot, CardInfo* card);
int queryCardInfoStatus(int fd, CardInfo* card);
int queryCardInfoID(int fd, CardInfo* card);
int queryCardInfoIMSI(int fd, CardInfo* card);
int queryCardInfoType(int fd, CardInfo* card);
// The text after marker in a modem answer, up to its line end, into out (size bytes); false when
// the marker or a following "\r\n" is missing.
bool takeAnswerLine(const char* answer, const char* marker, char* out, size_t size);

// ---- Master card and IMEI
// ------------------------------------------------------------------------

constexpr int MASTER_CARD_SIZE = 16;
extern char g_masterCard[MASTER_CARD_SIZE];  // "10", "20", "12" or "21"

int selectMasterCard();
int checkIMEI();
