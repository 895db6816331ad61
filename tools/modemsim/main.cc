// modemsim: the fake modem as a program, for end-to-end tests, demonstrations and the field-log
// replay (--log: the modem of a radio log).
//   modemsim --root DIR --scenario FILE|NAME [--transcript FILE]
//   modemsim --root DIR --log LOG [--boot N] [--fast] [--transcript FILE]
//   modemsim ctl --root DIR (insert|remove|insert-quiet|remove-quiet) N | quit
#include <ctype.h>
#include <errno.h>
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cli/options.h"
#include "modemsim/logged_modem.h"
#include "modemsim/radiolog.h"
#include "modemsim/scenario.h"
#include "modemsim/simulator.h"
#include "modemsim/uevent.h"
#include "platform/host/instance.h"

namespace {

constexpr char kTool[] = "modemsim";

constexpr char kHelp[] =
    "Usage: modemsim [--root DIR] --scenario FILE|NAME [--transcript FILE]\n"
    "  or:  modemsim [--root DIR] --log LOG [--boot N] [--fast] [--transcript FILE]\n"
    "  or:  modemsim ctl [--root DIR] insert|remove|insert-quiet|remove-quiet N\n"
    "  or:  modemsim ctl [--root DIR] quit\n"
    "\n"
    "Plays the modem on a pseudo-terminal linked at DIR/dev/TTYEMS40 and prints \"ready <pty>\"\n"
    "once linked; SIGTERM or SIGINT ends it. One simulator runs per root.\n"
    "\n"
    "  --root DIR        the host root (default $MODEMPREP_ROOT); DIR/dev must exist\n"
    "  --scenario FILE   the modem a JSON scenario describes; a NAME without '/' that is no\n"
    "                    file is looked up among the shipped scenarios (two_cards, no_cards...)\n"
    "  --log LOG         answer as the modem did in the daemon's radio log (brief, time,\n"
    "                    threadtime or long format): per standby and command, in logged order,\n"
    "                    with the logged delays; a command the log cannot answer gets ERROR and\n"
    "                    a line on stderr, and a summary follows at the end\n"
    "  --boot N          the Nth start of the daemon in LOG (default: the last)\n"
    "  --fast            no waits but those the daemon timed out on\n"
    "  --transcript FILE where every command received is appended as \"<standby> <command>\"\n"
    "                    (default DIR/modemsim.transcript)\n"
    "  ctl               send a control command to the simulator running in DIR\n"
    "  --help, --version this text; the version\n"
    "\n"
    "Exit status: 0 ended by a signal or \"ctl quit\", or a ctl command done; 1 a scenario, log,\n"
    "root or transcript it cannot use, another simulator on the root (\"already running on\n"
    "DIR\"), or a ctl command that failed (one line says why); 2 a bad command line.\n"
    "The scenario format: tools/modemsim/README.md in the sources, installed as\n"
    "share/doc/modemprep-tools/modemsim.md.\n";

std::string ctlPath(const std::string& root) { return root + "/modemsim.ctl"; }

// What is wrong with the words of "ctl" (words[0]), or "" when they name a command.
std::string ctlProblem(const std::vector<std::string>& words) {
  if (words.size() == 2 && words[1] == "quit") return "";
  if (words.size() < 2) return "ctl needs a command, e.g. insert 1";
  static const char* const kVerbs[] = {"insert", "remove", "insert-quiet", "remove-quiet"};
  if (std::find(std::begin(kVerbs), std::end(kVerbs), words[1]) == std::end(kVerbs)) {
    return "ctl: unknown command \"" + words[1] + "\" (insert, remove, insert-quiet, " +
           "remove-quiet N or quit)";
  }
  if (words.size() != 3 || words[2].size() != 1 ||
      !isdigit(static_cast<unsigned char>(words[2][0])))
    return "ctl " + words[1] + " takes one slot number, e.g. " + words[1] + " 1";
  return "";
}

// The root must be a directory; otherwise one line says why.
bool rootUsable(const std::string& root) {
  struct stat st;
  const bool found = stat(root.c_str(), &st) == 0;
  if (found && S_ISDIR(st.st_mode)) return true;
  fprintf(stderr, "modemsim: root \"%s\": %s\n", root.c_str(),
          found ? "not a directory" : strerror(errno));
  return false;
}

// The simulator's claim on a root: its dev/ (where the node goes), locked for the process's life.
bool claimRoot(const std::string& root) {
  const std::string dev = root + "/dev";
  int holder = 0;
  if (hostLockInstance(dev.c_str(), &holder)) return true;
  if (holder < 0 && errno == ENOENT) {
    fprintf(stderr, "modemsim: root \"%s\": no dev folder for the node (mkdir -p %s)\n",
            root.c_str(), dev.c_str());
  } else if (holder < 0) {
    fprintf(stderr, "modemsim: %s: %s\n", dev.c_str(), strerror(errno));
  } else {
    const std::string pid = holder > 0 ? " (pid " + std::to_string(holder) + ")" : "";
    fprintf(stderr, "modemsim: already running on %s%s\n", root.c_str(), pid.c_str());
  }
  return false;
}

// A scenario named without a folder that is no file: the shipped one of that name, installed
// beside the program (<bin>/../share/modemprep/scenarios) or in the sources it was built from.
std::string scenarioFile(const std::string& given) {
  struct stat st;
  if (given.find('/') != std::string::npos || stat(given.c_str(), &st) == 0) return given;
  const std::string file =
      given.size() > 5 && given.substr(given.size() - 5) == ".json" ? given : given + ".json";
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string installed = n > 0 ? std::string(self, static_cast<size_t>(n)) : "";
  installed = installed.substr(0, installed.rfind('/') + 1) + "../share/modemprep/scenarios/";
  for (const std::string& folder : {installed, std::string(MODEMSIM_SCENARIOS "/")}) {
    if (stat((folder + file).c_str(), &st) == 0) return folder + file;
  }
  return given;
}

// Sends one control command and waits for the simulator's reply.
int runCtl(const std::string& root, const std::string& command) {
  sockaddr_un server;
  if (!modemsim::unixAddress(ctlPath(root), &server)) {
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
  const int err = modemsim::sendRetrying(fd, server, command, 5000);
  if (err == ENOENT || err == ECONNREFUSED) {
    fprintf(stderr,
            "modemsim ctl: no simulator runs on %s (start one: modemsim --root %s "
            "--scenario two_cards)\n",
            root.c_str(), root.c_str());
  } else if (err != 0) {
    fprintf(stderr, "modemsim ctl: send to %s: %s\n", ctlPath(root).c_str(), strerror(err));
  }
  if (err != 0) {
    close(fd);
    return 1;
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

// Signals arrive through a descriptor, so the simulator thread never sees them; -1 on failure.
int signalDescriptor() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return signalfd(-1, &signals, SFD_CLOEXEC);
}

// The control socket bound at ctl; -1 on failure.
int listenControl(const std::string& ctl) {
  sockaddr_un addr;
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  unlink(ctl.c_str());
  if (fd >= 0 && modemsim::unixAddress(ctl, &addr) &&
      bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
    return fd;
  }
  if (fd >= 0) close(fd);
  return -1;
}

// One control command received and answered to its sender, when it has an address.
void answerControl(int ctlFd, modemsim::Simulator& sim, bool* quit) {
  char buf[256];
  sockaddr_un from{};
  socklen_t fromLen = sizeof(from);
  const ssize_t n =
      recvfrom(ctlFd, buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
  if (n < 0) return;
  std::string text(buf, static_cast<size_t>(n));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
  const std::string reply = control(&sim, text, quit);
  if (fromLen > sizeof(sa_family_t)) {
    sendto(ctlFd, reply.data(), reply.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
           fromLen);
  }
}

// Serves `sim` until a signal or "quit"; 1 when it cannot be set up.
int serve(modemsim::Simulator& sim, const std::string& root, std::string transcript) {
  if (transcript.empty()) transcript = root + "/modemsim.transcript";
  const int sigFd = signalDescriptor();
  const std::string ctl = ctlPath(root);
  const int ctlFd = listenControl(ctl);
  if (sigFd < 0 || ctlFd < 0) {
    fprintf(stderr, "modemsim: cannot listen on %s: %s\n", ctl.c_str(), strerror(errno));
    return 1;
  }
  sim.setTranscriptFile(transcript);
  std::string error;
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
    if (fds[1].revents & POLLIN) answerControl(ctlFd, sim, &quit);
  }
  sim.stop();
  close(ctlFd);
  unlink(ctl.c_str());
  return 0;
}

int runScenario(const std::string& root, const std::string& file, const std::string& transcript) {
  modemsim::Scenario scenario;
  std::string error;
  if (!modemsim::loadScenarioFile(scenarioFile(file), &scenario, &error)) {
    fprintf(stderr, "modemsim: %s\n", error.c_str());
    return cli::kRuntimeStatus;
  }
  if (!claimRoot(root)) return cli::kRuntimeStatus;
  modemsim::Simulator sim(scenario);
  return serve(sim, root, transcript);
}

bool loadBoot(const std::string& file, int boot, modemsim::RadioLog* log,
              std::vector<modemsim::LogLine>* lines) {
  std::string error;
  if (!modemsim::readRadioLog(file, log, &error) ||
      !modemsim::bootLines(*log, boot, lines, &error)) {
    fprintf(stderr, "modemsim: %s\n",
            (error.rfind(file, 0) == 0 ? error : file + ": " + error).c_str());
    return false;
  }
  return true;
}

// Which start of how many, and what was skipped.
std::string describe(const modemsim::RadioLog& log, int boot) {
  const size_t n = log.boots.size();
  return "start " + std::to_string(boot == 0 ? n : boot) + " of " + std::to_string(n) + " (" +
         log.format + ", " + std::to_string(log.lines.size()) + " lines of the daemon, " +
         std::to_string(log.other) + " of other processes, " + std::to_string(log.malformed) +
         " malformed lines skipped)";
}

int runLoggedModem(const std::string& root, const std::string& file, int boot, bool fast,
                   const std::string& transcript) {
  modemsim::RadioLog log;
  std::vector<modemsim::LogLine> lines;
  if (!loadBoot(file, boot, &log, &lines) || !claimRoot(root)) return cli::kRuntimeStatus;
  fprintf(stderr, "modemsim: answering as the modem of %s of %s\n", describe(log, boot).c_str(),
          file.c_str());
  if (!fast && lines.front().ms < 0) {
    fprintf(stderr, "modemsim: %s has no time stamps: every answer goes out at once\n",
            file.c_str());
  }
  auto note = [](const std::string& text) {
    fprintf(stderr, "modemsim: logged modem: %s\n", text.c_str());
  };
  auto modem =
      std::make_unique<modemsim::LoggedModem>(lines, modemsim::LoggedModemOptions{fast}, note);
  modemsim::LoggedModem& logged = *modem;
  const int nodeDelay = modem->nodeDelayMs();
  modemsim::Simulator sim(std::move(modem), {}, 0, nodeDelay);
  const int status = serve(sim, root, transcript);
  sim.stop();
  if (status == 0) fprintf(stderr, "modemsim: logged modem: %s\n", logged.summary().c_str());
  return status;
}

// The command line: the options, then the words after them.
struct Command {
  std::string root, scenario, logFile, transcript;
  int boot = 0;
  bool fast = false, bootGiven = false;
  std::vector<std::string> words;
};

// "--boot N": the start's number from 1; false for anything else.
bool parseBoot(const char* text, Command* cmd) {
  char* end = nullptr;
  const long n = strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || n < 1 || n > 100000) return false;
  cmd->boot = static_cast<int>(n);
  cmd->bootGiven = true;
  return true;
}

// Reads the options into *cmd; -1 to go on, or the exit status.
int parseOptions(int argc, char** argv, Command* cmd) {
  enum { kRoot = 1, kScenario, kLog, kTranscript, kBoot, kFast, kHelpOption, kVersion };
  static const option kOptions[] = {
      {"root", required_argument, nullptr, kRoot},
      {"scenario", required_argument, nullptr, kScenario},
      {"log", required_argument, nullptr, kLog},
      {"boot", required_argument, nullptr, kBoot},
      {"fast", no_argument, nullptr, kFast},
      {"transcript", required_argument, nullptr, kTranscript},
      {"help", no_argument, nullptr, kHelpOption},
      {"version", no_argument, nullptr, kVersion},
      {nullptr, 0, nullptr, 0},
  };
  // The options that take a text, by their number.
  std::string* const texts[] = {nullptr, &cmd->root, &cmd->scenario, &cmd->logFile,
                                &cmd->transcript};
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, ":", kOptions, nullptr)) != -1;) {
    if (c >= kRoot && c <= kTranscript) {
      *texts[c] = optarg;
    } else if (c == kFast) {
      cmd->fast = true;
    } else if (c == kBoot) {
      if (!parseBoot(optarg, cmd)) {
        return cli::usageError(
            kTool, std::string("--boot takes a start number from 1, not '") + optarg + "'");
      }
    } else if (c == kHelpOption) {
      fputs(kHelp, stdout);
      return 0;
    } else if (c == kVersion) {
      return cli::printVersion(kTool);
    } else if (c == ':') {
      return cli::usageError(kTool, cli::missingValue(argv));
    } else {
      return cli::usageError(kTool, cli::refusedOption(argv));
    }
  }
  cmd->words.assign(argv + optind, argv + argc);
  return -1;
}

