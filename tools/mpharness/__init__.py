"""The host-platform harness: the real modemprep daemon and the modem simulator in a fresh, short
root standing for "/", for the end-to-end tests and their golden runs, the benchmark, the demo and
the field-log replay. A Phone boots the daemon, reads what it left and simulates reboots:

    phone = Phone(scenario("two_cards"), factory=b"221", build=Build("/tmp/other-build")).boot()
    phone.props(), phone.init_log(), phone.rild(0), phone.history_bytes(), phone.transcript()
    phone.control("remove", "1"); phone.wait_log("start rild1", count=2); phone.close()

tools/ must be on the import path: ctest, scripts/demo.sh, scripts/replay.sh and bench/run.sh put
it on PYTHONPATH.
"""
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCENARIOS = os.path.join(REPO, "tools", "modemsim", "scenarios")
# Cards for the simulator's slots: a USIM of the target operator, a SIM of another domestic one.
CARD_A = {"present": True, "id": "89860012345678901234", "imsi": "460001234567890", "type": 2,
          "lock": "none"}
CARD_B = {"present": True, "id": "89860198765432109876", "imsi": "460019876543210", "type": 1,
          "lock": "none"}


def absent(card):
    """The slot of `card` with the card out (insert brings it in)."""
    return dict(card, present=False)


def scenario(name, **changes):
    """A scenario of tools/modemsim/scenarios (name without .json), top-level keys replaced."""
    return dict(json.loads(pathlib.Path(SCENARIOS, name + ".json").read_text()), **changes)


class HarnessError(RuntimeError):
    """A tool the harness drives is missing or failed: the rig is broken, not the daemon."""


# The programs the harness runs: their CMake targets and their paths in a build tree (what
# scripts/demo.sh, scripts/replay.sh and scripts/ci-arm64.sh build or wrap).
TARGETS = ("modemprep", "modemsim", "ueventsend", "propctl", "cardhist", "radioplan", "daemonlog")
PROGRAMS = ("modemprep",) + tuple("tools/%s/%s" % (name, name) for name in TARGETS[1:])
STAMP = "harness-build.stamp"  # in a build tree: when make() last brought it up to date


