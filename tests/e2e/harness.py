"""Drives the real host daemon against the modem simulator in a fresh, short root.

A Phone owns one root directory (the phone's "/"), one simulator process and at most one daemon
process. Tests boot it, read what the daemon left (AT transcript, property store, init.log, rild
files, card history, log) and simulate reboots the way the host contract describes.
"""
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time

BUILD = os.environ.get("MODEMPREP_BUILD",
                       os.path.join(os.path.dirname(__file__), "..", "..", "build"))
DAEMON = os.path.join(BUILD, "modemprep")
MODEMSIM = os.path.join(BUILD, "tools", "modemsim", "modemsim")
UEVENTSEND = os.path.join(BUILD, "tools", "ueventsend", "ueventsend")
SCENARIOS = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "modemsim", "scenarios")

RESIDENT_LINE = "uevent_open_socket device_fd:"


def scenario(name, **changes):
    """A scenario from tools/modemsim/scenarios with top-level keys replaced."""
    with open(os.path.join(SCENARIOS, name + ".json")) as f:
        data = json.load(f)
    data.update(changes)
    return data


class Phone:
    def __init__(self, modem, properties=None, factory=None, data_dir=True):
        self.root = tempfile.mkdtemp(prefix="mp", dir="/tmp")
        for sub in ("dev", "amt") + (("data/vantorel/radio",) if data_dir else ()):
            os.makedirs(os.path.join(self.root, sub), exist_ok=True)
        if factory is not None:
            with open(self.path("/amt/msms_config.txt"), "wb") as f:
                f.write(factory)
        self.modem_scenario = modem
        self.sim = None
        self.daemon = None
        self.boots = 0
        for name, value in (properties or {}).items():
            self.set_prop(name, value)

    # ---- processes ---------------------------------------------------------------------------
    def path(self, phone_path):
        return self.root + phone_path

    def start_modem(self):
        self.stop_modem()
        scenario_path = self.path("/scenario.json")
        with open(scenario_path, "w") as f:
            json.dump(self.modem_scenario, f)
        self.sim = subprocess.Popen([MODEMSIM, "--root", self.root, "--scenario", scenario_path],
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.sim.stdout.readline()
        if not line.startswith("ready"):
            raise RuntimeError("modemsim did not start: " + line + self.sim.stderr.read())

    def stop_modem(self):
        if self.sim is not None:
            self.sim.terminate()
            self.sim.wait(10)
            self.sim.stdout.close()
            self.sim.stderr.close()
            self.sim = None

    def boot(self, wait_for=RESIDENT_LINE, timeout=60, start_modem=True):
        """Starts the daemon; returns once its log holds wait_for or it exited."""
        if start_modem and self.sim is None:
            self.start_modem()
        self.boots += 1
        self.log_path = self.path("/daemon%d.log" % self.boots)
        env = dict(os.environ, MODEMPREP_ROOT=self.root)
        self.started_at = time.monotonic()
        with open(self.log_path, "w") as log:
            self.daemon = subprocess.Popen([DAEMON], env=env, stderr=log, stdout=log)
        self.wait_log(wait_for, timeout)
        return self

    def wait_log(self, text, timeout=60, count=1):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.log().count(text) >= count:
                return
            if self.daemon.poll() is not None:
                return
            time.sleep(0.02)
        raise AssertionError("timed out waiting for %r in the daemon log:\n%s" % (text, self.log()))

    def wait_exit(self, timeout=10):
        return self.daemon.wait(timeout)

    def stop_daemon(self):
        if self.daemon is not None and self.daemon.poll() is None:
            self.daemon.send_signal(signal.SIGKILL)
            self.daemon.wait(10)

    def reboot(self, modem=None):
        """Power cycle: daemon and modem restart; only persist. properties and /data survive."""
        self.stop_daemon()
        self.stop_modem()
        subprocess.run([os.path.join(BUILD, "tools", "propctl", "propctl"), "--root", self.root,
                        "reboot"], check=True)
        if modem is not None:
            self.modem_scenario = modem
        for f in ("/modemsim.transcript",):
            if os.path.exists(self.path(f)):
                os.remove(self.path(f))

    def control(self, *words):
        subprocess.run([MODEMSIM, "ctl", "--root", self.root] + list(words), check=True,
                       timeout=20)

    def send_uevent(self, *fields, raw=None, count=1):
        args = [UEVENTSEND, "--root", self.root, "--count", str(count)]
        args += ["--raw", raw] if raw is not None else list(fields)
        subprocess.run(args, check=True, timeout=20)

    def close(self):
        self.stop_daemon()
        self.stop_modem()
        shutil.rmtree(self.root, ignore_errors=True)

    # ---- what the daemon left ------------------------------------------------------------------
    def log(self):
        with open(self.log_path, errors="replace") as f:
            return f.read()

    def messages(self):
        """Log messages without the 'X/modemprep(  pid): ' prefix, as (letter, text)."""
        out = []
        for line in self.log().splitlines():
            head, sep, text = line.partition("): ")
            if sep:
                out.append((head[0], text))
        return out

    def has_message(self, text, letter=None):
        return any(t == text and (letter is None or l == letter) for l, t in self.messages())

    def transcript(self):
        try:
            with open(self.path("/modemsim.transcript")) as f:
                return [line.rstrip("\n") for line in f]
        except FileNotFoundError:
            return []

    def commands(self):
        return [line.split(" ", 1)[1] for line in self.transcript()]

    def props(self):
        out = {}
        try:
            with open(self.path("/properties")) as f:
                for line in f:
                    name, sep, value = line.rstrip("\n").partition("=")
                    if sep:
                        out[name] = value
        except FileNotFoundError:
            pass
        return out

    def set_prop(self, name, value):
        subprocess.run([os.path.join(BUILD, "tools", "propctl", "propctl"), "--root", self.root,
                        "set", name, value], check=True)

    def init_log(self):
        try:
            with open(self.path("/init.log")) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def rild(self, standby):
        with open(self.path("/data/vantorel/radio/rild.cfg%d" % standby)) as f:
            return f.read()

    def history(self):
        with open(self.path("/data/vantorel/radio/radio.cfg"), "rb") as f:
            return f.read()
