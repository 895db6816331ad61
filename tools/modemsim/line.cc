#include "modemsim/line.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>

namespace modemsim {
namespace {

using std::chrono::milliseconds;

std::string errnoText(const char* what) { return std::string(what) + ": " + strerror(errno); }

// Writes all of `data`, waiting a little while the reader's queue is full; a reader that stays
// stuck for a second loses the rest rather than freezing the modem.
void writeAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 1000) <= 0) return;
    } else {
      return;
    }
  }
}

}  // namespace

Line::Line(CommandHandler onCommand) : onCommand_(std::move(onCommand)) {}

Line::~Line() { stop(); }

bool Line::start(const std::string& node, int linkDelayMs, std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  if (started_) {
    if (error) *error = "already started";
    return false;
  }
  node_ = node;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    if (error) *error = errnoText("pipe");
    return false;
  }
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];
  if (!open(error)) return false;
  if (linkDelayMs == 0) {
    if (!link(error)) {
      close();
      return false;
    }
  } else {
    at(Clock::now() + milliseconds(linkDelayMs), [this] {
      if (master_ >= 0) linkOrComplain();
    });
  }
  started_ = true;
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
  return true;
}

void Line::stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
    wake();
  }
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mu_);
  close();
  timers_.clear();
  for (int* fd : {&wakeRead_, &wakeWrite_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  started_ = false;
}

bool Line::waitLinked(int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mu_);
  return linkedCv_.wait_for(lock, milliseconds(timeoutMs), [this] { return linked_; });
}

std::string Line::slavePath() const {
  std::lock_guard<std::mutex> lock(mu_);
  return slaveName_;
}

void Line::locked(const std::function<void()>& fn) {
  std::lock_guard<std::mutex> lock(mu_);
  fn();
  wake();
}

void Line::at(Clock::time_point due, std::function<void()> fn) {
  timers_.emplace(std::make_pair(due, timerSeq_++), std::move(fn));
}

void Line::write(uint64_t epoch, const std::string& data) {
  if (epoch == epoch_ && master_ >= 0) writeAll(master_, data);
}

Clock::time_point Line::send(const std::vector<std::string>& chunks, int latencyMs, int gapMs) {
  Clock::time_point t = std::max(Clock::now(), outputFreeAt_);
  if (chunks.empty()) return t;
  t += milliseconds(latencyMs);
  const uint64_t lineNow = epoch_;
  for (size_t i = 0; i < chunks.size(); ++i) {
    if (i > 0) t += milliseconds(gapMs);
    at(t, [this, lineNow, data = chunks[i]] { write(lineNow, data); });
  }
  outputFreeAt_ = t;
  return t;
}

Clock::time_point Line::sendTimed(const std::vector<TimedWrite>& writes) {
  const Clock::time_point now = Clock::now();
  const milliseconds gap(kTimedGapMs);
  Clock::time_point earliest = outputFreeAt_ > now ? outputFreeAt_ + gap : now;
  Clock::time_point t = now;
  const uint64_t lineNow = epoch_;
  for (const TimedWrite& w : writes) {
    t = std::max(now + milliseconds(w.delayMs), earliest);
    if (w.hangup) {
      at(t, [this, lineNow, reopenMs = w.reopenMs] {
        if (epoch_ == lineNow) hangUp(reopenMs);
      });
    } else {
      at(t, [this, lineNow, data = w.text] { write(lineNow, data); });
    }
    earliest = t + gap;
  }
  outputFreeAt_ = std::max(outputFreeAt_, t);
  return t;
}

void Line::hangUp(int reopenMs) {
  close();
  outputFreeAt_ = Clock::now();
  if (reopenMs < 0) return;
  at(Clock::now() + milliseconds(reopenMs), [this] {
    std::string why;
    if (open(&why)) {
      linkOrComplain();
    } else {
      fprintf(stderr, "modemsim: cannot reopen the line: %s\n", why.c_str());
    }
  });
}

