// modemsim: the fake modem as a program, for end-to-end tests and demonstrations.
//   modemsim --root DIR --scenario FILE [--transcript FILE]
//   modemsim ctl --root DIR (insert|remove|insert-quiet|remove-quiet) N | quit
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "modemsim/scenario.h"
#include "modemsim/simulator.h"
#include "modemsim/uevent.h"

namespace {

constexpr int kUsage = 2;

int usage() {
  fprintf(stderr,
          "usage: modemsim --root DIR --scenario FILE [--transcript FILE]\n"
          "       modemsim ctl --root DIR insert|remove|insert-quiet|remove-quiet N\n"
          "       modemsim ctl --root DIR quit\n");
  return kUsage;
}

std::string ctlPath(const std::string& root) { return root + "/modemsim.ctl"; }

bool fillAddr(const std::string& path, sockaddr_un* addr) {
  *addr = sockaddr_un{};
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof(addr->sun_path)) return false;
  memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Sends one control command and waits for the simulator's reply.
int runCtl(const std::string& root, const std::string& command) {
  sockaddr_un server;
  if (!fillAddr(ctlPath(root), &server)) {
    fprintf(stderr, "modemsim ctl: path too long\n");
    return 1;
  }
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  // An autobound (abstract) address lets the simulator answer without a file of ours.
  sa_family_t family = AF_UNIX;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&family), sizeof(family)) != 0) {
    fprintf(stderr, "modemsim ctl: %s\n", strerror(errno));
    return 1;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (sendto(fd, command.data(), command.size(), 0, reinterpret_cast<sockaddr*>(&server),
                sizeof(server)) < 0) {
    if ((errno != ENOENT && errno != ECONNREFUSED) ||
        std::chrono::steady_clock::now() >= deadline) {
      fprintf(stderr, "modemsim ctl: send to %s: %s\n", ctlPath(root).c_str(), strerror(errno));
      close(fd);
      return 1;
    }
    usleep(50 * 1000);
  }
  pollfd p{fd, POLLIN, 0};
  char reply[512];
  ssize_t n = -1;
  if (poll(&p, 1, 15000) == 1) n = recv(fd, reply, sizeof(reply) - 1, 0);
  close(fd);
  if (n < 0) {
    fprintf(stderr, "modemsim ctl: no reply\n");
    return 1;
  }
  reply[n] = '\0';
  if (strcmp(reply, "ok") != 0) {
    fprintf(stderr, "modemsim ctl: %s\n", reply);
    return 1;
  }
  return 0;
}

// Executes one control command; returns the reply text.
std::string control(modemsim::Simulator* sim, const std::string& text, bool* quit) {
  const size_t space = text.find(' ');
  const std::string verb = text.substr(0, space);
  if (verb == "quit" && space == std::string::npos) {
    *quit = true;
    return "ok";
  }
  int slot = -1;
  if (space != std::string::npos) {
    const std::string arg = text.substr(space + 1);
    if (arg.size() == 1 && arg[0] >= '0' && arg[0] <= '9') slot = arg[0] - '0';
  }
  if (slot < 0) return "error: bad command '" + text + "'";
  std::string error;
  bool ok = false;
  if (verb == "insert" || verb == "insert-quiet") {
    ok = sim->insertCard(slot, verb == "insert", &error);
  } else if (verb == "remove" || verb == "remove-quiet") {
    ok = sim->removeCard(slot, verb == "remove", &error);
  } else {
    return "error: bad command '" + text + "'";
  }
  return ok ? "ok" : "error: " + error;
}

int runSimulator(const std::string& root, const std::string& scenarioFile, std::string transcript) {
  modemsim::Scenario scenario;
  std::string error;
  if (!modemsim::loadScenarioFile(scenarioFile, &scenario, &error)) {
    fprintf(stderr, "modemsim: bad scenario: %s\n", error.c_str());
    return kUsage;
  }
  if (transcript.empty()) transcript = root + "/modemsim.transcript";

  // Signals arrive through a descriptor, so the simulator thread never sees them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  const int sigFd = signalfd(-1, &signals, SFD_CLOEXEC);

  const std::string ctl = ctlPath(root);
  sockaddr_un addr;
  const int ctlFd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  unlink(ctl.c_str());
  if (sigFd < 0 || ctlFd < 0 || !fillAddr(ctl, &addr) ||
      bind(ctlFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    fprintf(stderr, "modemsim: cannot listen on %s: %s\n", ctl.c_str(), strerror(errno));
    return 1;
  }

  modemsim::Simulator sim(scenario);
  sim.setTranscriptFile(transcript);
  if (!sim.start(root, &error)) {
    fprintf(stderr, "modemsim: %s\n", error.c_str());
    unlink(ctl.c_str());
    return 1;
  }

  bool ready = false, quit = false;
  while (!quit) {
    if (!ready && sim.waitLinked(0)) {
      printf("ready %s\n", sim.slavePath().c_str());
      fflush(stdout);
      ready = true;
    }
    pollfd fds[2] = {{sigFd, POLLIN, 0}, {ctlFd, POLLIN, 0}};
    if (poll(fds, 2, ready ? -1 : 20) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) break;
    if (fds[1].revents & POLLIN) {
      char buf[256];
      sockaddr_un from{};
      socklen_t fromLen = sizeof(from);
      const ssize_t n =
          recvfrom(ctlFd, buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
      if (n < 0) continue;
      std::string text(buf, static_cast<size_t>(n));
      while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
      const std::string reply = control(&sim, text, &quit);
      if (fromLen > sizeof(sa_family_t)) {
        sendto(ctlFd, reply.data(), reply.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
               fromLen);
      }
    }
  }
  sim.stop();
  close(ctlFd);
  unlink(ctl.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const bool ctl = !args.empty() && args[0] == "ctl";
  std::string root, scenario, transcript;
  std::vector<std::string> rest;
  for (size_t i = ctl ? 1 : 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if ((a == "--root" || a == "--scenario" || a == "--transcript") && i + 1 < args.size()) {
      (a == "--root" ? root : a == "--scenario" ? scenario : transcript) = args[++i];
    } else if (ctl && a.compare(0, 2, "--") != 0) {
      rest.push_back(a);
    } else {
      return usage();
    }
  }
  if (root.empty()) return usage();
  if (ctl) {
    if (rest.empty() || rest.size() > 2 || !scenario.empty() || !transcript.empty()) return usage();
    return runCtl(root, rest.size() == 1 ? rest[0] : rest[0] + " " + rest[1]);
  }
  if (scenario.empty()) return usage();
  return runSimulator(root, scenario, transcript);
}
