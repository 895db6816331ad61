#include "modemsim/simulator.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "modemsim/uevent.h"

namespace modemsim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char kOk[] = "\r\nOK\r\n";
const char kError[] = "\r\nERROR\r\n";
const char kNoCard[] = "\r\n+CME ERROR: 10\r\n";

std::string errnoText(const char* what) { return std::string(what) + ": " + strerror(errno); }

// Writes all of `data`, waiting a little while the reader's queue is full; a reader that stays
// stuck for a second loses the rest rather than freezing the modem.
void writeAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
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

struct Simulator::Impl {
  explicit Impl(Scenario s) : sc(std::move(s)), faultSeen(sc.faults.size(), 0) {
    sc.imei.resize(kMaxStandbys);
  }

  Scenario sc;
  std::vector<int> faultSeen;

  mutable std::mutex mu;
  mutable std::condition_variable linkedCv;
  std::string root, node, transcriptPath;
  int transcriptFd = -1;
  int master = -1;
  int slave = -1;  // our own slave descriptor keeps the line up while the daemon reopens it
  std::string slaveName;
  bool linked = false;
  uint64_t lineEpoch = 0;  // bumped on every hangup so queued writes for the old line drop
  int wakeRead = -1, wakeWrite = -1;
  std::thread thread;
  bool started = false, stopping = false;
  std::string inbuf;

  int standby = 0;
  std::vector<bool> reportOn = std::vector<bool>(kMaxStandbys, false);
  std::vector<uint64_t> reportToken = std::vector<uint64_t>(kMaxStandbys, 0);
  std::vector<std::string> lines;
  Clock::time_point outputFreeAt{};
  std::map<std::pair<Clock::time_point, uint64_t>, std::function<void()>> timers;
  uint64_t timerSeq = 0;

  void addTimer(Clock::time_point due, std::function<void()> fn) {
    timers.emplace(std::make_pair(due, timerSeq++), std::move(fn));
  }

  void wake() {
    const char c = 1;
    if (wakeWrite >= 0 && write(wakeWrite, &c, 1) < 0) {
      // The pipe is full, so the thread is awake already.
    }
  }

  // A write on the line as it is now; dropped if the line hangs up before it is due.
  std::function<void()> lineWrite(std::string data) {
    const uint64_t epoch = lineEpoch;
    return [this, epoch, data = std::move(data)] {
      if (epoch == lineEpoch && master >= 0) writeAll(master, data);
    };
  }

