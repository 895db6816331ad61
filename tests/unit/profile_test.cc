// Project profile at start-up: factory file, properties and the modem's capability in, profile
// fields and "ro." copies out.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "daemon_fixture.h"
#include "profile/load.h"

namespace {

constexpr char kAbsent[] = "<absent>";

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    memory::reset();
    profile = kInitialProjectProfile;
    capability = {1, 1, 1, {31, 1, 1, 1, 1}};
  }
  // Both halves of the start-up step, the modem's capability between them.
  void load() {
    RatList ratList;
    loadProjectProfile(profile, ratList);
    completeProjectProfile(profile, ratList, capability);
  }
  std::string propertyOrAbsent(const std::string& name) {
    return memory::hasProperty(name) ? memory::property(name) : kAbsent;
  }

  ProjectProfile profile;
  ModemCapability capability;
};

TEST_F(ProfileTest, MultiSimDigitsComeFromAValidFactoryFileElseFromTheProperty) {
  const struct {
    const char* factoryFile;  // nullptr: no file
    const char* property;     // "persist.sys.vx.msms" before start, nullptr: unset
    const char* published;    // "ro.vx.msms"
    const char* persisted;    // "persist.sys.vx.msms" afterwards
    int simCount, standbyCount;
    const char* multisimConfig;
  } cases[] = {
      {"2111", "12", "211", "211", 2, 1, "dsds"},          // one block of three bytes is read
      {"21\n", nullptr, "111", kAbsent, 1, 1, "unknown"},  // third byte not a digit
      {"21", "22", "22", "22", 2, 2, "dsds"},              // short file
      {"981", nullptr, "981", "981", 5, 5, kAbsent},
      {"ab1", "3", "3", "3", 3, '\0' - '0', "tsts"},  // NUL of a short value counts negative
      {nullptr, "0/1", "0/1", "0/1", 0, '/' - '0', kAbsent},
      {nullptr, "41", "41", "41", 4, 1, kAbsent},
  };
  for (const auto& c : cases) {
    SetUp();
    SCOPED_TRACE(std::string("file ") + (c.factoryFile ? c.factoryFile : "(none)"));
    if (c.factoryFile) fixture::writeFile(memory::path(kFactoryFilePath, true), c.factoryFile);
    if (c.property) memory::setProperty("persist.sys.vx.msms", c.property);

    load();

    EXPECT_EQ(memory::property("ro.vx.msms"), c.published);
    EXPECT_EQ(propertyOrAbsent("persist.sys.vx.msms"), c.persisted);
    EXPECT_EQ(profile.simCount, c.simCount);
    EXPECT_EQ(profile.standbyCount, c.standbyCount);
    EXPECT_EQ(propertyOrAbsent("persist.radio.multisim.config"), c.multisimConfig);
  }
}

TEST_F(ProfileTest, MultiSimConfigIsOneDirectWriteLoggedOnlyWhenAccepted) {
  for (bool refused : {false, true}) {
    SetUp();
    memory::setProperty("persist.sys.vx.msms", "221");
    if (refused) memory::refuse("persist.radio.multisim.config");
    load();
    EXPECT_EQ(memory::setAttempts("persist.radio.multisim.config"), 1);
    EXPECT_EQ(memory::logCount(
                  fixture::logged(logline::kPropertySet, "persist.radio.multisim.config", "dsds")),
              !refused);
    EXPECT_EQ(memory::logText().find("multisim.config]: [dsds] failed"), std::string::npos);
  }
}

// The four names and the default are golden runs.
TEST_F(ProfileTest, TargetMatchesExactlyOrStaysNone) {
  for (const char* value : {"CMCC", "cmcc ", "opens"}) {
    SetUp();
    memory::setProperty("persist.sys.vx.proj.target", value);
    load();
    EXPECT_EQ(profile.projectTarget, PROJECT_TARGET_NONE) << value;
    EXPECT_EQ(memory::property("ro.sys.vx.proj.target"), value);
  }
}