class Build:
    """The programs of one build tree. Without a directory: $MODEMPREP_BUILD, else <repo>/build.
    With bindir: the installed programs in that directory instead (cmake --install)."""

    def __init__(self, directory=None, bindir=None):
        directory = directory or os.environ.get("MODEMPREP_BUILD") or os.path.join(REPO, "build")
        self.directory = os.path.abspath(directory)
        self.programs = ([os.path.join(bindir, os.path.basename(p)) for p in PROGRAMS] if bindir
                         else [self.path(p) for p in PROGRAMS])
        (self.daemon, self.modemsim, self.ueventsend, self.propctl, self.cardhist,
         self.radioplan, self.daemonlog) = self.programs

    def records(self, *argv, text=None):
        """The daemon's lines as tools/daemonlog reads them: (the "log" record, the line records);
        argv names the log (or --bugreport FILE), text is a log to read from stdin ("-")."""
        result = subprocess.run([self.daemonlog, *argv], capture_output=True, timeout=120,
                                input=None if text is None else text.encode(
                                    "utf-8", "surrogateescape"))
        if result.returncode != 0:
            raise HarnessError(result.stderr.decode(errors="replace").strip()
                               .replace("daemonlog: ", "", 1))
        info, *lines = [json.loads(line) for line in result.stdout.splitlines()]
        return info, lines

    def path(self, *parts):
        return os.path.join(self.directory, *parts)

    def crashpoint(self, **settings):
        """The daemon's environment with tools/crashpoint preloaded and its CRASHPOINT_<KEY>
        settings (at=N, log=FILE, enospc=PATH_PREFIX)."""
        # A sanitized daemon wants its runtime first; the preloaded library only wraps calls.
        asan = ":".join(filter(None, [os.environ.get("ASAN_OPTIONS"), "verify_asan_link_order=0"]))
        return dict({"CRASHPOINT_" + key.upper(): str(value) for key, value in settings.items()},
                    LD_PRELOAD=self.path("tools", "crashpoint", "libcrashpoint.so"),
                    ASAN_OPTIONS=asan)

    def check(self):
        """Raises HarnessError naming the first program that is not built."""
        for program in self.programs:
            if not os.access(program, os.X_OK):
                raise HarnessError("missing %s: build the default preset first" % program)
        return self

    def make(self, tool):
        """Installs the Debian packages the build needs when the machine lacks them and brings
        the programs and what `cmake --install` needs (man pages) up to date with the default
        preset, its output in <build>/<tool>-build.log; for the commands that build what they
        run when no build tree is named (--build DIR or $MODEMPREP_BUILD). A configured tree is
        not configured again (the build re-runs CMake itself when a CMakeLists changed), and
        "building" is said only when something is compiled."""
        packages = subprocess.run([os.path.join(REPO, "scripts", "install-packages.sh"),
                                   "--build"])
        if packages.returncode != 0:
            sys.exit(packages.returncode)  # it said what is missing
        if self.up_to_date():
            return self
        started = time.time()
        os.makedirs(self.directory, exist_ok=True)
        log = self.path(tool + "-build.log")
        steps = [["cmake", "--build", "--preset", "default", "--target", *TARGETS, "manpages"]]
        said = not os.path.exists(self.path("CMakeCache.txt"))
        if said:
            steps.insert(0, ["cmake", "--preset", "default"])
            print("%s: building the daemon and its tools in %s (about a minute the first time)"
                  "..." % (tool, self.directory), file=sys.stderr)
        with open(log, "w") as out:
            for argv in steps:
                step = subprocess.Popen(argv, cwd=REPO, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True)
                for line in step.stdout:
                    out.write(line)
                    if not said and re.search(r"Building|Linking|Generating", line):
                        print("%s: rebuilding what changed in %s..." % (tool, self.directory),
                              file=sys.stderr)
                        said = True
                if step.wait():
                    raise HarnessError("the build failed; its whole output is in %s" % log)
        pathlib.Path(self.path(STAMP)).touch()
        os.utime(self.path(STAMP), (started, started))  # what changed during the build counts
        return self.check()


    def up_to_date(self):
        """Whether the programs exist and no file they are built from changed since the last
        make() brought them up to date (what make would find, without its walk of the whole
        tree: milliseconds against many seconds)."""
        try:
            built = os.stat(self.path(STAMP)).st_mtime
        except OSError:
            return False
        sources = [os.path.join(REPO, name) for name in ("CMakeLists.txt", "CMakePresets.json")]
        for folder in ("src", "tools", "cmake"):
            sources += [os.path.join(parent, name) for parent, _, names in
                        os.walk(os.path.join(REPO, folder)) for name in names]
        return (all(os.access(program, os.X_OK) for program in self.programs) and
                all(os.stat(path).st_mtime < built for path in sources if os.path.exists(path)))


# The daemon's fixed paths under a root (RADIO_DIR, HISTORY: tools/cardhist decodes it with --json
# and writes it with --encode, FACTORY_FILE, UEVENT_SOCKET, MODEM_DEVICE, RILD_FILE: one per
# standby, "%d"), as its own definitions give them: radioplan --names prints them.
_PATHS = {"HISTORY": "card_history", "FACTORY_FILE": "factory_file",
          "UEVENT_SOCKET": "uevent_socket", "MODEM_DEVICE": "modem_device"}
_daemon_names = {}


def _radioplan():
    """A radioplan to ask: the build tree's, else the installed one (bin/ beside share/modemprep,
    where the installed harness lives), else the first on PATH. The paths are the same in all."""
    installed = os.path.join(REPO, os.pardir, os.pardir, "bin", "radioplan")
    for candidate in (Build().radioplan, installed, shutil.which("radioplan")):
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    return Build().radioplan  # missing: its error names the build tree


def daemon_names():
    """The daemon's declarations as radioplan --names prints them (asked once)."""
    if not _daemon_names:
        radioplan = _radioplan()
        try:
            _daemon_names.update(json.loads(subprocess.run(
                [radioplan, "--names"], check=True, stdout=subprocess.PIPE).stdout))
        except (OSError, subprocess.CalledProcessError, ValueError) as error:
            raise HarnessError("%s --names: %s" % (radioplan, error))
    return _daemon_names


