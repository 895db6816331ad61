// The daemon's declarations for programs in other languages (the replay, the harness), so that none
// of them keeps a copy: every property with its kind, use and vendor name, the services, the data
// directory, and each target's card classes (the rows of its tables).
#pragma once

#include "radioplan/explain.h"

namespace radioplan {

Json daemonNames();

}  // namespace radioplan
