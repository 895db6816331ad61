// Many bug reports at once: one JSON Lines record per report (which phone, the plan or why there
// is none, what is unknown or missing), and a table by outcome over such records, from one run or
// several concatenated (so xargs -P or GNU parallel spread a fleet over cores).
#pragma once

#include <istream>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "radioplan/explain.h"

namespace radioplan {

// The reports a path names: a report (a file, or a folder with main_entry.txt), or each entry of
// a folder, in name order (a folder in it that is no report, or an empty folder, is one whose
// record says so).
std::vector<std::string> reportsIn(const std::string& path);

// One report's record; never throws (an unusable report is a record saying why).
Json fleetRecord(const std::string& report);

// Records tabled by outcome: how many reports planned each standby's generations and why, lacked
// each input, or were unusable for each reason. Records come from one run or several concatenated;
// a line that is no record (blank, cut, of another tool) is counted and named, never fatal.
class FleetSummary {
 public:
  // Every line of `in`, named `name` where a line that is no record is reported.
  void add(std::istream& in, const std::string& name);
  std::string text() const;

 private:
  bool addRecord(const std::string& line);

  std::map<std::string, std::map<std::string, int>> table_;  // outcome -> detail -> reports
  std::map<std::string, int> totals_;                        // outcome -> reports
  std::map<std::string, int> missing_;                       // outcome -> reports lacking input
  int records_ = 0, others_ = 0;
  std::string firstOther_;  // where the first line that is no record is
};

}  // namespace radioplan
