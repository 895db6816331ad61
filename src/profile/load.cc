// Reading the project profile at start-up: the factory file, the "persist." properties and the
// modem's capability, each setting published again as a read-only "ro." copy.
#include "profile/load.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "platform/files.h"
#include "platform/log_lines.h"
#include "platform/text.h"
#include "profile/targets.h"

namespace {

constexpr int kPublishTries = 3;
constexpr size_t kMultiSimDigits = 3;
constexpr int32_t kMaxCount = 5;

// What rild's multi-SIM mode is called for each SIM count; other counts publish nothing.
struct MultiSimConfig {
  int32_t simCount;
  const char* value;
};
constexpr MultiSimConfig kMultiSimConfigTable[] = {{1, "unknown"}, {2, "dsds"}, {3, "tsts"}};

// The manual setting names its RATs by access technology number; each adds one project group.
constexpr size_t kManualCodesOffset = 4;
struct ManualCode {
  long code;
  RatMask ProjectProfile::*group;
};
constexpr ManualCode kManualCodes[] = {
    {0, &ProjectProfile::rat2GMask},
    {2, &ProjectProfile::rat3GMask},
    {7, &ProjectProfile::rat4GMask},
};

constexpr size_t kPlmnEntryChars = 2;

// Reads a setting and publishes it unchanged as its "ro." copy.
void copyToReadOnly(const Property& property, const char* defaultValue, const Property& copy,
                    char* value) {
  getProp(property, value, defaultValue);
  setProp(copy, value, kPublishTries);
}

// The factory file wins over the property, but only when it holds three digits.
bool readFactoryDigits(char* value) {
  char path[PATH_MAX];
  if (platformPath(kFactoryFilePath, path, sizeof path) != 0) {
    LOGE("factory file path too long: %s", kFactoryFilePath);
    return false;
  }
  FILE* file = openForReading(path);
  if (file == nullptr) return false;
  char digits[kMultiSimDigits] = {};
  size_t blocks = fread(digits, sizeof digits, 1, file);
  fclose(file);
  if (blocks != 1) return false;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
  }
  copyText(value, PROPERTY_VALUE_SIZE, digits, sizeof digits);
  return true;
}

// Anything above '5' is capped; anything below '0' (the NUL of a short value) goes negative.
int32_t decodeCount(char c) {
  int32_t code = static_cast<unsigned char>(c);
  return code > '5' ? kMaxCount : code - '0';
}

// Written straight to the platform, once: rild reads it, and a refusal is not worth a retry.
void writeMultiSimConfig(int32_t simCount) {
  for (const MultiSimConfig& row : kMultiSimConfigTable) {
    if (row.simCount != simCount) continue;
    if (platformPropertySet(prop::kMultiSimConfig.name, row.value) == 0) {
      logPropertySet(prop::kMultiSimConfig.name, row.value);
    }
    return;
  }
}

void loadMultiSimDigits(ProjectProfile& profile) {
  char value[PROPERTY_VALUE_SIZE] = {};
  if (readFactoryDigits(value)) {
    setProp(prop::kMsms, value, kPublishTries);
  } else {
    getProp(prop::kMsms, value, "111");
  }
  setProp(prop::kPublishedMsms, value, kPublishTries);
  profile.simCount = decodeCount(value[0]);
  profile.standbyCount = decodeCount(value[1]);
  writeMultiSimConfig(profile.simCount);
}

void loadProjectTarget(ProjectProfile& profile) {
  char value[PROPERTY_VALUE_SIZE];
  copyToReadOnly(prop::kProjectTarget, "cmcc", prop::kPublishedProjectTarget, value);
  for (const ProjectTargetName* row = projectTargetTable; row->name[0] != '\0'; row++) {
    if (strcmp(value, row->name) == 0) {
      profile.projectTarget = row->code;
      return;
    }
  }
}

// The modem's RAT: standby 0's, or the larger of the first two when the modem has two stacks.
int32_t modemRat(const ModemCapability& capability) {
  const int32_t* cap = capability.standbyRatCap;
  if (capability.modemStandbyCount > 1 && cap[1] > cap[0]) return cap[1];
  return cap[0];
}

const RatName* findRatName(const char* token, size_t length) {
  for (const RatName* row = ratNameTable; row->name[0] != '\0'; row++) {
    if (strlen(row->name) == length && strncasecmp(token, row->name, length) == 0) return row;
  }
  return nullptr;
}

// The groups by substring: each RAT named anywhere in the filtered list counts.
void setRatGroups(ProjectProfile& profile, const char* ratList) {
  RatMask mask = 0;
  for (const RatName* row = ratNameTable; row->name[0] != '\0'; row++) {
    if (strstr(ratList, row->name) != nullptr) mask |= row->bit;
  }
  profile.rat2GMask = mask & RAT_2G_MASK;
  profile.rat3GMask = mask & RAT_3G_MASK;
  profile.rat4GMask = mask & RAT_4G_MASK;
}

