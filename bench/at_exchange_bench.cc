// Cost of one AT exchange through sendAtSyncOk, the way the daemon makes it.
//
// Two modes:
//   at_exchange_bench [benchmark flags]
//       Google Benchmark: one exchange per iteration against a peer thread on a socket pair,
//       and against the simulator (modemsim_lib) on a pseudo-terminal. The CPU time is the
//       calling thread's only, so the peer's work is not charged to the exchange.
//   at_exchange_bench --exchanges=N [--peer=socket|pty]
//       makes N exchanges against a peer in a forked child process and prints one JSON line
//       with the caller's CPU and wall time. Run it under `strace -c` (without -f, so that the
//       child is not traced) to count the caller's system calls.
// The daemon logs every exchange to standard error: redirect it to /dev/null.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "modem/exchange.h"
#include "modemsim/simulator.h"
#include "platform/platform.h"

namespace {

// A command the daemon sends; the modem says OK.
constexpr AtCommand kCommand = {"AT^DLKS=0", nullptr, nullptr, 1, 0, kAtExchangeBoundUs, false};
constexpr char kOk[] = "\r\nOK\r\n";

// Answers OK to every CR-terminated command until the line is closed.
void answerOk(int fd) {
  char buffer[256];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return;
    for (ssize_t i = 0; i < n; i++) {
      if (buffer[i] == '\r' && write(fd, kOk, sizeof kOk - 1) < 0) return;
    }
  }
}

bool exchange(int fd) {
  ModemLink link;
  link.line.fd = fd;
  link.line.state = LineState::kOpen;
  return sendAtSyncOk(link, kCommand).succeeded();
}

void runExchanges(benchmark::State& state, int fd) {
  for (auto _ : state) {
    if (!exchange(fd)) {
      state.SkipWithError("exchange failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_SendAtSyncOk_SocketPair(benchmark::State& state) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
    state.SkipWithError("socketpair failed");
    return;
  }
  std::thread peer(answerOk, fds[1]);
  runExchanges(state, fds[0]);
  close(fds[0]);
  peer.join();
  close(fds[1]);
}
BENCHMARK(BM_SendAtSyncOk_SocketPair);

// A short root of its own: the simulator links <root>/dev/TTYEMS40 to its pseudo-terminal.
std::string makeRoot() {
  char root[] = "/tmp/atbXXXXXX";
  if (mkdtemp(root) == nullptr) return "";
  std::string dev = std::string(root) + "/dev";
  mkdir(dev.c_str(), 0755);
  return root;
}

void removeRoot(const std::string& root) {
  rmdir((root + "/dev").c_str());
  rmdir(root.c_str());
}

void BM_SendAtSyncOk_Simulator(benchmark::State& state) {
  std::string root = makeRoot();
  modemsim::Simulator sim{modemsim::Scenario{}};
  std::string error;
  if (root.empty() || !sim.start(root, &error) || !sim.waitLinked(2000)) {
    state.SkipWithError(("simulator: " + error).c_str());
    return;
  }
  int fd = open(sim.nodePath().c_str(), O_RDWR);
  if (fd < 0) {
    state.SkipWithError("cannot open the node");
    return;
  }
  runExchanges(state, fd);
  close(fd);
  sim.stop();
  removeRoot(root);
}
BENCHMARK(BM_SendAtSyncOk_Simulator);

// ---- counting mode -------------------------------------------------------------------------

double seconds(clockid_t clock) {
  timespec t;
  clock_gettime(clock, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

struct Peer {
  pid_t pid = -1;
  int fd = -1;       // the caller's end of the line
  int hold = -1;     // closing it tells a simulator child to stop
  std::string root;  // the simulator's root, removed at the end
};

// The peer runs in a child process so that neither strace nor the CPU clock counts its work.
bool startSocketPeer(Peer* peer) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return false;
  peer->pid = fork();
  if (peer->pid == 0) {
    close(fds[0]);
    answerOk(fds[1]);
    _exit(0);
  }
  close(fds[1]);
  peer->fd = fds[0];
  return peer->pid > 0;
}

bool startSimulatorPeer(Peer* peer) {
  peer->root = makeRoot();
  int ready[2], hold[2];
  if (peer->root.empty() || pipe(ready) != 0 || pipe(hold) != 0) return false;
  peer->pid = fork();
  if (peer->pid == 0) {
    close(ready[0]);
    close(hold[1]);
    modemsim::Simulator sim{modemsim::Scenario{}};
    char flag = sim.start(peer->root, nullptr) && sim.waitLinked(2000) ? 1 : 0;
    if (write(ready[1], &flag, 1) != 1 || flag != 1) _exit(1);
    char byte;
    while (read(hold[0], &byte, 1) > 0) {
    }
    sim.stop();
    _exit(0);
  }
  close(ready[1]);
  close(hold[0]);
  peer->hold = hold[1];
  char flag = 0;
  if (read(ready[0], &flag, 1) != 1 || flag != 1) return false;
  close(ready[0]);
  peer->fd = open((peer->root + kModemDevicePath).c_str(), O_RDWR);
  return peer->fd >= 0;
}

void stopPeer(Peer* peer) {
  if (peer->fd >= 0) close(peer->fd);
  if (peer->hold >= 0) close(peer->hold);
  if (peer->pid > 0) waitpid(peer->pid, nullptr, 0);
  if (!peer->root.empty()) removeRoot(peer->root);
}

int countExchanges(long count, const std::string& kind) {
  Peer peer;
  bool started = kind == "socket" ? startSocketPeer(&peer) : startSimulatorPeer(&peer);
  if (!started) {
    printf("{\"error\": \"peer %s did not start\"}\n", kind.c_str());
    stopPeer(&peer);
    return 1;
  }
  double cpu0 = seconds(CLOCK_PROCESS_CPUTIME_ID), wall0 = seconds(CLOCK_MONOTONIC);
  long failed = 0;
  for (long i = 0; i < count; i++) failed += exchange(peer.fd) ? 0 : 1;
  double cpu = seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0, wall = seconds(CLOCK_MONOTONIC) - wall0;
  stopPeer(&peer);
  printf(
      "{\"exchanges\": %ld, \"failed\": %ld, \"cpu_s\": %.6f, \"wall_s\": %.6f, "
      "\"peer\": \"%s\"}\n",
      count, failed, cpu, wall, kind.c_str());
  return failed == 0 ? 0 : 1;
}

bool flagValue(const char* arg, const char* name, std::string* value) {
  size_t n = strlen(name);
  if (strncmp(arg, name, n) != 0 || arg[n] != '=') return false;
  *value = arg + n + 1;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string exchanges, peer = "socket";
  for (int i = 1; i < argc; i++) {
    flagValue(argv[i], "--exchanges", &exchanges);
    flagValue(argv[i], "--peer", &peer);
  }
  if (!exchanges.empty()) return countExchanges(atol(exchanges.c_str()), peer);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