  bool openLine(std::string* error) {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return fail(error, errnoText("posix_openpt"));
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof(name)) != 0) {
      return fail(error, errnoText("pty setup"));
    }
    slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) return fail(error, errnoText(name));
    termios tio{};
    if (tcgetattr(slave, &tio) != 0) return fail(error, errnoText("tcgetattr"));
    cfmakeraw(&tio);
    if (tcsetattr(slave, TCSANOW, &tio) != 0) return fail(error, errnoText("tcsetattr"));
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    slaveName = name;
    ++lineEpoch;
    return true;
  }

  bool fail(std::string* error, std::string why) {
    closeLine();
    if (error) *error = std::move(why);
    return false;
  }

  // Replaces whatever is at the node path in one step, so the daemon never sees a half link.
  bool link(std::string* error) {
    const std::string tmp = node + ".modemsim";
    unlink(tmp.c_str());
    if (symlink(slaveName.c_str(), tmp.c_str()) != 0 || rename(tmp.c_str(), node.c_str()) != 0) {
      const std::string why = errnoText(node.c_str());
      unlink(tmp.c_str());
      if (error) *error = why;
      return false;
    }
    linked = true;
    linkedCv.notify_all();
    return true;
  }

  void unlinkIfOurs() {
    char target[256];
    const ssize_t n = readlink(node.c_str(), target, sizeof(target) - 1);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == slaveName) unlink(node.c_str());
    linked = false;
  }

  void closeLine() {
    if (!node.empty() && linked) unlinkIfOurs();
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
    master = slave = -1;
    ++lineEpoch;
    inbuf.clear();
  }

  void linkOrComplain() {
    std::string why;
    if (!link(&why)) fprintf(stderr, "modemsim: cannot link the node: %s\n", why.c_str());
  }

  void hangup(int reopenMs) {
    closeLine();
    outputFreeAt = Clock::now();
    if (reopenMs < 0) return;
    addTimer(Clock::now() + milliseconds(reopenMs), [this] {
      std::string why;
      if (openLine(&why)) {
        linkOrComplain();
      } else {
        fprintf(stderr, "modemsim: cannot reopen the line: %s\n", why.c_str());
      }
    });
  }

  // Chunks written one after another, `gapMs` apart, after the answers already queued.
  Clock::time_point scheduleChunks(const std::vector<std::string>& chunks, int latencyMs,
                                   int gapMs) {
    const Clock::time_point now = Clock::now();
    Clock::time_point t = std::max(now, outputFreeAt);
    if (chunks.empty()) return t;
    t += milliseconds(latencyMs);
    for (size_t i = 0; i < chunks.size(); ++i) {
      if (i > 0) t += milliseconds(gapMs);
      addTimer(t, lineWrite(chunks[i]));
    }
    outputFreeAt = t;
    return t;
  }

  bool cardPresent(int sb) const {
    return sb < static_cast<int>(sc.slots.size()) && sc.slots[sb].present;
  }

  std::string statusLine(int sb) const {
    return std::string("\r\n^DUSIMU: ") + (cardPresent(sb) ? "1" : "0") + "\r\n";
  }

  // The modem's own behaviour. `after` receives work that must follow the answer on the line.
  std::optional<std::string> execute(const std::string& cmd, int sb,
                                     std::function<void(Clock::time_point)>* after) {
    const bool present = cardPresent(sb);
    if (cmd == "AT^DLKS=0" || cmd == "AT^DLKS=1" || cmd == "AT+DSIMIO=1" || cmd == "AT+DSIMIO=0") {
      return kOk;
    }
    if (cmd == "AT^DMCC?") {
      std::string a = "\r\n^DMCC: " + std::to_string(sc.dmcc[0]) + "," +
                      std::to_string(sc.dmcc[1]) + "," + std::to_string(sc.dmcc[2]);
      for (int r : sc.rat) a += "," + std::to_string(r);
      return a + "\r\n" + kOk;
    }
    const std::string dmpchn = "AT^DMPCHN=";
    if (cmd.compare(0, dmpchn.size(), dmpchn) == 0) {
      const std::string arg = cmd.substr(dmpchn.size());
      if (arg.size() != 1 || arg[0] < '0' || arg[0] >= '0' + kMaxStandbys) return kError;
      standby = arg[0] - '0';
      return kOk;
    }
    if (cmd == "AT^DUSIMR=1") {
      reportOn[sb] = true;
      if (!sc.statusReport.delayed) return statusLine(sb) + kOk;
      const uint64_t token = ++reportToken[sb];
      *after = [this, sb, token](Clock::time_point answerEnd) {
        Clock::time_point t =
            std::max(Clock::now() + milliseconds(sc.statusReport.delayMs), answerEnd);
        if (!sc.statusReport.noise.empty()) {
          addTimer(t, lineWrite(sc.statusReport.noise));
          t += milliseconds(30);
        }
        const uint64_t epoch = lineEpoch;
        addTimer(t, [this, sb, token, epoch] {
          if (reportToken[sb] != token || epoch != lineEpoch || master < 0) return;
          writeAll(master, statusLine(sb));  // card state as it is when the report goes out
        });
      };
      return kOk;
    }
    if (cmd == "AT^DUSIMR=0") {
      reportOn[sb] = false;
      ++reportToken[sb];
      return kOk;
    }
    if (cmd == "AT^DCID") {
      if (!present) return kNoCard;
      return "\r\n^DCID: " + sc.slots[sb].id + "\r\n" + kOk;
    }
    if (cmd == "AT+CIMI") {
      if (!present) return kNoCard;
      if (sc.slots[sb].lock == Lock::kPin) return "\r\n+CME ERROR: 11\r\n";
      if (sc.slots[sb].lock == Lock::kPuk) return "\r\n+CME ERROR: 12\r\n";
      return "\r\n+CIMI: " + sc.slots[sb].imsi + "\r\n" + kOk;
    }
    if (cmd == "AT^DTOC") {
      if (!present) return kNoCard;
      return "\r\n^DTOC: " + std::to_string(sc.slots[sb].type) + "\r\n" + kOk;
    }
    if (cmd == "AT+CGSN") {
      if (!sc.imei[sb]) return kOk;
      return "\r\n+CGSN: " + *sc.imei[sb] + "\r\n" + kOk;
    }
    const std::string dcgsnw = "AT^DCGSNW=";
    if (cmd.compare(0, dcgsnw.size(), dcgsnw) == 0) {
      sc.imei[sb] = cmd.substr(dcgsnw.size());
      return kOk;
    }
    if (cmd == "AT^DSRST") {
      const uint64_t epoch = lineEpoch;
      addTimer(Clock::now() + milliseconds(sc.reset.dmrstDelayMs), [this, epoch] {
        standby = 0;
        std::fill(reportOn.begin(), reportOn.end(), false);
        if (sc.reset.swapRat && sc.rat.size() >= 2) std::swap(sc.rat[0], sc.rat[1]);
        if (!sc.reset.never && epoch == lineEpoch && master >= 0) {
          writeAll(master, "\r\n^DMRST\r\n");
        }
      });
      return std::nullopt;
    }
    return kError;
  }

  void handleCommand(const std::string& cmd) {
    const int sb = standby;
    const std::string line = std::to_string(sb) + " " + cmd;
    lines.push_back(line);
    if (transcriptFd >= 0) writeAll(transcriptFd, line + "\n");

    bool error = false, silent = false, hang = false;
    std::optional<std::string> reply;
    int latency = sc.latencyMs, gap = 30, reopenMs = -1;
    std::string noise;
    std::vector<size_t> split;
    for (size_t i = 0; i < sc.faults.size(); ++i) {
      const Fault& f = sc.faults[i];
      if (!f.matches(cmd, sb)) continue;
      const int k = faultSeen[i]++;
      if (f.times >= 0 && k >= f.times) continue;
      error = error || k < f.errorFirst;
      silent = silent || f.silent;
      if (f.reply) reply = f.reply;
      if (f.latencyMs >= 0) latency = f.latencyMs;
      noise += f.noise;
      if (!f.split.empty() || !f.noise.empty()) gap = f.splitGapMs;
      if (!f.split.empty()) split = f.split;
      if (f.hangup) {
        hang = true;
        reopenMs = f.reopenMs;
      }
    }
    if (hang) {
      hangup(reopenMs);  // the command is lost with the line
      return;
    }

    std::function<void(Clock::time_point)> after;
    std::optional<std::string> answer =
        error ? std::optional<std::string>(kError) : execute(cmd, sb, &after);
    if (reply) answer = reply;
    if (silent) answer.reset();

    std::vector<std::string> chunks;
    if (!noise.empty()) chunks.push_back(noise);
    if (answer) {
      size_t from = 0;
      for (size_t cut : split) {
        if (cut >= answer->size()) break;
        chunks.push_back(answer->substr(from, cut - from));
        from = cut;
      }
      chunks.push_back(answer->substr(from));
    }
    const Clock::time_point end = scheduleChunks(chunks, latency, gap);
    if (after) after(end);
  }

  void readInput() {
    char buf[4096];
    const ssize_t n = read(master, buf, sizeof(buf));
    if (n <= 0) {
      if (n < 0 && errno != EAGAIN && errno != EINTR) {
        std::this_thread::sleep_for(milliseconds(10));  // no busy loop on a broken line
      }
      return;
    }
    const uint64_t epoch = lineEpoch;
    for (ssize_t i = 0; i < n && epoch == lineEpoch; ++i) {
      const char c = buf[i];
      if (c == '\n') continue;
      if (c != '\r') {
        inbuf += c;
        continue;
      }
      if (inbuf.empty()) continue;
      std::string cmd;
      cmd.swap(inbuf);
      handleCommand(cmd);
    }
  }

  void run() {
    std::unique_lock<std::mutex> lock(mu);
    while (!stopping) {
      int timeoutMs = -1;
      if (!timers.empty()) {
        const auto wait = timers.begin()->first.first - Clock::now();
        const auto ms = std::chrono::ceil<milliseconds>(wait).count();
        timeoutMs = static_cast<int>(std::clamp<long long>(ms, 0, 60000));
      }
      pollfd fds[2] = {{wakeRead, POLLIN, 0}, {master, POLLIN, 0}};
      const int polled = master;
      const nfds_t count = master >= 0 ? 2 : 1;
      lock.unlock();
      poll(fds, count, timeoutMs);
      lock.lock();
      if (fds[0].revents & POLLIN) {
        char drain[64];
        while (read(wakeRead, drain, sizeof(drain)) > 0) {
        }
      }
      if (count == 2 && polled == master && master >= 0) {
        if (fds[1].revents & POLLIN) {
          readInput();
        } else if (fds[1].revents & (POLLHUP | POLLERR)) {
          std::this_thread::sleep_for(milliseconds(10));
        }
      }
      while (!timers.empty() && timers.begin()->first.first <= Clock::now()) {
        std::function<void()> fn = std::move(timers.begin()->second);
        timers.erase(timers.begin());
        fn();
      }
    }
  }

  bool changeCard(int slot, bool present, bool sendEvent, std::string* error) {
    std::string rootCopy;
    {
      std::lock_guard<std::mutex> lock(mu);
      if (slot < 0 || slot >= kMaxStandbys) {
        if (error) *error = "no slot " + std::to_string(slot);
        return false;
      }
      if (static_cast<int>(sc.slots.size()) <= slot) sc.slots.resize(slot + 1);
      Slot& s = sc.slots[slot];
      if (present && s.id.empty()) s.id = "8986000000000000000" + std::to_string(slot);
      if (present && s.imsi.empty()) s.imsi = "46000000000000" + std::to_string(slot);
      const bool changed = s.present != present;
      s.present = present;
      // A report switched on announces the change on its own.
      if (changed && reportOn[slot] && master >= 0) {
        addTimer(Clock::now(), lineWrite(statusLine(slot)));
        wake();
      }
      rootCopy = root;
    }
    if (!sendEvent) return true;
    if (rootCopy.empty()) {
      if (error) *error = "simulator not started";
      return false;
    }
    return sendUevent(rootCopy, simUevent(slot, present), error);
  }
};

