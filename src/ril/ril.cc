// rild configuration files and the start or restart of the rild instances.
#include "ril/ril.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "card/card.h"
#include "modem/modem.h"
#include "platform/platform.h"
#include "profile/profile.h"
#include "rat/rat.h"

namespace {

constexpr size_t kPathSize = 256;
constexpr int kOldLineSize = 100;
constexpr int kInitRequestTries = 5;
constexpr uint64_t kInitRequestPauseUs = 100000;

// The card shown as "other" in standby i's file: none for a lone standby 0.
const CardInfo* otherCard(int standby) {
  if (standby != 0) return &g_cardInfo[0];
  return g_projectProfile.standbyCount >= 2 ? &g_cardInfo[1] : nullptr;
}

// Trims leading and trailing white space in place and returns the start of the text.
char* trimmed(char* text) {
  while (isspace(static_cast<unsigned char>(*text))) text++;
  size_t n = strlen(text);
  while (n > 0 && isspace(static_cast<unsigned char>(text[n - 1]))) text[--n] = '\0';
  return text;
}

// Compares the DSTMEX lines of the standby's old file with the new text. Any difference,
// including an old text that merely continues the new one, means the standby's RATs changed.
int dstmexChanged(int standby, const char* path) {
  FILE* file = fopen(path, "re");
  if (file == nullptr) return 0;
  int restartRIL = 0;
  char line[kOldLineSize] = {};
  while (fgets(line, kOldLineSize - 1, file) != nullptr) {
    char* key = strstr(line, "DSTMEX");
    char* eq = key == nullptr ? nullptr : strchr(key, '=');
    if (eq != nullptr) {
      const char* oldDstmex = trimmed(eq + 1);
      if (strcmp(oldDstmex, standbyDSTMEX[standby]) != 0) restartRIL = 1;
      LOGI("standby %d, oldDstmex is %s, this DSTMEX is %s restartRIL = %d", standby, oldDstmex,
           standbyDSTMEX[standby], restartRIL);
    }
    memset(line, 0, sizeof line);
  }
  fclose(file);
  return restartRIL;
}

bool writeConfigLines(FILE* file, int standby) {
  const CardInfo& card = g_cardInfo[standby];
  const CardInfo* other = otherCard(standby);
  int written = fprintf(
      file,
      "rild.count = %d\nrild.simSlot = %d\nrild.cardStatus = %d\n"
      "rild.cardType = %d\nrild.cardLocale = %d\nrild.cardID = %.*s\n"
      "rild.rat = %d\nrild.actualRat = %d\nrild.rat.DSTMEX = %s\n"
      "rild.cs = %d\nrild.ps = %d\nrild.cardStatus.other = %d\n"
      "rild.cardLocale.other = %d\n",
      g_projectProfile.standbyCount, g_standbySimSlot[standby], card.m_cardStatus, card.m_cardType,
      card.m_cardLocale, static_cast<int>(fieldLength(card.m_cardID)), card.m_cardID,
      static_cast<int>(g_standbyRat[standby]), static_cast<int>(g_standbyActualRat[standby]),
      standbyDSTMEX[standby], 1, 1, other != nullptr && other->m_cardStatus == 1 ? 1 : 0,
      other != nullptr ? other->m_cardLocale : CARD_UNKNOWN);
  return written > 0;
}

// rild reads the file at any time: it is replaced whole, never seen half-written.
void writeRildConfig(int standby, const char* path) {
  char tempPath[kPathSize + 32];
  snprintf(tempPath, sizeof tempPath, "%s.tmp", path);
  FILE* file = fopen(tempPath, "we");
  bool ok = file != nullptr && writeConfigLines(file, standby) && fflush(file) == 0 &&
            fsync(fileno(file)) == 0;
  if (file != nullptr && fclose(file) != 0) ok = false;
  if (ok && rename(tempPath, path) == 0) return;
  if (file != nullptr) unlink(tempPath);
  LOGE("write RILD config file \"%s\" failed.", path);
}

void requestRild(int standby, int restartRIL) {
  char stateName[32], state[PROPERTY_VALUE_SIZE], service[32];
  snprintf(stateName, sizeof stateName, "init.svc.rild%d", standby);
  snprintf(service, sizeof service, "rild%d", standby);
  getProp(stateName, state, "stopped");
  const char* request = nullptr;
  if (strcmp(state, "stopped") == 0) {
    request = "ctl.start";
  } else if (restartRIL == 1 && g_isSwitchModem == 0) {
    request = "ctl.restart";
  }
  if (request == nullptr) return;
  LOGE("start %s", service);
  setProp(request, service, kInitRequestTries);
  platformSleepUs(kInitRequestPauseUs);
}

}  // namespace

int startRildService(int hotplug_sim) {
  LOGI("startRildService g_isSwitchModem is %d, hotplug_sim: %d", g_isSwitchModem, hotplug_sim);
  for (int standby = 0; standby < g_projectProfile.standbyCount && standby < MAX_STANDBY;
       standby++) {
    char base[kPathSize], path[kPathSize + 16];
    platformPath(kRildConfigBasePath, base, sizeof base);
    snprintf(path, sizeof path, "%s%d", base, standby);
    int restartRIL = g_isSwitchModem != 0 ? 0 : dstmexChanged(standby, path);
    writeRildConfig(standby, path);
    if (standby == hotplug_sim) {
      LOGE("startRildService set restartRIL as %d for hotplug_sim %d", 1, hotplug_sim);
      restartRIL = 1;
    }
    requestRild(standby, restartRIL);
  }
  return 0;
}
