// Dual-standby RAT policy: the card-pair capability tables, the actual RAT decision per standby
// and the standby-to-SIM mapping.
#pragma once

#include <stdint.h>

#include "card/card.h"
#include "modem/modem.h"
#include "profile/profile.h"

// Capability combinations: which card should get the full RAT set.
enum {
  RAT_234G_2G = 1,
  RAT_2G_234G = 2,
  RAT_234G_2G_O = 3,
};

// Actual combinations: which RATs the standbys really get ("_O": the master card's standby).
enum {
  ACTUAL_RAT_234G_2G = 1,
  ACTUAL_RAT_234G_2G_O = 2,
  ACTUAL_RAT_23G_2G = 3,
  ACTUAL_RAT_23G_2G_O = 4,
  ACTUAL_RAT_2G_234G = 5,
  ACTUAL_RAT_2G_23G = 6,
  ACTUAL_RAT_2G_2G = 7,
};

extern uint32_t g_ratTableTarget;

int setRatTableTarget(uint32_t target);
int getIndexOf_STANDBY_RAT_CAPABILITY(const CardInfo* card);
int getIndexOf_STANDBY_ACTUAL_RAT(const CardInfo* card);
int ratGetDualCardCapability(const CardInfo* first, const CardInfo* second);
int ratGetDualCardActualCapability(const CardInfo* first, const CardInfo* second);

// ---- Actual RAT decision ---------------------------------------------------------------------

constexpr int DSTMEX_SIZE = 12;

extern RatMask g_standbyRat[MAX_STANDBY];        // the table's mask, before any narrowing
extern RatMask g_standbyActualRat[MAX_STANDBY];  // the mask the standby really gets
extern char standbyDSTMEX[MAX_STANDBY][DSTMEX_SIZE];

int changeActualRat();

// ---- Standby-to-SIM mapping ---------------------------------------------------------------------

extern int32_t g_standbySimSlot[MAX_STANDBY];  // SIM slot of each standby, -1: none

int mapStandbyToSim();