def daemon_path(name):
    """One of the daemon's fixed paths by its name here (RADIO_DIR, HISTORY, ...)."""
    names = daemon_names()
    if name == "RADIO_DIR":
        return names["data_directory"]["name"].rstrip("/")
    if name == "RILD_FILE":
        return names["paths"]["rild_config_base"] + "%d"
    return names["paths"][_PATHS[name]]


def __getattr__(name):
    if name in _PATHS or name in ("RADIO_DIR", "RILD_FILE"):
        return daemon_path(name)
    if name == "RESIDENT_LINE":  # the start of the line the daemon logs once it is resident
        return daemon_names()["log"]["resident"]
    raise AttributeError("module %r has no attribute %r" % (__name__, name))


class Root:
    """What the daemon left under a host root (self.root; its log at self.log_path, read with
    self.build's programs): the log, files, property store, init requests."""

    def path(self, phone_path):
        return self.root + phone_path

    def log(self):
        return pathlib.Path(self.log_path).read_text(errors="replace")

    def texts(self):
        """Log messages without the 'X/modemprep(  pid): ' prefix."""
        return [line.partition("): ")[2] for line in self.log().splitlines() if "): " in line]

    def records(self):
        """Every line of the daemon's log as a record of tools/daemonlog."""
        return self.build.records("--all", "-", text=self.log())[1]

    def time_outs(self):
        """Seconds each time-out record waited."""
        return [r["waited_ms"] / 1e3 for r in self.records() if r["kind"] == "time-out"]

    def transcript(self):
        """'<standby> <command>' per command the simulator received since it started."""
        return (self.file_bytes("/modemsim.transcript") or b"").decode().splitlines()

    def file_bytes(self, phone_path):
        """A file's bytes, or None when there is no such file."""
        try:
            with open(self.path(phone_path), "rb") as f:
                return f.read()
        except (FileNotFoundError, IsADirectoryError, NotADirectoryError):
            return None

    def store_lines(self):
        return (self.file_bytes("/properties") or b"").decode(errors="replace").splitlines()

    def props(self):
        return dict(line.split("=", 1) for line in self.store_lines() if "=" in line)

    def init_log(self):
        return (self.file_bytes("/init.log") or b"").decode().splitlines()

    def rild(self, standby):
        return pathlib.Path(self.path(daemon_path("RILD_FILE") % standby)).read_text()

    def history_bytes(self):
        return self.file_bytes(daemon_path("HISTORY"))