void loadSecondCardRatList() {
  char value[PROPERTY_VALUE_SIZE];
  getProp(prop::kProjectRat1, value, nullptr);
  if (value[0] != '\0') setProp(prop::kPublishedRat1, value, kPublishTries);
}

}  // namespace

void loadProjectProfile(ProjectProfile& profile, RatList& ratList) {
  char value[PROPERTY_VALUE_SIZE];
  loadMultiSimDigits(profile);
  copyToReadOnly(prop::kProjectType, "mass", prop::kPublishedProjectType, value);
  loadProjectTarget(profile);
  getProp(prop::kProjectRat, ratList, "gsm,tdscdma,wcdma,lte_tdd,lte_fdd");
}

void completeProjectProfile(ProjectProfile& profile, RatList& ratList,
                            const ModemCapability& capability) {
  updateRatByModem(ratList, capability);
  setProp(prop::kPublishedRatList, ratList, kPublishTries);
  setRatGroups(profile, ratList);
  loadSecondCardRatList();
  char value[PROPERTY_VALUE_SIZE];
  copyToReadOnly(prop::kDynamicRat, "1", prop::kPublishedDynamicRat, value);
  profile.dynamicRat = value[0] == '1' ? 1 : 0;
  copyToReadOnly(prop::kDualToSingle, "1", prop::kPublishedDualToSingle, value);
}

void updateRatByModem(RatList& ratList, const ModemCapability& capability) {
  int32_t rat = modemRat(capability);
  LOGD(logline::kModemRat, rat);
  LOGD(logline::kRatListBefore, ratList);

  // Each kept token grows by at most its comma, so the result is at most one character longer
  // than the list before its trailing comma goes.
  char result[PROPERTY_VALUE_SIZE + 1] = {};
  size_t used = 0;
  const char* cursor = ratList;
  size_t length = 0;
  while (const char* token = nextToken(&cursor, &length)) {
    const RatName* row = findRatName(token, length);
    if (row == nullptr || (static_cast<RatMask>(rat) & row->bit) == 0) continue;
    size_t needed = strlen(row->name) + 1;
    if (used + needed >= sizeof result) break;  // only a list longer than a property value
    used += snprintf(result + used, sizeof result - used, "%s,", row->name);
  }
  if (used > 0 && result[used - 1] == ',') result[--used] = '\0';
  copyText(ratList, result);
  LOGD(logline::kRatListAfter, ratList);
}

void getManualInfo(ProjectProfile& profile) {
  profile.manualRatStandby = NO_MANUAL_RAT_STANDBY;
  profile.manualRatMask = NO_MANUAL_RAT_MASK;

  char value[PROPERTY_VALUE_SIZE];
  getProp(prop::kManualRat, value, "");
  if (strlen(value) <= kManualCodesOffset) return;

  // The per-standby arrays end at MAX_STANDBY, so an index naming no entry is refused as well.
  int32_t index = static_cast<unsigned char>(value[0]) - '0';
  if (index < 0 || index > profile.standbyCount || index >= MAX_STANDBY) {
    LOGE("%s() invalid ratIdx: %d.", __func__, index);
    return;
  }

  RatMask mask = 0;
  const char* cursor = value + kManualCodesOffset;
  size_t length = 0;
  while (const char* token = nextToken(&cursor, &length)) {
    long code = strtol(token, nullptr, 10);
    for (const ManualCode& row : kManualCodes) {
      if (row.code == code) mask |= profile.*row.group;
    }
  }
  profile.manualRatStandby = index;
  profile.manualRatMask = mask;
}

void readPlmnLists(ProjectProfile& profile) {
  for (const ProjectTargetName* row = projectTargetTable; row->name[0] != '\0'; row++) {
    const PlmnSource& plmn = row->plmn;
    if (plmn.property == nullptr) continue;
    readPlmnList(*plmn.property, plmn.defaultValue, profile.*plmn.list);
  }
}

void readPlmnList(const Property& property, const char* defaultValue, PlmnList list) {
  memset(list, 0, sizeof(PlmnList));
  char value[PROPERTY_VALUE_SIZE];
  getProp(property, value, defaultValue);

  const char* cursor = value;
  size_t length = 0;
  for (int filled = 0; filled < PLMN_LIST_ENTRIES; filled++) {
    const char* token = nextToken(&cursor, &length);
    if (token == nullptr) break;
    copyText(list[filled], PLMN_ENTRY_SIZE, token,
             length < kPlmnEntryChars ? length : kPlmnEntryChars);
  }
}
