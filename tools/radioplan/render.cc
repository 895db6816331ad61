// The report and the matrix rendered; see render.h. Everything shown comes from the JSON document,
// so the formats never disagree.
#include "radioplan/render.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>

#include "platform/properties.h"
#include "ril/rild_file.h"

namespace radioplan {
namespace {

std::string str(const Json& j) { return j.is_string() ? j.get<std::string>() : j.dump(); }

std::string joined(const Json& list, const std::string& separator) {
  std::string out;
  for (const Json& item : list) out += (out.empty() ? "" : separator) + str(item);
  return out;
}

// Plain text or Markdown, with the same structure.
class Doc {
 public:
  explicit Doc(bool markdown) : md_(markdown) {}
  void title(const std::string& t) { out_ += md_ ? "## " + t + "\n" : t + "\n"; }
  void heading(const std::string& h) { out_ += md_ ? "\n### " + h + "\n\n" : "\n" + h + "\n"; }
  void item(const std::string& t, int depth = 0) {
    out_ += md_ ? std::string(depth * 2, ' ') + "- " + t + "\n"
                : std::string(2 + depth * 4, ' ') + (depth > 0 ? "- " : "") + t + "\n";
  }
  void line(const std::string& t) { out_ += t + "\n"; }
  std::string code(const std::string& t) const { return md_ ? "`" + t + "`" : t; }
  std::string bold(const std::string& t) const { return md_ ? "**" + t + "**" : t; }
  void block(const std::string& name, const std::string& text) {
    if (md_) {
      out_ += "\n`" + name + "`:\n\n```\n" + text + "```\n";
    } else {
      out_ += "    " + name + ":\n";
      for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        out_ += "      " + text.substr(at, end - at) + "\n";
        at = end + 1;
      }
    }
  }
  const std::string& text() const { return out_; }
  bool markdown() const { return md_; }