class Phone(Root):
    """A phone on a host root: the simulated modem, the daemon, the events sent to it."""

    def __init__(self, modem, properties=None, factory=None, data_dir=True, build=None, env=None):
        """modem: a scenario (dict); factory: the factory file's bytes (None: no file); env: the
        daemon's environment besides MODEMPREP_ROOT."""
        self.build, self.env = build or Build(), env or {}
        self.root = tempfile.mkdtemp(prefix="mp", dir="/tmp")
        # Logs and the scenario live below the root's own files, so that a watch on the root
        # (bench/rig.py) sees only what the daemon writes there.
        folders = [os.path.dirname(daemon_path(name)) for name in ("MODEM_DEVICE", "FACTORY_FILE")]
        for sub in folders + ["/log"] + ([daemon_path("RADIO_DIR")] if data_dir else []):
            os.makedirs(self.path(sub), exist_ok=True)
        if factory is not None:
            pathlib.Path(self.path(daemon_path("FACTORY_FILE"))).write_bytes(factory)
        self.modem_scenario, self.boots = modem, 0
        self.sim = self.daemon = self.log_path = None
        self.sim_report_path = self.path("/log/modemsim.report")
        for name, value in (properties or {}).items():
            self.set_prop(name, value)

    # ---- processes -------------------------------------------------------------------------
    def modem_args(self):
        """The simulator's arguments besides --root: the scenario, written into the root."""
        scenario_path = self.path("/log/scenario.json")
        pathlib.Path(scenario_path).write_text(json.dumps(self.modem_scenario))
        return ["--scenario", scenario_path]

    def start_modem(self, wait_ready=True):
        """Starts the simulator, its messages in sim_report_path; with wait_ready, returns once the
        node is linked."""
        self.stop_modem()
        with open(self.sim_report_path, "w") as report:
            self.sim = subprocess.Popen([self.build.modemsim, "--root", self.root]
                                        + self.modem_args(), stdout=subprocess.PIPE,
                                        stderr=report, text=True)
        if wait_ready and not self.sim.stdout.readline().startswith("ready"):
            self.sim.wait(10)
            raise HarnessError("modemsim did not start: %s" % self.sim_report().strip())

    def stop_modem(self):
        if self.sim is not None:
            self.sim.terminate()
            self.sim.wait(10)
            self.sim.stdout.close()
            self.sim = None

    def sim_report(self):
        """What the simulator wrote on its standard error since it was last started."""
        with open(self.sim_report_path, errors="replace") as f:
            return f.read()

    def start_daemon(self, prefix=(), env=None):
        """Execs the daemon (under `prefix`, e.g. valgrind) with its log in a new file; returns
        the monotonic time just before the exec."""
        self.boots += 1
        self.log_path = self.path("/log/daemon%d.log" % self.boots)
        environment = {**os.environ, "MODEMPREP_ROOT": self.root, **self.env, **(env or {})}
        with open(self.log_path, "w") as log:
            started = time.monotonic()
            self.daemon = subprocess.Popen(list(prefix) + [self.build.daemon], env=environment,
                                           stdout=log, stderr=log, stdin=subprocess.DEVNULL)
        return started

    def boot(self, timeout=60, start_modem=True):
        """Starts the modem (unless running or not wanted) and the daemon; returns once the daemon
        is resident or ended."""
        if start_modem and self.sim is None:
            self.start_modem()
        self.start_daemon()
        self.wait_log(daemon_names()["log"]["resident"], timeout, exit_ends_wait=True)
        return self

    def wait_log(self, text, timeout=60, count=1, exit_ends_wait=False):
        """Waits until the daemon's log holds `text` `count` times. Fails with the log's tail
        after `timeout` s or when the daemon ends first (unless exit_ends_wait: then False)."""
        deadline = time.monotonic() + timeout
        while self.log().count(text) < count:
            ended = self.daemon.poll()
            if ended is not None and exit_ends_wait:
                return False
            if ended is not None or time.monotonic() > deadline:
                raise AssertionError("%s while waiting for %r %d times in %s; last lines:\n%s" % (
                    "%g s passed" % timeout if ended is None else "the daemon ended with status %d"
                    % ended, text, count, self.log_path, "\n".join(self.log().splitlines()[-25:])))
            time.sleep(0.02)
        return True

    def stop_daemon(self):
        if self.daemon is not None and self.daemon.poll() is None:
            # SIGTERM, not SIGKILL: a coverage build's daemon writes its counts on it.
            self.daemon.terminate()
            try:
                self.daemon.wait(10)
            except subprocess.TimeoutExpired:
                self.daemon.kill()
                self.daemon.wait(10)

    def reboot(self, modem=None):
        """Power cycle: daemon and modem stop; only persist. properties and /data survive."""
        self.stop_daemon()
        self.stop_modem()
        self._run(self.build.propctl, "--root", self.root, "reboot")
        self.modem_scenario = modem or self.modem_scenario
        if os.path.exists(self.path("/modemsim.transcript")):
            os.remove(self.path("/modemsim.transcript"))

    def control(self, *words):
        """A simulator control command: insert|remove|insert-quiet|remove-quiet N, quit."""
        self._run(self.build.modemsim, "ctl", "--root", self.root, *words)

    def send_uevent(self, *fields, raw=None, count=1):
        fields = ["--raw", raw] if raw is not None else list(fields)
        self._run(self.build.ueventsend, "--root", self.root, "--count", str(count), *fields)

    def set_prop(self, name, value):
        self._run(self.build.propctl, "--root", self.root, "--create", "set", name, value)

    def close(self):
        self.stop_daemon()
        self.stop_modem()
        shutil.rmtree(self.root, ignore_errors=True)

    def _run(self, *argv):
        result = subprocess.run(argv, capture_output=True, text=True, timeout=20)
        if result.returncode != 0:
            raise HarnessError("%s failed (%d): %s" % (" ".join(argv), result.returncode,
                                                        result.stderr.strip()))
