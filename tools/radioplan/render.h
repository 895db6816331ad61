// The report and the matrix as a person reads them: plain text for a terminal, Markdown for a
// ticket, and one self-contained HTML page for the matrix.
#pragma once

#include <string>

#include "radioplan/explain.h"

namespace radioplan {

// files: the rild files in full instead of one line each; brief: only what is missing or
// assumed, the cards, the master card, the standbys and the NVRAM.
std::string reportText(const Json& report, bool files = false, bool brief = false);
std::string reportMarkdown(const Json& report, bool files = false, bool brief = false);

std::string matrixText(const Json& matrix);
std::string matrixMarkdown(const Json& matrix);
std::string matrixHtml(const Json& matrix);

}  // namespace radioplan
