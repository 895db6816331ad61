// radioplan's cards and its words for the daemon's decisions; its numbers, and its reading of a
// phone's files, are checked against the daemon itself end to end (tests/e2e/test_radioplan.py).
#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "daemonlog/records.h"
#include "platform/log_lines.h"
#include "platform/properties.h"
#include "radioplan/explain.h"
#include "radioplan/render.h"
#include "radioplan/state.h"

namespace radioplan {
namespace {

TEST(CardSpec, AcceptsCardsAndKindsAndRefusesTheRest) {
  const CardAnswer a = parseCardSpec("usim:460001234567890:8986", 1, "cmcc");
  EXPECT_EQ(
      (std::vector<std::string>{"1", "2", "460001234567890", "8986"}),
      (std::vector<std::string>{std::to_string(a.present), std::to_string(a.type), a.imsi, a.id}));
  EXPECT_EQ(CardAnswer::Lock::kPuk, parseCardSpec("sim:puk", 0, "cmcc").lock);
  EXPECT_FALSE(parseCardSpec("none", 0, "cmcc").present);
  EXPECT_EQ("460011234567890", parseCardSpec("usim-home", 0, "cucc").imsi);
  for (const char* bad : {"", "usim", "esim:460001234567890", "usim:4600", "sim:46000x",
                          "usim:46000123456789012345", "usim-roaming"}) {
    EXPECT_THROW(parseCardSpec(bad, 0, "cmcc"), std::invalid_argument) << bad;
  }
}

Scene whatIf(const std::vector<std::pair<std::string, std::string>>& properties,
             const std::string& slot0, const std::string& slot1, const std::string& msms = "221",
             std::vector<int32_t> capability = {}) {
  Overrides o;
  for (const auto& [name, value] : properties) o.properties[name] = value;
  o.factoryDigits = msms;
  o.slotSpec[0] = slot0;
  o.slotSpec[1] = slot1;
  o.capability = capability;
  return sceneWhatIf(o);
}

// Every kind of the matrix, under its label, lands on the table row of that name (the cucc
// target's kinds differ by their IMSIs only: CardSpec above).
TEST(CardKinds, ClassifyAsTheirLabelsSay) {
  const Scene s = whatIf({{"persist.sys.vx.proj.target", "cmcc"}}, "", "");
  const uint32_t target = s.profile.projectTarget;
  for (const CardKind& kind : cardKinds()) {
    const CardInfo card = queryCard(s, 0, kindAnswer(kind.name, 0, "cmcc"));
    // A locked card's IMSI is unreadable: its row is that of an unknown card.
    const std::string row = kind.name == std::string("pin") ? "unknown card" : kind.label;
    EXPECT_EQ(row, classLabel(target, cardClass(target, card).index)) << kind.name;
  }
}

// Each decision is told with the rule behind it.
TEST(Report, NamesTheRuleBehindEachDecision) {
  const struct {
    Scene scene;
    std::vector<std::string> says;
  } cases[] = {
      {whatIf({{"persist.sys.vx.proj.target", "cmcc"}}, "sim:460019876543210",
              "usim:460001234567890"),
       {"slot 0: SIM, other domestic operator (46001)", "Master card: card 2 (slot 1), code 20",
        "RAT_CAPABILITY_CMCC row 3 (SIM, other domestic operator), column 5 (USIM, home "
        "operator) gives RAT_2G_234G",
        "standby 0 (SIM slot 0): table 2G (gsm = 1) -> actual 2G (gsm = 1), DSTMEX 1,0"}},
      {whatIf({}, "usim:pin", "sim:puk"),
       {"slot 0: USIM, PIN-locked: IMSI unreadable; identity whatif-slot0; table row 1 (unknown "
        "card)"}},
      {whatIf({{"persist.radio.default.data", "1"}, {"persist.radio.pref.net.type", "1"}},
              "sim-home", "sim-home"),
       {"the default data card (persist.radio.default.data = \"1\") decides",
        "its card is a SIM: 4G removed",
        "preferred network type 1 (persist.radio.pref.net.type): 3G/4G removed"}},
      {whatIf({}, "usim-home", "", "121"),
       {"one SIM slot: its card is master", "one SIM on two standbys, with 4G: 2G removed",
        "standby 1 (SIM slot 0)",
        "rild.cfg1's card fields still describe slot 1, which this "
        "phone lacks"}},
      {whatIf({{"persist.sys.vx.proj.target", "ctc"}}, "usim-home", "none"),
       {"USIM, home network not classed: the target ctc has no operator rule",
        "no class: the target ctc has no tables", "(no actual table for target ctc)"}},
      {whatIf({{"persist.sys.vx.manual.rat", "1,0,2,7"}}, "usim-home", "none"),
       {"the manual RAT setting (persist.sys.vx.manual.rat) names standby 1",
        "a manual RAT setting leaves the modem as it is"}},
      {whatIf({}, "none", "usim-home", "221", {31, 1}),
       {"NVRAM: swapped, modem reset",
        "standby 1 wants 2G/3G/4G (gsm,tdscdma,wcdma,lte_tdd,lte_fdd = 31) but the modem's "
        "standby 1 offers 2G (gsm = 1); another standby of the modem offers it"}},
  };
  for (const auto& c : cases) {
    const RadioPlan plan = planOf(c.scene);
    const std::string text = reportText(explain(c.scene, plan, writesOf(c.scene, plan)));
    for (const std::string& s : c.says)
      EXPECT_NE(std::string::npos, text.find(s)) << s << "\n" << text;
  }
  // What a decision read is named alike in the plan and on the daemon's own line of it.
  const Scene& scene = cases[0].scene;
  const RadioPlan plan = planOf(scene);
  const Json report = explain(scene, plan, writesOf(scene, plan));
  char master[128], nvram[64];
  snprintf(master, sizeof master, logline::kPropertySet, prop::kMasterCard.name, "20");
  snprintf(nvram, sizeof nvram, logline::kSwitchNvram, "false");
  EXPECT_EQ(daemonlog::readRecord(master)["inputs"].dump(),
            report["master"]["reads"]["inputs"].dump());
  EXPECT_EQ(daemonlog::readRecord(nvram)["inputs"].dump(),
            report["nvram"]["reads"]["inputs"].dump());
  EXPECT_TRUE(report["cards"][0]["reads"].contains("card"));
}

}  // namespace
}  // namespace radioplan
