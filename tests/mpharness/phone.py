"""One phone: a root directory standing for "/", the simulator process, at most one daemon process.

A Phone boots the daemon, reads what it left (AT transcript, property store, init.log, rild files,
card history, log) and simulates reboots the way the host platform contract describes.
"""
import concurrent.futures
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

from .build import Build, HarnessError
from .history import HISTORY

RESIDENT_LINE = "uevent_open_socket device_fd:"
RADIO_DIR = "/data/vantorel/radio"
TIME_OUT = re.compile(r"read time out: (\d+):(\d+) -> (\d+):(\d+)$")


class Phone:
    def __init__(self, modem, properties=None, factory=None, data_dir=True, build=None):
        """modem: a scenario (dict); factory: the factory file's bytes (None: no file)."""
        self.build = build or Build()
        self.root = tempfile.mkdtemp(prefix="mp", dir="/tmp")
        # Logs and the scenario live below the root's own files, so that a watch on the root
        # (bench/rig.py) sees only what the daemon writes there.
        for sub in ("dev", "amt", "log") + (("data/vantorel/radio",) if data_dir else ()):
            os.makedirs(os.path.join(self.root, sub), exist_ok=True)
        if factory is not None:
            with open(self.path("/amt/msms_config.txt"), "wb") as f:
                f.write(factory)
        self.modem_scenario = modem
        self.sim = None
        self.daemon = None
        self.boots = 0
        self.log_path = None
        for name, value in (properties or {}).items():
            self.set_prop(name, value)

    def path(self, phone_path):
        return self.root + phone_path

    # ---- processes -------------------------------------------------------------------------
    def start_modem(self, wait_ready=True):
        """Starts the simulator; with wait_ready, returns once the node is linked."""
        self.stop_modem()
        scenario_path = self.path("/log/scenario.json")
        with open(scenario_path, "w") as f:
            json.dump(self.modem_scenario, f)
        self.sim = subprocess.Popen([self.build.modemsim, "--root", self.root, "--scenario",
                                     scenario_path], stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, text=True)
        if wait_ready:
            line = self.sim.stdout.readline()
            if not line.startswith("ready"):
                raise HarnessError("modemsim did not start: %r %s" % (line, self.sim.stderr.read()))

    def stop_modem(self):
        if self.sim is not None:
            self.sim.terminate()
            self.sim.wait(10)
            self.sim.stdout.close()
            self.sim.stderr.close()
            self.sim = None

    def start_daemon(self, prefix=(), env=None):
        """Execs the daemon (under `prefix`, e.g. valgrind) with its log in a new file; returns
        the monotonic time just before the exec."""
        self.boots += 1
        self.log_path = self.path("/log/daemon%d.log" % self.boots)
        environment = dict(os.environ, MODEMPREP_ROOT=self.root, **(env or {}))
        with open(self.log_path, "w") as log:
            started = time.monotonic()
            self.daemon = subprocess.Popen(list(prefix) + [self.build.daemon], env=environment,
                                           stdout=log, stderr=log, stdin=subprocess.DEVNULL)
        return started

    def boot(self, wait_for=RESIDENT_LINE, timeout=60, start_modem=True):
        """Starts the modem (unless running or not wanted) and the daemon; returns once the log
        holds wait_for or the daemon ended."""
        if start_modem and self.sim is None:
            self.start_modem()
        self.start_daemon()
        self.wait_log(wait_for, timeout, exit_ends_wait=True)
        return self

    def wait_log(self, text, timeout=60, count=1, exit_ends_wait=False):
        """Waits until the daemon's log holds `text` `count` times. Fails with the log's tail
        after `timeout` s or when the daemon ends first (unless exit_ends_wait: then False)."""
        deadline = time.monotonic() + timeout
        while True:
            log = self.log()
            seen = log.count(text)
            if seen >= count:
                return True
            ended = self.daemon.poll()
            if ended is not None and exit_ends_wait:
                return False
            if ended is not None or time.monotonic() > deadline:
                why = ("the daemon ended with status %d" % ended if ended is not None
                       else "%g s passed" % timeout)
                raise AssertionError("%s while waiting for %r (seen %d of %d times) in %s; last "
                                     "lines:\n%s" % (why, text, seen, count, self.log_path,
                                                     "\n".join(log.splitlines()[-25:])))
            time.sleep(0.02)

    def stop_daemon(self):
        if self.daemon is not None and self.daemon.poll() is None:
            self.daemon.send_signal(signal.SIGKILL)
            self.daemon.wait(10)

    def reboot(self, modem=None):
        """Power cycle: daemon and modem stop; only persist. properties and /data survive."""
        self.stop_daemon()
        self.stop_modem()
        self._run(self.build.propctl, "--root", self.root, "reboot")
        if modem is not None:
            self.modem_scenario = modem
        if os.path.exists(self.path("/modemsim.transcript")):
            os.remove(self.path("/modemsim.transcript"))

    def control(self, *words):
        """A simulator control command: insert|remove|insert-quiet|remove-quiet N, quit."""
        self._run(self.build.modemsim, "ctl", "--root", self.root, *words)

    def send_uevent(self, *fields, raw=None, count=1):
        args = ["--root", self.root, "--count", str(count)]
        args += ["--raw", raw] if raw is not None else list(fields)
        self._run(self.build.ueventsend, *args)

    def set_prop(self, name, value):
        self._run(self.build.propctl, "--root", self.root, "set", name, value)

    def close(self):
        self.stop_daemon()
        self.stop_modem()
        shutil.rmtree(self.root, ignore_errors=True)

    def _run(self, *argv):
        result = subprocess.run(argv, capture_output=True, text=True, timeout=20)
        if result.returncode != 0:
            raise HarnessError("%s failed (%d): %s" % (" ".join(argv), result.returncode,
                                                        result.stderr.strip()))

    # ---- what the daemon left --------------------------------------------------------------
    def log(self):
        with open(self.log_path, errors="replace") as f:
            return f.read()

    def texts(self):
        """Log messages without the 'X/modemprep(  pid): ' prefix."""
        return [line.partition("): ")[2] for line in self.log().splitlines() if "): " in line]

    def time_outs(self):
        """Seconds between the two clock readings of each "read time out" line."""
        return [int(m[3]) - int(m[1]) + (int(m[4]) - int(m[2])) / 1e9
                for m in map(TIME_OUT.match, self.texts()) if m]

    def transcript(self):
        """'<standby> <command>' per command the simulator received since it started."""
        try:
            with open(self.path("/modemsim.transcript")) as f:
                return [line.rstrip("\n") for line in f]
        except FileNotFoundError:
            return []

    def commands(self):
        return [line.split(" ", 1)[1] for line in self.transcript()]

    def props(self):
        return dict(line.split("=", 1) for line in self.store_lines() if "=" in line)

    def init_log(self):
        return (self.file_bytes("/init.log") or b"").decode().splitlines()

    def rild(self, standby):
        with open(self.path("%s/rild.cfg%d" % (RADIO_DIR, standby))) as f:
            return f.read()

    def file_bytes(self, phone_path):
        """A file's bytes, or None when there is no such file."""
        try:
            with open(self.path(phone_path), "rb") as f:
                return f.read()
        except (FileNotFoundError, IsADirectoryError):
            return None

    def store_lines(self):
        return (self.file_bytes("/properties") or b"").decode(errors="replace").splitlines()

    def end_state(self):
        """What a start-up leaves that must not depend on how the previous one ended: the radio
        files, the persistent properties, the init requests, and no temporary file anywhere."""
        state = {name: self.file_bytes("%s/%s" % (RADIO_DIR, name))
                 for name in ("radio.cfg", "rild.cfg0", "rild.cfg1")}
        state["persist"] = sorted(line for line in self.store_lines()
                                  if line.startswith("persist."))
        state["init.log"] = self.init_log()
        state["temporary files"] = sorted(
            name for directory in ("", RADIO_DIR) for name in os.listdir(self.path(directory))
            if ".tmp" in name or name.endswith(".restore"))
        return state

    def history_bytes(self):
        with open(self.path(HISTORY), "rb") as f:
            return f.read()


def boot_all(phones, timeout):
    """Boots independent phones at once (their daemons mostly wait on the modem)."""
    with concurrent.futures.ThreadPoolExecutor(max_workers=len(phones)) as pool:
        for future in [pool.submit(p.boot, timeout=timeout) for p in phones]:
            future.result()
