// The plan in words: every decision with the rule, table and card class behind it, as one JSON
// document that each output format renders.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "radioplan/state.h"

namespace radioplan {

using Json = nlohmann::ordered_json;

// "2G/3G/4G" for a mask; "none" for 0.
std::string generations(RatMask mask);
// "2G/3G (gsm,tdscdma,wcdma = 19)".
std::string ratWords(RatMask mask);
// "USIM, home operator (46000)", "USIM, PIN-locked: IMSI unreadable", "no card".
std::string cardWords(const Scene& scene, int slot);
// The row and column labels of the target's tables for a card-class index.
std::string classLabel(uint32_t target, int index);

// The whole report of one state.
Json explain(const Scene& scene, const RadioPlan& plan, const Writes& writes);

// Every pair of card kinds in slot 0 and slot 1 under the scene's profile.
Json matrix(const Scene& scene);

}  // namespace radioplan
