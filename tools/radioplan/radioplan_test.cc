// radioplan's reading of its inputs and its words for the daemon's decisions.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "radioplan/explain.h"
#include "radioplan/render.h"
#include "radioplan/state.h"

namespace radioplan {
namespace {

std::string tempFile(const std::string& content) {
  char path[] = "/tmp/rptestXXXXXX";
  const int fd = mkstemp(path);
  if (fd >= 0) close(fd);
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

// The error line for a file's content, "" when it parses.
std::string getpropError(const std::string& content) {
  const std::string path = tempFile(content);
  std::string error;
  try {
    parseGetprop(path);
  } catch (const InputError& e) {
    error = e.what();
  }
  unlink(path.c_str());
  return error;
}

TEST(Getprop, ReadsAdbOutputAndNamesWhatIsWrong) {
  const std::string path = tempFile("[ro.vx.msms]: [221]\r\n\n[persist.x]: []\n[odd]: [a]: [b]]\n");
  const Properties p = parseGetprop(path);
  unlink(path.c_str());
  EXPECT_EQ((Properties{{"ro.vx.msms", "221"}, {"persist.x", ""}, {"odd", "a]: [b]"}}), p);

  const struct {
    std::string content, error;
  } cases[] = {
      {"", "empty file"},
      {std::string("[a]: [b]\n\0\n", 11), "binary data"},
      {"[a]: [b]\n[c]: [d", "line 2 is cut short"},
      {"[a]: [b]\nc=d\n[e]: [f]\n", "line 2 is not a \"[name]: [value]\" line"},
      {"[a] [b]\n", "line 1 is not"},
  };
  for (const auto& c : cases) {
    EXPECT_NE(std::string::npos, getpropError(c.content).find(c.error)) << c.content;
  }
}

TEST(CardSpec, AcceptsCardsAndKindsAndRefusesTheRest) {
  CardAnswer a = parseCardSpec("usim:460001234567890:8986", 1, "cmcc");
  EXPECT_TRUE(a.present);
  EXPECT_EQ(2, a.type);
  EXPECT_EQ("460001234567890", a.imsi);
  EXPECT_EQ("8986", a.id);
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

// Every kind lands on the table row its name promises, under each target's own rules.
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
      {"open", {"no card", "SIM", "USIM", "SIM", "USIM", "SIM", "USIM", "unknown card"}},
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

std::string report(const Scene& s) {
  const RadioPlan plan = planOf(s);
  return reportText(explain(s, plan, writesOf(s, plan)));
}

// Each decision is told with its rule; table-driven over the rules that shape a plan.
TEST(Report, NamesTheRuleBehindEachDecision) {
  const struct {
    const char* what;
    Scene scene;
    std::vector<std::string> says;
  } cases[] = {
      {"an operator's USIM in slot 1, another operator's SIM in slot 0",
       whatIf({{"persist.sys.vx.proj.target", "cmcc"}}, "sim:460019876543210",
              "usim:460001234567890"),
       {"slot 0: SIM, other domestic operator (46001)", "slot 1: USIM, home operator (46000)",
        "Master card: card 2 (slot 1), code 20",
        "RAT_CAPABILITY_CMCC row 3 (SIM, other domestic operator), column 5 (USIM, home "
        "operator) gives RAT_2G_234G",
        "standby 0 (SIM slot 0): table 2G (gsm = 1) -> actual 2G (gsm = 1), DSTMEX 1,0",
        "-> actual 2G/3G/4G (gsm,tdscdma,wcdma,lte_tdd,lte_fdd = 31), DSTMEX 0,7,2,0"}},
      {"locked cards",
       whatIf({}, "usim:pin", "sim:puk"),
       {"slot 0: USIM, PIN-locked: IMSI unreadable; identity whatif-slot0; table row 1 (unknown "
        "card)",
        "slot 1: SIM, PUK-locked: IMSI unreadable"}},
      {"equal cards, default data card, SIM narrowed by the preferred network type",
       whatIf({{"persist.radio.default.data", "1"}, {"persist.radio.pref.net.type", "1"}},
              "sim-home", "sim-home"),
       {"code 21", "the default data card (persist.radio.default.data = \"1\") decides",
        "goes to standby 1 (the master card's standby)", "its card is a SIM: 4G removed",
        "preferred network type 1 (persist.radio.pref.net.type): 3G/4G removed"}},
      {"one SIM on two standbys",
       whatIf({}, "usim-home", "", "121"),
       {"one SIM slot: its card is master", "one SIM on two standbys, with 4G: 2G removed",
        "standby 1 (SIM slot 0)"}},
      {"manual setting",
       whatIf({{"persist.sys.vx.manual.rat", "1,0,2,7"}}, "usim-home", "none"),
       {"the manual RAT setting (persist.sys.vx.manual.rat) names standby 1",
        "the manual setting gives the larger set to standby 1 instead: this one gets 2G",
        "NVRAM: not checked", "a manual RAT setting leaves the modem as it is"}},
      {"refused manual setting",
       whatIf({{"persist.sys.vx.manual.rat", "7,0,2,7"}}, "none", "none"),
       {"manual RAT setting: none", "getManualInfo() invalid ratIdx: 7."}},
      {"capability that forces a swap",
       whatIf({}, "none", "usim-home", "221", {31, 1}),
       {"NVRAM: swapped, modem reset",
        "standby 1 wants 2G/3G/4G (gsm,tdscdma,wcdma,lte_tdd,lte_fdd = 31) but the modem's "
        "standby 1 offers 2G (gsm = 1); another standby of the modem offers it",
        "sys.vx.swap.nvram.standby=1"}},
      {"modem without LTE",
       whatIf({}, "usim-home", "none", "221", {23, 23}),
       {"after the modem's capability gsm,tdscdma,wcdma,lte_tdd", "DSTMEX 0,7,2,0"}},
      {"target without tables",
       whatIf({{"persist.sys.vx.proj.target", "ctc"}}, "usim:460001234567890", "none"),
       {"home network undetermined (no rule for target ctc)",
        "the target ctc has no tables; nothing decided"}},
  };
  for (const auto& c : cases) {
    const std::string text = report(c.scene);
    for (const std::string& s : c.says) {
      EXPECT_NE(std::string::npos, text.find(s)) << c.what << ": no \"" << s << "\" in\n" << text;
    }
  }
}

TEST(Matrix, HoldsEveryPairWithTheMasterAndEachStandby) {
  const Json m = matrix(whatIf({{"persist.sys.vx.proj.target", "cmcc"}}, "", ""));
  ASSERT_EQ(8u, m["cells"].size());
  const Json& cell = m["cells"][3][2];  // SIM of another operator, the operator's USIM
  EXPECT_EQ("sim-domestic", cell["slot0"]);
  EXPECT_EQ("usim-home", cell["slot1"]);
  EXPECT_EQ("20", cell["master"]);
  EXPECT_EQ("1,31", cell["actual_rat_value"]);
  EXPECT_EQ("1,0", cell["standbys"][0]["dstmex"]);
  const std::string html = matrixHtml(m);
  EXPECT_EQ(std::string::npos, html.find("http"));  // nothing fetched from elsewhere
  EXPECT_NE(std::string::npos, html.find("id=\"legend\""));
}

}  // namespace
}  // namespace radioplan
