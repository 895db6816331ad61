// The per-slot card records and the SIM online mask.
#include "card/card.h"

CardInfo g_cardInfo[MAX_SIM] = {CARD_INFO_RESET, CARD_INFO_RESET, CARD_INFO_RESET, CARD_INFO_RESET,
                                CARD_INFO_RESET};
uint32_t g_dual_sim_online = 0;
