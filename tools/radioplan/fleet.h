// Many bug reports at once: one JSON Lines record per report (which phone, the plan or why there
// is none, what is unknown or missing), and a table by outcome over such records, from one run or
// several concatenated (so xargs -P or GNU parallel spread a fleet over cores).
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "radioplan/explain.h"

namespace radioplan {

// The reports a path names: a report (a file, or a folder with main_entry.txt), or each report
// in a folder, in name order.
std::vector<std::string> reportsIn(const std::string& path);

// One report's record; never throws (an unusable report is a record saying why).
Json fleetRecord(const std::string& report);

// Records read from `in` (blank lines and lines that are no record are counted, not fatal),
// tabled by outcome as text.
std::string fleetSummary(std::istream& in);

}  // namespace radioplan
