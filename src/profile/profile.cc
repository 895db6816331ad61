// Project profile tables: the RAT names.
#include "profile/profile.h"

constexpr RatName ratNameTable[6] = {
    {"gsm", RAT_GSM},         {"tdscdma", RAT_TDSCDMA}, {"wcdma", RAT_WCDMA},
    {"lte_tdd", RAT_LTE_TDD}, {"lte_fdd", RAT_LTE_FDD}, {"", 0},
};
