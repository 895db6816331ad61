// Project profile tables: the RAT names and the project targets.
#include "profile/profile.h"

constexpr RatName ratNameTable[6] = {
    {"gsm", RAT_GSM},         {"tdscdma", RAT_TDSCDMA}, {"wcdma", RAT_WCDMA},
    {"lte_tdd", RAT_LTE_TDD}, {"lte_fdd", RAT_LTE_FDD}, {"", 0},
};

constexpr ProjectTargetName projectTargetTable[5] = {
    {"open", PROJECT_TARGET_OPEN}, {"cmcc", PROJECT_TARGET_CMCC}, {"cucc", PROJECT_TARGET_CUCC},
    {"ctc", PROJECT_TARGET_CTC},   {"", PROJECT_TARGET_NONE},
};
