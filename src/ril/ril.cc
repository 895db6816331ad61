// rild configuration files and the start or restart of the rild instances.
#include "ril/ril.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

constexpr size_t kPathSize = kFilePathSize - 16;
// rild reads its file as the daemon's user or through the group the data directory is shared with.
constexpr mode_t kRildConfigMode = 0640;
constexpr int kOldLineSize = 100;
constexpr int kInitRequestTries = 5;
constexpr uint64_t kInitRequestPauseUs = 100000;

// What one standby's file and request are made of.
struct RildInputs {
  const ProjectProfile& profile;
  const CardInfo (&cards)[MAX_SIM];
  const RadioPlan& plan;
  bool isSwitchModem;
};

// The card shown as "other" in standby i's file: none for a lone standby 0.
const CardInfo* otherCard(const RildInputs& in, int standby) {
  if (standby != 0) return &in.cards[0];
  return in.profile.standbyCount >= 2 ? &in.cards[1] : nullptr;
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
bool dstmexChanged(int standby, const char* dstmex, const char* path) {
  FILE* file = openForReading(path);
  if (file == nullptr) return false;
  bool restartRIL = false;
  char line[kOldLineSize] = {};
  while (fgets(line, kOldLineSize - 1, file) != nullptr) {
    char* key = strstr(line, "DSTMEX");
    char* eq = key == nullptr ? nullptr : strchr(key, '=');
    if (eq != nullptr) {
      const char* oldDstmex = trimmed(eq + 1);
      if (strcmp(oldDstmex, dstmex) != 0) restartRIL = true;
      LOGI("standby %d, oldDstmex is %s, this DSTMEX is %s restartRIL = %d", standby, oldDstmex,
           dstmex, restartRIL);
    }
    memset(line, 0, sizeof line);
  }
  fclose(file);
  return restartRIL;
}

bool writeConfigLines(FILE* file, const RildInputs& in, int standby) {
  const CardInfo& card = in.cards[standby];
  const CardInfo* other = otherCard(in, standby);
  int written =
      fprintf(file,
              "rild.count = %d\nrild.simSlot = %d\nrild.cardStatus = %d\n"
              "rild.cardType = %d\nrild.cardLocale = %d\nrild.cardID = %.*s\n"
              "rild.rat = %d\nrild.actualRat = %d\nrild.rat.DSTMEX = %s\n"
              "rild.cs = %d\nrild.ps = %d\nrild.cardStatus.other = %d\n"
              "rild.cardLocale.other = %d\n",
              in.profile.standbyCount, in.plan.standbySimSlot[standby],
              static_cast<int>(card.m_cardStatus), static_cast<int>(card.m_cardType),
              static_cast<int>(card.m_cardLocale), static_cast<int>(fieldLength(card.m_cardID)),
              card.m_cardID, static_cast<int>(in.plan.standbyRat[standby]),
              static_cast<int>(in.plan.standbyActualRat[standby]), in.plan.standbyDSTMEX[standby],
              1, 1, other != nullptr && isPresent(*other) ? 1 : 0,
              static_cast<int>(other != nullptr ? other->m_cardLocale : CardLocale::kUnknown));
  return written > 0;
}

// rild reads the file at any time: it is replaced whole, never seen half-written.
void writeRildConfig(const RildInputs& in, int standby, const char* path) {
  Replacement replacement;
  if (beginReplacement(replacement, path, kRildConfigMode)) {
    if (writeConfigLines(replacement.file, in, standby) && commitReplacement(replacement)) return;
    abandonReplacement(replacement);
  }
  LOGE("write RILD config file \"%s\" failed.", path);
}

void requestRild(int standby, bool restartRIL, bool isSwitchModem) {
  char stateName[32], state[PROPERTY_VALUE_SIZE], service[32];
  snprintf(stateName, sizeof stateName, "init.svc.rild%d", standby);
  snprintf(service, sizeof service, "rild%d", standby);
  getProp(stateName, state, "stopped");
  const char* request = nullptr;
  if (strcmp(state, "stopped") == 0) {
    request = "ctl.start";
  } else if (restartRIL && !isSwitchModem) {
    request = "ctl.restart";
  }
  if (request == nullptr) return;
  LOGE("start %s", service);
  setProp(request, service, kInitRequestTries);
  platformSleepUs(kInitRequestPauseUs);
}

}  // namespace

void startRildService(const ProjectProfile& profile, const CardInfo (&cards)[MAX_SIM],
                      const RadioPlan& plan, bool isSwitchModem, int hotplug_sim) {
  LOGI("startRildService g_isSwitchModem is %d, hotplug_sim: %d", isSwitchModem, hotplug_sim);
  const RildInputs in = {profile, cards, plan, isSwitchModem};
  for (int standby = 0; standby < profile.standbyCount && standby < MAX_STANDBY; standby++) {
    char base[kPathSize], path[kPathSize + 16];
    platformPath(kRildConfigBasePath, base, sizeof base);
    snprintf(path, sizeof path, "%s%d", base, standby);
    const char* dstmex = plan.standbyDSTMEX[standby];
    bool restartRIL = !isSwitchModem && dstmexChanged(standby, dstmex, path);
    writeRildConfig(in, standby, path);
    if (standby == hotplug_sim) {
      LOGE("startRildService set restartRIL as %d for hotplug_sim %d", 1, hotplug_sim);
      restartRIL = true;
    }
    requestRild(standby, restartRIL, isSwitchModem);
  }
}
