// radioplan over a fleet; see fleet.h.
#include "radioplan/fleet.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "radioplan/state.h"

namespace radioplan {
namespace {

constexpr char kMainEntry[] = "main_entry.txt";
constexpr size_t kReasonWidth = 160;  // a reason in the table, without its file name

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
  std::string reason = what.rfind(report + ": ", 0) == 0 ? what.substr(report.size() + 2) : what;
  return reason.substr(0, kReasonWidth);
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

}  // namespace

std::vector<std::string> reportsIn(const std::string& path) {
  if (!isFolder(path) || exists(path + "/" + kMainEntry)) return {path};
  std::vector<std::string> out;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return {path};  // its record says why
  for (const dirent* e; (e = readdir(dir)) != nullptr;) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string full = path + "/" + name;
    if (!isFolder(full) || exists(full + "/" + kMainEntry)) out.push_back(full);
  }
  closedir(dir);
  std::sort(out.begin(), out.end());
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

std::string fleetSummary(std::istream& in) {
  std::map<std::string, std::map<std::string, int>> table;  // outcome -> detail -> reports
  std::map<std::string, int> totals;                        // outcome -> reports
  int records = 0, others = 0;
  for (std::string line; std::getline(in, line);) {
    const Json r = Json::parse(line, nullptr, false);
    if (r.is_discarded() || !r.is_object() || !r.contains("outcome")) {
      others += line.find_first_not_of(" \t\r") != std::string::npos;
      continue;
    }
    records++;
    const std::string outcome = r.value("outcome", "");
    totals[outcome]++;
    const std::string detail =
        outcome == "unusable" ? r.value("reason", "") : r.value("standbys", "");
    if (outcome == "partly unknown") {
      for (const auto& [decision, why] : r["unknown"].items()) {
        table[outcome][decision + ": " + why.get<std::string>()]++;
      }
      continue;
    }
    table[outcome][detail]++;
  }
  std::string out = std::to_string(records) + " reports" +
                    (others == 0 ? "" : " (" + std::to_string(others) + " lines not records)") +
                    "\n";
  for (const auto& [outcome, details] : table) {
    out += outcome + ": " + std::to_string(totals[outcome]) + " reports\n";
    for (const auto& [detail, n] : details) out += "  " + std::to_string(n) + "  " + detail + "\n";
  }
  return out;
}

}  // namespace radioplan