bool Line::open(std::string* error) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) {
    return fail(error, errnoText("no pseudo-terminal (/dev/ptmx)") +
                           " (in a container or chroot: mount -t devpts devpts /dev/pts)");
  }
  char name[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
      ptsname_r(master_, name, sizeof(name)) != 0) {
    return fail(error, errnoText("pty setup"));
  }
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) return fail(error, errnoText(name));
  termios tio{};
  if (tcgetattr(slave_, &tio) != 0) return fail(error, errnoText("tcgetattr"));
  cfmakeraw(&tio);
  if (tcsetattr(slave_, TCSANOW, &tio) != 0) return fail(error, errnoText("tcsetattr"));
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  slaveName_ = name;
  ++epoch_;
  return true;
}

bool Line::fail(std::string* error, std::string why) {
  close();
  if (error) *error = std::move(why);
  return false;
}

// Replaces whatever is at the node path in one step, so the daemon never sees a half link.
bool Line::link(std::string* error) {
  const std::string tmp = node_ + ".modemsim";
  unlink(tmp.c_str());
  if (symlink(slaveName_.c_str(), tmp.c_str()) != 0 || rename(tmp.c_str(), node_.c_str()) != 0) {
    const std::string why = errnoText(node_.c_str());
    unlink(tmp.c_str());
    if (error) *error = why;
    return false;
  }
  linked_ = true;
  linkedCv_.notify_all();
  return true;
}

void Line::linkOrComplain() {
  std::string why;
  if (!link(&why)) fprintf(stderr, "modemsim: cannot link the node: %s\n", why.c_str());
}

void Line::unlinkIfOurs() {
  char target[256];
  const ssize_t n = readlink(node_.c_str(), target, sizeof(target) - 1);
  if (n > 0 && std::string(target, static_cast<size_t>(n)) == slaveName_) unlink(node_.c_str());
  linked_ = false;
}

void Line::close() {
  if (!node_.empty() && linked_) unlinkIfOurs();
  if (master_ >= 0) ::close(master_);
  if (slave_ >= 0) ::close(slave_);
  master_ = slave_ = -1;
  ++epoch_;
  inbuf_.clear();
}

void Line::wake() {
  const char c = 1;
  if (wakeWrite_ >= 0 && ::write(wakeWrite_, &c, 1) < 0) {
    // The pipe is full, so the thread is awake already.
  }
}

void Line::readInput() {
  char buf[4096];
  const ssize_t n = read(master_, buf, sizeof(buf));
  if (n <= 0) {
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      std::this_thread::sleep_for(milliseconds(10));  // no busy loop on a broken line
    }
    return;
  }
  const uint64_t lineNow = epoch_;
  for (ssize_t i = 0; i < n && lineNow == epoch_; ++i) {  // a hang-up drops the rest
    const char c = buf[i];
    if (c == '\n') continue;
    if (c != '\r') {
      inbuf_ += c;
      continue;
    }
    if (inbuf_.empty()) continue;
    std::string command;
    command.swap(inbuf_);
    onCommand_(command);
  }
}

void Line::run() {
  std::unique_lock<std::mutex> lock(mu_);
  while (!stopping_) {
    int timeoutMs = -1;
    if (!timers_.empty()) {
      const auto wait = timers_.begin()->first.first - Clock::now();
      const auto ms = std::chrono::ceil<milliseconds>(wait).count();
      timeoutMs = static_cast<int>(std::clamp<long long>(ms, 0, 60000));
    }
    pollfd fds[2] = {{wakeRead_, POLLIN, 0}, {master_, POLLIN, 0}};
    const int polled = master_;
    const nfds_t count = master_ >= 0 ? 2 : 1;
    lock.unlock();
    poll(fds, count, timeoutMs);
    lock.lock();
    if (fds[0].revents & POLLIN) {
      char drain[64];
      while (read(wakeRead_, drain, sizeof(drain)) > 0) {
      }
    }
    if (count == 2 && polled == master_ && master_ >= 0) {
      if (fds[1].revents & POLLIN) {
        readInput();
      } else if (fds[1].revents & (POLLHUP | POLLERR)) {
        std::this_thread::sleep_for(milliseconds(10));
      }
    }
    while (!timers_.empty() && timers_.begin()->first.first <= Clock::now()) {
      std::function<void()> fn = std::move(timers_.begin()->second);
      timers_.erase(timers_.begin());
      fn();
    }
  }
}

}  // namespace modemsim
