// Master card selection: which card gets the larger RAT set, published as a two-character code.
#include <string.h>

#include "card/card.h"
#include "platform/platform.h"
#include "profile/profile.h"
#include "rat/rat.h"

char g_masterCard[MASTER_CARD_SIZE] = "10";

namespace {

constexpr char kMasterCardProperty[] = "persist.radio.vx.master.card";
constexpr char kDefaultDataProperty[] = "persist.radio.default.data";
constexpr int kPropertyTries = 3;
// Two characters and the terminator: all of g_masterCard that is ever written.
constexpr size_t kCodeBytes = 3;

// Both cards equally capable: the default data card decides, else the card that was master
// last time, followed by its identity in case it moved to the other slot.
const char* chooseAmongEqualCards() {
  char value[PROPERTY_VALUE_SIZE] = {};
  if (getProp(kDefaultDataProperty, value, nullptr) == 0 && value[0] != '\0') {
    return value[0] == '0' ? "12" : "21";
  }
  const char(&lastMaster)[CARD_ID_SIZE] =
      g_savedCardInfo.m_slotCardID[g_masterCard[0] == '1' ? 0 : 1];
  int chosen = -1;
  if (strncmp(lastMaster, g_cardInfo[0].m_cardID, CARD_ID_SIZE) == 0) {
    chosen = 1;
  } else if (strncmp(lastMaster, g_cardInfo[1].m_cardID, CARD_ID_SIZE) == 0) {
    chosen = 2;
  }
  char shown[CARD_ID_SIZE];
  copyText(shown, lastMaster, fieldLength(lastMaster));
  LOGI("current master card is %d according to last master card id %s", chosen, shown);
  return chosen == 2 ? "21" : "12";
}

// The code for this set-up, or nullptr when the stored code is to stay.
const char* decideMasterCard(int combination) {
  const ProjectProfile& profile = g_projectProfile;
  if (profile.manualRatStandby >= 0 && profile.manualRatStandby <= profile.standbyCount) {
    return profile.manualRatStandby == 0 ? "10" : "20";
  }
  bool supported =
      (profile.simCount == 1 && (profile.standbyCount == 1 || profile.standbyCount == 2)) ||
      (profile.simCount == 2 && (profile.standbyCount == 2 || profile.standbyCount == 3));
  if (!supported) {
    LOGE("unsupported mode: simCount(%d) and standbyCount(%d)", profile.simCount,
         profile.standbyCount);
    return nullptr;
  }
  if (profile.simCount == 1 || profile.dynamicRat != 1) return "10";
  switch (combination) {
    case RAT_234G_2G:
      return "10";
    case RAT_2G_234G:
      return "20";
    case RAT_234G_2G_O:
      return chooseAmongEqualCards();
    default:
      return nullptr;
  }
}

}  // namespace

int selectMasterCard() {
  char stored[PROPERTY_VALUE_SIZE] = {};
  getProp(kMasterCardProperty, stored, "10");
  memcpy(g_masterCard, stored, kCodeBytes);
  int combination = ratGetDualCardCapability(&g_cardInfo[0], &g_cardInfo[1]);
  const char* code = decideMasterCard(combination);
  if (code == nullptr) return 0;
  setProp(kMasterCardProperty, code, kPropertyTries);
  memcpy(g_masterCard, code, kCodeBytes);
  return 0;
}
