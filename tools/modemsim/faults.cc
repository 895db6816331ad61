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
    if (!f.split.empty() || !f.noise.empty() || f.nulChunk > 0) t.gapMs = f.splitGapMs;
    if (!f.split.empty()) t.split = f.split;
    t.nulChunk += f.nulChunk;
    if (!f.nulAt.empty()) t.nulAt = f.nulAt;
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
  if (!answer) return answer;
  // From the last offset back, so that each is an offset into the answer as the modem said it.
  for (auto at = t.nulAt.rbegin(); at != t.nulAt.rend(); ++at) {
    if (*at <= answer->size()) answer->insert(*at, 1, '\0');
  }
  return answer;
}

std::vector<std::string> chunks(const Treatment& t, const std::optional<std::string>& answer) {
  std::vector<std::string> out;
  if (!t.noise.empty()) out.push_back(t.noise);
  if (t.nulChunk > 0) out.push_back(std::string(t.nulChunk, '\0'));
  if (!answer) return out;
  for (std::string& piece : cutAt(*answer, t.split)) out.push_back(std::move(piece));
  return out;
}

}  // namespace modemsim
