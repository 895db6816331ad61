// radioplan's cards and its words for the daemon's decisions; its numbers, and its reading of a
// phone's files, are checked against the daemon itself end to end (tests/e2e/test_radioplan.py).
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// Every kind of the matrix lands on the table row its name promises, under each target's rules.
TEST(CardKinds, ClassifyAsTheirLabelsSay) {
  const struct {
    const char* target;
    std::vector<std::string> rows;  // per kind, in cardKinds() order
  } cases[] = {
      {"cmcc",
       {"no card", "SIM, home operator", "USIM, home operator", "SIM, other domestic operator",
        "USIM, other domestic operator", "SIM, foreign operator", "USIM, foreign operator",
        "unknown card"}},
      {"cucc",
       {"no card", "SIM, home operator", "USIM, home operator", "SIM, other operator",
        "USIM, other operator", "SIM, other operator", "USIM, other operator", "unknown card"}},
  };
  for (const auto& c : cases) {
    Scene s = whatIf({{"persist.sys.vx.proj.target", c.target}}, "", "");
    for (size_t k = 0; k < cardKinds().size(); k++) {
      const CardInfo card = queryCard(s, 0, kindAnswer(cardKinds()[k].name, 0, c.target));
      EXPECT_EQ(c.rows[k],
                classLabel(s.profile.projectTarget, cardClass(s.profile.projectTarget, card).index))
          << c.target << " " << cardKinds()[k].name;
    }
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
       {"one SIM slot: its card is master", "one SIM on two standbys, with 4G: 2G removed"}},
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
}

}  // namespace
}  // namespace radioplan