int ctlMode(const Command& cmd) {
  const std::vector<std::string>& words = cmd.words;
  if (cmd.root.empty()) return cli::usageError(kTool, "ctl needs --root DIR (or $MODEMPREP_ROOT)");
  if (!cmd.scenario.empty() || !cmd.logFile.empty() || !cmd.transcript.empty() || cmd.fast ||
      cmd.bootGiven) {
    return cli::usageError(kTool, "ctl takes only --root and a command");
  }
  const std::string problem = ctlProblem(words);
  if (!problem.empty()) return cli::usageError(kTool, problem);
  if (!rootUsable(cmd.root)) return cli::kRuntimeStatus;
  return runCtl(cmd.root, words.size() == 2 ? words[1] : words[1] + " " + words[2]);
}

// The simulator itself, playing a scenario's modem or a logged one.
int serveMode(const Command& cmd) {
  if (!cmd.words.empty()) {
    return cli::usageError(kTool, "unexpected argument '" + cmd.words[0] + "'");
  }
  if (cmd.root.empty()) return cli::usageError(kTool, "missing --root DIR (or $MODEMPREP_ROOT)");
  if (cmd.scenario.empty() == cmd.logFile.empty())
    return cli::usageError(kTool, "give one of --scenario and --log");
  if (!cmd.scenario.empty() && (cmd.fast || cmd.bootGiven))
    return cli::usageError(kTool, "--boot and --fast go with --log");
  if (!rootUsable(cmd.root)) return cli::kRuntimeStatus;
  if (!cmd.scenario.empty()) return runScenario(cmd.root, cmd.scenario, cmd.transcript);
  return runLoggedModem(cmd.root, cmd.logFile, cmd.boot, cmd.fast, cmd.transcript);
}

}  // namespace

int main(int argc, char** argv) {
  Command cmd;
  const int status = parseOptions(argc, argv, &cmd);
  if (status >= 0) return status;
  const std::string mode = cmd.words.empty() ? "" : cmd.words[0];
  const char* envRoot = getenv("MODEMPREP_ROOT");
  if (cmd.root.empty() && envRoot != nullptr) cmd.root = envRoot;
  if (mode == "ctl") return ctlMode(cmd);
  return serveMode(cmd);
}
