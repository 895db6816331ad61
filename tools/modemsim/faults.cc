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

namespace {

bool placed(const Dialect& d, const std::string& place) {
  for (const std::string& p : d.where) {
    if (p == place) return true;
  }
  return false;
}

}  // namespace

std::string DialectPlan::withLines(const std::string& answer) const {
  std::string lines;
  for (int i = 0; i < dialect_.burst; i++) lines += dialect_.unsolicited;
  auto at = [&](const char* place) { return placed(dialect_, place) ? lines : std::string(); };
  // The final code is the answer's last line, with the CR LF before it.
  const size_t final =
      answer.size() >= 4 ? answer.rfind("\r\n", answer.size() - 3) : std::string::npos;
  if (final == std::string::npos) return at("before") + answer + at("after");
  std::string code = answer.substr(final);
  if (placed(dialect_, "inside_final")) code = "\r\n" + lines + code.substr(2);
  return at("before") + answer.substr(0, final) + at("before_final") + code + at("after");
}

std::optional<std::string> DialectPlan::framed(const std::string& command,
                                               const std::optional<std::string>& answer) {
  if (!dialect_.echo && dialect_.unsolicited.empty() && dialect_.nulBytes == 0) return answer;
  std::string out = dialect_.echo ? command + "\r" : "";
  if (answer) out += dialect_.unsolicited.empty() ? *answer : withLines(*answer);
  if (!answer && out.empty()) return answer;
  for (int i = 0; i < dialect_.nulBytes; i++) {
    out.insert(std::uniform_int_distribution<size_t>(0, out.size())(random_), 1, '\0');
  }
  return out;
}

std::vector<std::string> DialectPlan::cut(const std::vector<std::string>& writes) {
  if (dialect_.pieceMax == 0) return writes;
  std::vector<std::string> out;
  std::uniform_int_distribution<size_t> length(dialect_.pieceMin, dialect_.pieceMax);
  for (const std::string& write : writes) {
    for (size_t at = 0; at < write.size();) {
      const size_t n = length(random_);
      out.push_back(write.substr(at, n));
      at += n;
    }
  }
  return out;
}

}  // namespace modemsim