TEST_F(ProfileTest, RatListIsCutDownToWhatTheModemSupports) {
  std::string longList = "GSM";  // 91 characters, all kept: the work buffer needs 92 and a NUL
  for (int i = 0; i < 22; i++) longList += ",gsm";
  const struct {
    std::string list;  // "" : unset, default list
    int32_t modemStandbys, cap0, cap1;
    std::string published;
    RatMask g2, g3, g4;
  } cases[] = {
      {"GSM,LTE_FDD,5g", 1, 31, 1, "gsm,lte_fdd", 1, 0, 8},
      {"", 1, 23, 1, "gsm,tdscdma,wcdma,lte_tdd", 1, 18, 4},
      {"gsm, wcdma", 1, 31, 1, "gsm", 1, 0, 0},
      {",gsm,,Gsm,wcdma,", 1, 31, 1, "gsm,gsm,wcdma", 1, 16, 0},
      {"lte_tdd,tdscdma", 1, 1, 1, "", 0, 0, 0},
      {"", 2, 1, 31, "gsm,tdscdma,wcdma,lte_tdd,lte_fdd", 1, 18, 12},  // larger of two stacks
      {"", 1, 1, 31, "gsm", 1, 0, 0},  // one stack: the second mask is not looked at
      {longList, 1, 1, 1, std::string(longList).replace(0, 3, "gsm"), 1, 0, 0},
  };
  for (const auto& c : cases) {
    SetUp();
    SCOPED_TRACE(c.list);
    if (!c.list.empty()) memory::setProperty("persist.sys.vx.proj.rat", c.list);
    capability = {1, c.modemStandbys, 1, {c.cap0, c.cap1, 1, 1, 1}};

    load();

    EXPECT_TRUE(memory::hasProperty("ro.sys.vx.proj.rat"));  // an empty list too
    EXPECT_EQ(memory::property("ro.sys.vx.proj.rat"), c.published);
    EXPECT_TRUE(memory::logHas("after update: " + c.published, LOG_PRIO_DEBUG));
    EXPECT_EQ(profile.rat2GMask, c.g2);
    EXPECT_EQ(profile.rat3GMask, c.g3);
    EXPECT_EQ(profile.rat4GMask, c.g4);
  }
}

TEST_F(ProfileTest, ManualSettingNamesOneStandbyAndItsRatGroups) {
  const struct {
    const char* value;
    int32_t standbyCount, standby;  // standby -1: no setting
    RatMask mask;
    int refusedIndex;  // logged as an invalid index; 0: none refused
  } cases[] = {
      {"", 2, -1, 255, 0},          {"1,0,", 2, -1, 255, 0},  {"1,0,2,7", 2, 1, 18 | 12, 0},
      {"0,0,x", 2, 0, 1, 0},        {"2,0,7", 2, 2, 12, 0},   {"1,0,9,5", 2, 1, 0, 0},
      {"1,0, 7,+2,,", 2, 1, 30, 0}, {"4,0,0", 5, 4, 1, 0},    {"3,0,7", 2, -1, 255, 3},
      {"/,0,7", 2, -1, 255, -1},    {"5,0,0", 5, -1, 255, 5},  // 5 names no per-standby entry
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    SetUp();
    profile = fixture::profile(PROJECT_TARGET_CMCC, 2, c.standbyCount);  // groups 1, 18 and 12
    profile.manualRatStandby = 0;  // left over from an earlier read
    profile.manualRatMask = 7;
    memory::setProperty("persist.sys.vx.manual.rat", c.value);
    getManualInfo(profile);
    EXPECT_EQ(profile.manualRatStandby, c.standby);
    EXPECT_EQ(profile.manualRatMask, c.mask);
    std::string line = "getManualInfo() invalid ratIdx: " + std::to_string(c.refusedIndex) + ".";
    EXPECT_EQ(memory::logHas(line, LOG_PRIO_ERROR), c.refusedIndex != 0);
    EXPECT_EQ(memory::logText().find("invalid ratIdx") != std::string::npos, c.refusedIndex != 0);
  }
}

TEST_F(ProfileTest, PlmnListKeepsTwoCharactersOfUpToTwentyTokens) {
  std::string many = "001";
  for (int i = 11; i < 35; i++) many += "," + std::to_string(i);  // 25 tokens
  const struct {
    const char* value;  // the default list is in every golden run
    std::vector<std::string> entries;
  } cases[] = {
      {many.c_str(), {"00", "11", "12", "13", "14", "15", "16", "17", "18", "19",
                      "20", "21", "22", "23", "24", "25", "26", "27", "28", "29"}},
      {",,,,", {}},
      {"4,,5", {"4", "5"}},
  };
  for (const auto& c : cases) {
    SetUp();
    SCOPED_TRACE(c.value);
    memory::setProperty("persist.sys.vx.plmn.cmcc", c.value);
    memset(profile.cmccPlmnList, 'z', sizeof(PlmnList));

    readPlmnList(prop::kCmccPlmnList, "460,00,02,07,08,20", profile.cmccPlmnList);

    for (int i = 0; i < PLMN_LIST_ENTRIES; i++) {
      std::string expected = i < static_cast<int>(c.entries.size()) ? c.entries[i] : "";
      EXPECT_EQ(std::string(profile.cmccPlmnList[i], PLMN_ENTRY_SIZE),
                expected + std::string(PLMN_ENTRY_SIZE - expected.size(), '\0'))
          << "entry " << i;
    }
  }
}

}  // namespace