 private:
  bool md_;
  std::string out_;
};

std::string onOff(bool on) { return on ? "on" : "off"; }

std::string valueOrUnset(const Doc& d, const Json& v) {
  if (v.is_null()) return "unknown";
  const std::string s = str(v);
  return s.empty() ? "unset" : d.code(s);
}

void renderProfile(Doc& d, const Json& r) {
  const Json& p = r["profile"];
  d.heading("Profile");
  d.item(str(p["sim_count"]) + " SIM slot(s), " + str(p["standby_count"]) +
         " standby(s) (multi-SIM digits " + d.code(str(p["msms"])) + "), target " +
         d.code(str(p["target"])) + ", dynamic RAT " + onOff(p["dynamic_rat"].get<bool>()));
  d.item("RAT list " + d.code(str(p["rat_list"])) + "; after the modem's capability " +
         d.code(str(p["rat_list_after_modem"])));
  if (r.contains("capability")) {
    std::string caps;
    for (const Json& c : r["capability"]["standbys"]) caps += (caps.empty() ? "" : ", ") + str(c);
    d.item("modem capability per standby: " + caps + " (" + str(r["capability"]["source"]) + ")");
  }
  const Json& m = p["manual"];
  d.item("manual RAT setting: " + (m.is_null()
                                       ? std::string("none")
                                       : d.code(str(m["text"])) + ": standby " + str(m["standby"]) +
                                             " gets " + str(m["rats"])));
  d.item("preferred network type: " + valueOrUnset(d, p["pref_net_type"]) +
         "; default data card: " + valueOrUnset(d, p["default_data"]) +
         "; stored master card: " + valueOrUnset(d, p["stored_master"]));
}

void renderWrites(Doc& d, const Json& r, bool files) {
  const Json& w = r["writes"];
  d.heading("What the daemon writes");
  for (const Json& p : w["properties"]) d.item(d.code(str(p[0]) + "=" + str(p[1])));
  for (const auto& [name, text] : w["rild_files"].items()) {
    if (files) {
      d.block(name, str(text));
      continue;
    }
    const std::string t = str(text);
    RildConfig c;
    const char* badKey = nullptr;
    if (!parseRildConfig(t.data(), t.size(), c, &badKey)) continue;
    d.item(d.code(name) + ": slot " + std::to_string(c.simSlot) + ", card status " +
           std::to_string(c.cardStatus) + ", rat " + std::to_string(c.rat) + ", actualRat " +
           std::to_string(c.actualRat) + ", DSTMEX " + d.code(c.dstmex));
  }
  d.item("init: " + (w["init"].empty() ? std::string("no request") : joined(w["init"], ", ")));
}

void renderObserved(Doc& d, const Json& r) {
  if (!r.contains("observed")) return;
  const Json& o = r["observed"];
  d.heading("Against what the state holds");
  if (o["compared"].empty()) {
    d.item("nothing to compare: the state holds none of the daemon's outputs");
  } else if (o["differences"].empty()) {
    d.item("agrees on all " + std::to_string(o["compared"].size()) + " values compared (" +
           joined(o["compared"], ", ") + ")");
  } else {
    for (const Json& diff : o["differences"]) d.item("differs: " + str(diff));
  }
}

std::string said(const Json& v) { return v.is_null() ? "unknown" : str(v); }

void renderIdentity(Doc& d, const Json& id) {
  const std::string gap = d.markdown() ? "\n" : "";
  d.line(gap + "Phone: device " + said(id["device"]) + ", build " + said(id["fingerprint"]) +
         ", baseband " + said(id["baseband"]) + "; report taken " + said(id["taken"]));
  d.line(gap + "Start " + (id["start"] == 0 ? std::string("(not whole)") : str(id["start"])) +
         " at " + said(id["start_time"]) + " (line " + str(id["start_line"]) + ")");
  for (const Json& h : id["hotplugs"]) {
    d.line(gap + "Hot-plug at " + said(h["time"]) + " (line " + str(h["line"]) +
           "): " + str(h["event"]));
  }
}

// Per standby: how many exchanges ended OK, and each that did not or took retries.
void renderExchanges(Doc& d, const Json& id) {
  if (id["exchanges"].empty() && id["errors"].empty()) return;
  d.heading("What the modem answered, per standby");
  for (const auto& [standby, list] : id["exchanges"].items()) {
    int ok = 0;
    std::string trouble;
    for (const Json& e : list) {
      const bool clean = e["result"] == "OK" && e["tries"] == 1;
      ok += e["result"] == "OK" ? 1 : 0;
      if (clean) continue;
      trouble += "; " + d.code(str(e["command"])) + ": " + str(e["result"]) +
                 (e["tries"] == 1 ? "" : " after " + str(e["tries"]) + " tries") + " (line " +
                 str(e["line"]) + ")";
    }
    d.item((standby == "-1" ? std::string("before a standby") : "standby " + standby) + ": " +
           std::to_string(list.size()) + " commands, " + std::to_string(ok) + " OK" + trouble);
  }
  for (const Json& e : id["errors"]) {
    d.item("the daemon's error at line " + str(e["line"]) + ": " + d.code(str(e["text"])));
  }
}

// The lines before the first heading: where the state came from, each input, what is missing
// or assumed.
void renderPreamble(Doc& d, const Json& r, bool brief) {
  const std::string gap = d.markdown() ? "\n" : "";
  if (!r["sources"].empty() && !brief) d.line(gap + "From: " + joined(r["sources"], "; "));
  if (r.contains("integration")) d.line(gap + "Integration: " + str(r["integration"]));
  if (r.contains("report")) renderIdentity(d, r["report"]);
  for (const Json& in : r.value("inputs", Json::array())) {
    d.line(gap + "Input: " + str(in["name"]) + " = " + valueOrUnset(d, in["value"]) + " (" +
           str(in["source"]) + ")");
  }
  for (const Json& m : r["missing"]) d.line(gap + "Missing: " + str(m));
  for (const Json& a : r["assumptions"]) d.line(gap + "Assumed: " + str(a));
}

void renderCards(Doc& d, const Json& r, bool brief) {
  d.heading("Cards");
  for (const Json& c : r["cards"]) {
    const std::string row = c["table_index"].is_null() ? str(c["table_label"])
                                                       : "table row " + str(c["table_index"]) +
                                                             " (" + str(c["table_label"]) + ")";
    d.item("slot " + str(c["slot"]) + ": " + d.bold(str(c["class"])) +
           (str(c["id"]).empty() ? "" : "; identity " + d.code(str(c["id"]))) + "; " + row +
           (brief ? "" : "; from " + str(c["source"])));
  }
  if (r["cards"].empty()) d.item("no SIM slot in this profile");
}

// The inputs a decision read, for a report of what the phone decided: none for a plan.
void renderReads(Doc& d, const Json& r, const Json& reads) {
  if (!r.contains("report")) return;
  std::string words;
  for (const Json& in : reads.value("inputs", Json::array())) {
    words += (words.empty() ? "" : ", ") + d.code(str(in));
  }
  d.item("read: " + words, 1);
}

// The three decisions: the master card, each standby's RATs, the NVRAM.
void renderDecisions(Doc& d, const Json& r) {
  const Json& m = r["master"];
  d.heading("Master card: " + d.bold(str(m["words"])) +
            (m["code"] == "unknown" ? "" : ", code " + d.code(str(m["code"]))) +
            (m["written"].get<bool>() ? "" : " (kept: not decided this time)"));
  d.item("why: " + str(m["reason"]));
  renderReads(d, r, m["reads"]);

  const Json& t = r["actual_table"];
  d.heading("Standbys");
  for (const Json& s : r["standbys"]) {
    const std::string slot =
        s["slot"].get<int>() < 0 ? "no SIM slot in this mode" : "SIM slot " + str(s["slot"]);
    d.item("standby " + str(s["standby"]) + " (" + slot + "): table " + str(s["table_rats"]) +
           " -> actual " + d.bold(str(s["actual_rats"])) + ", DSTMEX " + d.code(str(s["dstmex"])));
    for (const Json& why : s["reasons"]) d.item(str(why), 1);
    renderReads(d, r, s["reads"]["actual_rat"]);
  }
  d.item(d.code(prop::kActualRat.name) + " = " + d.code(str(r["actual_rat_value"])) + " (" +
         (t["table"].is_null() ? "no actual table for target " + str(r["profile"]["target"])
                               : str(t["table"]) + ", " + str(t["combination"])) +
         ")");

  const Json& nvram = r["nvram"];
  const std::string state = str(nvram["state"]);
  d.heading("NVRAM: " + (state == "swapped" ? state + ", modem reset" : state));
  d.item(str(nvram["reason"]));
  renderReads(d, r, nvram["reads"]);
}

std::string render(const Json& r, bool markdown, bool files, bool brief) {
  Doc d(markdown);
  d.title("Radio plan (" + str(r["mode"]) + ")");
  renderPreamble(d, r, brief);
  if (!brief) renderProfile(d, r);
  renderCards(d, r, brief);
  renderDecisions(d, r);
  if (brief) return d.text();
  renderWrites(d, r, files);
  renderObserved(d, r);
  if (r.contains("report")) renderExchanges(d, r["report"]);
  if (!r["daemon_errors"].empty()) {
    d.heading("The daemon's own errors while reading this state");
    for (const Json& e : r["daemon_errors"]) d.item(d.code(str(e)));
  }
  return d.text();
}

// "234|2": each standby's generations by their digits.
std::string compactRats(const Json& standbys) {
  std::string out;
  for (const Json& s : standbys) {
    std::string g = str(s["generations"]);
    std::string digits;
    for (char c : g) {
      if (c >= '2' && c <= '4') digits += c;
    }
    out += (out.empty() ? "" : "|") + (digits.empty() ? "-" : digits);
  }
  return out;
}

std::string pad(const std::string& s, size_t width) {
  return s.size() >= width ? s + " " : s + std::string(width - s.size(), ' ');
}

std::string profileLine(const Json& m) {
  const Json& p = m["profile"];
  std::string pref = str(p["pref_net_type"]);
  return "target " + str(p["target"]) + ", " + str(p["sim_count"]) + " SIM slot(s), " +
         str(p["standby_count"]) + " standby(s) (digits " + str(p["msms"]) + "), RATs " +
         str(p["rat_list_after_modem"]) + ", dynamic RAT " + onOff(p["dynamic_rat"].get<bool>()) +
         ", preferred network type " + (pref.empty() ? "unset" : pref) + ", manual setting " +
         (p["manual"].is_null() ? "none" : str(p["manual"]["text"])) + ", default data card " +
         (str(p["default_data"]).empty() ? "unset" : str(p["default_data"]));
}

// What the rows and columns of a matrix are.
std::string columnsWords(const Json& m) {
  return m["columns"].size() == 1
             ? "Rows: the card in slot 0; one column, since the profile has one SIM slot"
             : "Rows: the card in slot 0; columns: the card in slot 1";
}

std::string escape(const std::string& text) {
  static const std::pair<char, const char*> kEntities[] = {
      {'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}};
  std::string out;
  for (char c : text) {
    const auto* e = std::find_if(std::begin(kEntities), std::end(kEntities),
                                 [c](const auto& entity) { return entity.first == c; });
    if (e == std::end(kEntities)) {
      out += c;
    } else {
      out += e->second;
    }
  }
  return out;
}

// The colour class of a standby: its highest generation.
std::string generationClass(const std::string& generations) {
  if (generations.find("4G") != std::string::npos) return "g4";
  if (generations.find("3G") != std::string::npos) return "g3";
  if (generations.find("2G") != std::string::npos) return "g2";
  return "g0";
}

constexpr char kStyle[] = R"(
body { font-family: sans-serif; margin: 1.5em; color: #222; }
h1 { font-size: 1.3em; }
p { max-width: 70em; }
table { border-collapse: collapse; }
th, td { border: 1px solid #999; padding: 4px; vertical-align: top; }
thead th { background: #eee; font-size: 0.85em; max-width: 9em; }
tbody th { background: #eee; text-align: left; font-size: 0.85em; }
.master { font-weight: bold; margin-bottom: 2px; }
.sb { padding: 2px 4px; margin: 1px 0; border-radius: 3px; font-size: 0.85em; white-space: nowrap; }
.sb code { font-size: 0.9em; }
.g4 { background: #a5d6a7; }
.g3 { background: #90caf9; }
.g2 { background: #ffcc80; }
.g0 { background: #e0e0e0; }
.legend span { display: inline-block; padding: 2px 8px; margin-right: 6px; border-radius: 3px; }
)";

}  // namespace

std::string reportText(const Json& report, bool files, bool brief) {
  return render(report, false, files, brief);
}
std::string reportMarkdown(const Json& report, bool files, bool brief) {
  return render(report, true, files, brief);
}

std::string matrixText(const Json& m) {
  const Json& kinds = m["kinds"];
  const size_t width = 15;
  std::string out = "RAT matrix: " + profileLine(m) + "\n";
  for (const Json& a : m["assumptions"]) out += "Assumed: " + str(a) + "\n";
  out +=
      columnsWords(m) +
      ". Each cell: the master card, then "
      "each standby's RATs\nby generation (234 = 2G/3G/4G, 23 = 2G/3G, 2 = 2G, - = none), standby "
      "0 first. DSTMEX per cell: --format markdown, html or json.\n\n";
  std::string header = pad("slot0 \\ slot1", width);
  for (const Json& k : m["columns"]) header += pad(str(k["name"]), width);
  out += header.substr(0, header.find_last_not_of(' ') + 1) + "\n";
  for (size_t r = 0; r < kinds.size(); r++) {
    std::string row = pad(str(kinds[r]["name"]), width);
    for (const Json& cell : m["cells"][r]) {
      row += pad(str(cell["master"]) + " " + compactRats(cell["standbys"]), width);
    }
    out += row.substr(0, row.find_last_not_of(' ') + 1) + "\n";
  }
  out += "\nKinds: ";
  for (const Json& k : kinds) out += str(k["name"]) + " = " + str(k["label"]) + "; ";

  out.replace(out.size() - 2, 2, "\n");
  return out;
}

std::string matrixMarkdown(const Json& m) {
  const Json& kinds = m["kinds"];
  std::string out = "RAT matrix: " + profileLine(m) + ".\n";
  for (const Json& a : m["assumptions"]) out += "\nAssumed: " + str(a) + "\n";
  out += "\n" + columnsWords(m) +
         ". Each cell: the master card, then each standby's RATs and DSTMEX.\n\n| slot 0 \\ slot "
         "1 |";
  for (const Json& k : m["columns"]) out += " " + str(k["label"]) + " |";
  out += "\n|---|";
  for (size_t i = 0; i < m["columns"].size(); i++) out += "---|";
  out += "\n";
  for (size_t r = 0; r < kinds.size(); r++) {
    out += "| **" + str(kinds[r]["label"]) + "** |";
    for (const Json& cell : m["cells"][r]) {
      out += " **" + str(cell["master"]) + "**";
      for (const Json& s : cell["standbys"]) {
        out += "<br>S" + str(s["standby"]) + " " + str(s["generations"]) + " `" + str(s["dstmex"]) +
               "`";
      }
      out += " |";
    }
    out += "\n";
  }
  return out;
}

std::string matrixHtml(const Json& m) {
  const Json& kinds = m["kinds"];
  const std::string target = str(m["target"]);
  std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  out += "<title>RAT matrix, target " + escape(target) + "</title>\n<style>" + kStyle +
         "</style>\n</head>\n<body>\n";
  out += "<h1>Which RATs each standby gets, by the cards in the two slots: target " +
         escape(target) + "</h1>\n";
  out += "<p id=\"profile\">" + escape(profileLine(m)) + ".</p>\n";
  for (const Json& a : m["assumptions"]) out += "<p>Assumed: " + escape(str(a)) + "</p>\n";
  out += "<p>" + escape(columnsWords(m)) +
         ". Each cell: the master card code "
         "(1 = slot 0, 2 = slot 1; a second digit other than 0 means the two cards were equally "
         "capable), then each standby (S0, S1...) with its RATs by generation and its DSTMEX. "
         "Hover a cell for the rule that chose the master card.</p>\n";
  out +=
      "<p class=\"legend\" id=\"legend\">Colour of a standby, by its highest generation: "
      "<span class=\"g4\">4G</span><span class=\"g3\">3G</span><span class=\"g2\">2G "
      "only</span><span class=\"g0\">none</span></p>\n";
  out += "<table id=\"matrix\">\n<thead><tr><th>slot 0 \\ slot 1</th>";
  for (const Json& k : m["columns"]) out += "<th>" + escape(str(k["label"])) + "</th>";
  out += "</tr></thead>\n<tbody>\n";
  for (size_t r = 0; r < kinds.size(); r++) {
    out += "<tr><th>" + escape(str(kinds[r]["label"])) + "</th>";
    for (const Json& cell : m["cells"][r]) {
      out += "<td class=\"cell\" data-slot0=\"" + escape(str(cell["slot0"])) + "\" data-slot1=\"" +
             escape(str(cell["slot1"])) + "\" data-master=\"" + escape(str(cell["master"])) +
             "\" title=\"" + escape(str(cell["master_rule"])) + "\"><div class=\"master\">" +
             escape(str(cell["master"])) + "</div>";
      for (const Json& s : cell["standbys"]) {
        const std::string g = str(s["generations"]);
        out += "<div class=\"sb " + generationClass(g) + "\" data-standby=\"" + str(s["standby"]) +
               "\" data-rat=\"" + str(s["actual_rat"]) + "\">S" + str(s["standby"]) + " " +
               escape(g) + " <code>" + escape(str(s["dstmex"])) + "</code></div>";
      }
      out += "</td>";
    }
    out += "</tr>\n";
  }
  out += "</tbody>\n</table>\n</body>\n</html>\n";
  return out;
}

}  // namespace radioplan
