// The modem's serial line: a pseudo-terminal in raw mode linked at the node path, one serving
// thread with timers, commands framed by CR, answers written in chunks at set times, hang-up and
// reopen. It knows nothing of what the commands mean.
#pragma once

#include <stdint.h>

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "modemsim/behaviour.h"

namespace modemsim {

class Line : public Wire {
 public:
  // Called on the serving thread, with the line's lock held, for every command (CR stripped;
  // LF bytes and empty lines are dropped).
  using CommandHandler = std::function<void(const std::string& command)>;

  explicit Line(CommandHandler onCommand);
  ~Line() override;  // stops the thread, removes the link
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  // Opens the pseudo-terminal and starts serving; the link at `node` appears after linkDelayMs.
  bool start(const std::string& node, int linkDelayMs, std::string* error);
  void stop();
  bool waitLinked(int timeoutMs) const;
  std::string slavePath() const;

  // Runs `fn` holding the line's lock (from any thread), then lets the serving thread see any
  // timer it set.
  void locked(const std::function<void()>& fn);

  // Output after the output already queued: `chunks` written gapMs apart, the first latencyMs
  // from then; returns when the last one goes out.
  Clock::time_point send(const std::vector<std::string>& chunks, int latencyMs, int gapMs);
  // Output of a modem with its own timing, after the output already queued; returns when the
  // last write goes out.
  Clock::time_point sendTimed(const std::vector<TimedWrite>& writes);
  // Closes the pseudo-terminal (the daemon's reads fail) and removes the link; reopenMs >= 0
  // brings up a fresh one after that delay.
  void hangUp(int reopenMs);

  // Wire
  void at(Clock::time_point due, std::function<void()> fn) override;
  uint64_t epoch() const override { return epoch_; }
  void write(uint64_t epoch, const std::string& data) override;

 private:
  bool open(std::string* error);
  bool fail(std::string* error, std::string why);
  bool link(std::string* error);
  void linkOrComplain();
  void unlinkIfOurs();
  void close();
  void wake();
  void readInput();
  void run();

  CommandHandler onCommand_;
  mutable std::mutex mu_;
  mutable std::condition_variable linkedCv_;
  std::string node_;
  int master_ = -1;
  int slave_ = -1;  // our own slave descriptor keeps the line up while the daemon reopens it
  std::string slaveName_;
  bool linked_ = false;
  uint64_t epoch_ = 0;  // bumped on every open and close so writes queued for the old line drop
  int wakeRead_ = -1, wakeWrite_ = -1;
  std::thread thread_;
  bool started_ = false, stopping_ = false;
  std::string inbuf_;
  Clock::time_point outputFreeAt_{};
  std::map<std::pair<Clock::time_point, uint64_t>, std::function<void()>> timers_;
  uint64_t timerSeq_ = 0;
};

}  // namespace modemsim
