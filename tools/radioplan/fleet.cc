// radioplan over a fleet; see fleet.h.
#include "radioplan/fleet.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>

#include "radioplan/state.h"

namespace radioplan {
namespace {

constexpr char kMainEntry[] = "main_entry.txt";
constexpr size_t kReasonWidth = 160;  // a reason in the table

bool isFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// "a.zip: no plan: ..." -> "no plan: ...": the reason without the file it names.
std::string reasonOf(const std::string& report, const std::string& what) {
  return what.rfind(report + ": ", 0) == 0 ? what.substr(report.size() + 2) : what;
}

// "2G/3G/4G + 2G": each standby's generations, the plan's outcome in a word.
std::string outcomeOf(const Json& plan) {
  std::string out;
  for (const Json& s : plan["standbys"]) {
    const std::string rats = s["actual_rats"].get<std::string>();
    out += (out.empty() ? "" : " + ") + rats.substr(0, rats.find(' '));
  }
  return out.empty() ? "no standby" : out;
}

// Why the standbys got those generations: each standby's reasons, in order.
std::string whyOf(const Json& plan) {
  std::string out;
  for (const Json& s : plan["standbys"]) {
    for (const Json& reason : s["reasons"]) {
      out += (out.empty() ? "" : "; ") + reason.get<std::string>();
    }
  }
  return out;
}

// "1 report", "2 reports".
std::string counted(int n, const std::string& what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// "t.txt declares 4026531840 bytes" -> "t.txt declares N bytes": reasons that differ only in a
// size, line or date fall in one row of the table (a number of three digits or more is N).
std::string withoutNumbers(const std::string& reason) {
  std::string out;
  for (size_t i = 0, end; i < reason.size(); i = end) {
    end = i + 1;
    if (!isdigit(static_cast<unsigned char>(reason[i]))) {
      out += reason[i];
      continue;
    }
    while (end < reason.size() && isdigit(static_cast<unsigned char>(reason[end]))) end++;
    out += end - i >= 3 ? std::string("N") : reason.substr(i, end - i);
  }
  return out;
}

}  // namespace

std::vector<std::string> reportsIn(const std::string& path) {
  if (!isFolder(path) || exists(path + "/" + kMainEntry)) return {path};
  std::vector<std::string> out;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return {path};  // its record says why
  for (const dirent* e; (e = readdir(dir)) != nullptr;) {
    const std::string name = e->d_name;
    // A folder in it that is no unzipped report gets a record saying so, never silence.
    if (name != "." && name != "..") out.push_back(path + "/" + name);
  }
  closedir(dir);
  std::sort(out.begin(), out.end());
  if (out.empty()) return {path};  // its record says it holds no report
  return out;
}

Json fleetRecord(const std::string& report) {
  Json r = {{"path", report}};
  try {
    const Scene scene = sceneFromBugreport(report, 0, false, "", {}, Overrides());
    const RadioPlan plan = planOf(scene);
    const Json j = explain(scene, plan, writesOf(scene, plan));
    r["outcome"] = j["unknown"].empty() ? "planned" : "partly unknown";
    r["phone"] = j["report"];
    r["phone"].erase("exchanges");
    r["master"] = j["master"]["code"];
    r["standbys"] = outcomeOf(j);
    r["why"] = whyOf(j);
    r["actual_rat_value"] = j["actual_rat_value"];
    r["nvram"] = j["nvram"]["state"];
    r["unknown"] = j["unknown"];
    r["missing"] = j["missing"];
  } catch (const std::exception& e) {
    r["outcome"] = "unusable";
    r["reason"] = reasonOf(report, e.what());
  }
  return r;
}

void FleetSummary::add(std::istream& in, const std::string& name) {
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    number++;
    if (line.find_first_not_of(" \t\r") == std::string::npos || addRecord(line)) continue;
    if (others_++ == 0) firstOther_ = name + " line " + std::to_string(number);
  }
}

// False, and nothing counted, for a line that is no record of --fleet.
bool FleetSummary::addRecord(const std::string& line) {
  const Json r = Json::parse(line, nullptr, false);
  if (r.is_discarded() || !r.is_object()) return false;
  std::vector<std::string> details;
  std::string outcome;
  try {
    outcome = r.at("outcome").get<std::string>();
    if (outcome == "unusable") {
      details.push_back(withoutNumbers(r.at("reason").get<std::string>()).substr(0, kReasonWidth));
    } else if (outcome == "planned") {
      details.push_back(r.at("standbys").get<std::string>() + ": " + r.value("why", ""));
    } else if (outcome == "partly unknown") {
      for (const auto& [decision, why] : r.at("unknown").items()) {
        details.push_back(decision + ": " + why.get<std::string>());
      }
    } else {
      return false;
    }
    if (outcome != "unusable" && !r.at("missing").empty()) missing_[outcome]++;
  } catch (const Json::exception&) {
    return false;
  }
  records_++;
  totals_[outcome]++;
  for (const std::string& d : details) table_[outcome][d]++;
  return true;
}

std::string FleetSummary::text() const {
  std::string out = counted(records_, "report");
  if (others_ > 0) {
    out += " (" + counted(others_, "line") + " skipped as no record, the first at " + firstOther_ +
           ")";
  }
  out += "\n";
  for (const auto& [outcome, details] : table_) {
    const auto lacking = missing_.find(outcome);
    out += outcome + ": " + counted(totals_.at(outcome), "report");
    if (lacking != missing_.end()) {
      out += ", " + std::to_string(lacking->second) +
             " of them with inputs missing (their records' "
             "\"missing\")";
    }
    out += "\n";
    for (const auto& [detail, n] : details) out += "  " + std::to_string(n) + "  " + detail + "\n";
  }
  return out;
}

}  // namespace radioplan