Simulator::Simulator(Scenario scenario) : impl_(new Impl(std::move(scenario))) {}

Simulator::~Simulator() { stop(); }

void Simulator::setTranscriptFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->transcriptPath = path;
}

bool Simulator::start(const std::string& root, std::string* error) {
  Impl& d = *impl_;
  std::lock_guard<std::mutex> lock(d.mu);
  if (d.started) {
    if (error) *error = "already started";
    return false;
  }
  d.root = root;
  d.node = root + "/dev/TTYEMS40";
  if (!d.transcriptPath.empty()) {
    d.transcriptFd =
        open(d.transcriptPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (d.transcriptFd < 0) {
      if (error) *error = errnoText(d.transcriptPath.c_str());
      return false;
    }
  }
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    if (error) *error = errnoText("pipe");
    return false;
  }
  d.wakeRead = pipeFds[0];
  d.wakeWrite = pipeFds[1];
  if (!d.openLine(error)) return false;
  if (d.sc.nodeDelayMs == 0) {
    if (!d.link(error)) {
      d.closeLine();
      return false;
    }
  } else {
    d.addTimer(Clock::now() + milliseconds(d.sc.nodeDelayMs), [&d] {
      if (d.master >= 0) d.linkOrComplain();
    });
  }
  d.started = true;
  d.stopping = false;
  d.thread = std::thread([&d] { d.run(); });
  return true;
}

void Simulator::stop() {
  Impl& d = *impl_;
  {
    std::lock_guard<std::mutex> lock(d.mu);
    d.stopping = true;
    d.wake();
  }
  if (d.thread.joinable()) d.thread.join();
  std::lock_guard<std::mutex> lock(d.mu);
  d.closeLine();
  d.timers.clear();
  for (int* fd : {&d.wakeRead, &d.wakeWrite, &d.transcriptFd}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  d.started = false;
}

bool Simulator::waitLinked(int timeoutMs) const {
  std::unique_lock<std::mutex> lock(impl_->mu);
  return impl_->linkedCv.wait_for(lock, milliseconds(timeoutMs), [this] { return impl_->linked; });
}

bool Simulator::insertCard(int slot, bool sendUevent, std::string* error) {
  return impl_->changeCard(slot, true, sendUevent, error);
}

bool Simulator::removeCard(int slot, bool sendUevent, std::string* error) {
  return impl_->changeCard(slot, false, sendUevent, error);
}

std::vector<std::string> Simulator::transcript() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->lines;
}

std::string Simulator::slavePath() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->slaveName;
}

std::string Simulator::nodePath() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->node;
}

}  // namespace modemsim
