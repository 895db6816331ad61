#include "modemsim/faults.h"

#include <utility>

namespace modemsim {

FaultPlan::FaultPlan(std::vector<Fault> faults, int latencyMs)
    : faults_(std::move(faults)), seen_(faults_.size(), 0), latencyMs_(latencyMs) {}

Treatment FaultPlan::treat(const std::string& command, int standby) {
  Treatment t;
  t.latencyMs = latencyMs_;
  for (size_t i = 0; i < faults_.size(); ++i) {
    const Fault& f = faults_[i];
    if (!f.matches(command, standby)) continue;
    const int k = seen_[i]++;
    if (f.times >= 0 && k >= f.times) continue;
    t.error = t.error || k < f.errorFirst;
    t.silent = t.silent || f.silent;
    if (f.reply) t.reply = f.reply;
    if (f.latencyMs >= 0) t.latencyMs = f.latencyMs;
    t.noise += f.noise;
    if (!f.split.empty() || !f.noise.empty()) t.gapMs = f.splitGapMs;
    if (!f.split.empty()) t.split = f.split;
    if (f.hangup) {
      t.hangup = true;
      t.reopenMs = f.reopenMs;
    }
  }
  return t;
}

std::optional<std::string> treatedAnswer(const Treatment& t, std::optional<std::string> answer) {
  if (t.reply) answer = t.reply;
  if (t.silent) answer.reset();
  return answer;
}

std::vector<std::string> chunks(const std::string& noise, const std::optional<std::string>& answer,
                                const std::vector<size_t>& split) {
  std::vector<std::string> out;
  if (!noise.empty()) out.push_back(noise);
  if (!answer) return out;
  size_t from = 0;
  for (size_t cut : split) {
    if (cut >= answer->size()) break;
    out.push_back(answer->substr(from, cut - from));
    from = cut;
  }
  out.push_back(answer->substr(from));
  return out;
}

}  // namespace modemsim
