"""Golden runs: recorded start-ups and hot-plug rounds of the real daemon, replayed and compared.

A case is a directory under tests/golden: case.json holds the inputs (modem scenario, factory
file, properties, files planted in the root, steps: boots, hot-plug events, reboots), the other
files what the daemon left when it was recorded: each boot's log (process id, build time, clock
readings and the root masked; adjacent reads and a run of failed looks for the node joined, as
their number is the scheduler's), AT transcript, init.log and exit, and at the end the property
store, the radio directory's listing, rild files and card history (hex). A replay compares them
byte for byte. "bounds" {"startup": [low, high], "time_outs": [count, low, high]} (seconds) bound
what masking hides: the first boot's wall time and its "read time out" waits. Cases marked "slow"
are left to e2e.test_faults_slow. Record again after a deliberate change of behaviour (in tests/):
    MODEMPREP_GOLDEN=record python3 -m unittest e2e.test_golden   (or the module of the slow ones)
"""
import binascii
import concurrent.futures
import difflib
import json
import os
import pathlib
import re
import time

from mpharness import HISTORY, RADIO_DIR, Phone, scenario

GOLDEN_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "golden")

_PREFIX = re.compile(r"^([VDIWEF])/modemprep\(\s*\d+\): ", re.M)
# Records whose arguments vary between runs: what replaces their arguments.
_MASKED = {"boot marker": "<build>", "start": "<build>", "time-out": "<clock>"}


def modem_of(spec):
    """A scenario: {"scenario": NAME, "set": {...}} starts from a shipped file, else inline."""
    return scenario(spec["scenario"], **spec.get("set", {})) if "scenario" in spec else spec


def masked_log(text, root, build):
    text = text.replace(root, "<root>")
    records = {r["line"]: r for r in build.records("--all", "-", text=text)[1]} if text else {}
    # Adjacent reads of one standby become one line: how the modem's bytes fall into reads
    # depends on scheduling, what was read does not. Likewise a run of failed looks for an absent
    # node (one a second) becomes one line: how many an absence costs depends on scheduling,
    # unless the run ends at the open's bound, which then shows.
    out, run = [], None  # run: the first attempt, bound and message of the looks just above
    reading = None  # the standby whose reads the last line shows
    for number, line in enumerate(_PREFIX.sub(r"\1: ", text).splitlines(), 1):
        r = records.get(number, {})
        kind = r.get("kind")
        if kind in _MASKED:
            line = "%s%s: %s" % (line[:3], r["message"].split(": ", 1)[0], _MASKED[kind])
        if kind == "device" and r["op"] == "absent":
            look = (r["attempt"], r["attempts"], r["message"].partition(")")[2])
            continues = run is not None and run[1:] == look[1:]
            if continues:
                out.pop()
            run = (run[0] if continues else look[0],) + look[1:]
            last = look[0] if look[0] == look[1] else "<n>"
            out.append("%s(%s..%s/%s)%s" % (line[:3], run[0], last, run[1], run[2]))
            reading = None
            continue
        run = None
        received = kind == "traffic" and r["direction"] == "received"
        if received and reading == r["standby"]:
            out[-1] += r["shown"]
            continue
        reading = r["standby"] if received else None
        out.append(line)
    return "\n".join(out) + "\n"


class Run:
    """One replay of a case: its outputs {file name: text}, per boot its wall time and read
    time-outs, and the problems `inspect(run)` found on the root it left."""

    def __init__(self, case, build=None):
        self.case, self.outputs, self.startups, self.time_outs = case, {}, [], []
        self.phone = Phone(modem_of(case["modem"]), properties=case.get("properties"),
                           factory=case["factory"].encode() if "factory" in case else None,
                           data_dir=case.get("data_dir", True), build=build, env=case.get("env"))
        for path, content in case.get("files", {}).items():
            full = pathlib.Path(self.phone.path(path))
            (full if content == "<dir>" else full.parent).mkdir(parents=True, exist_ok=True)
            if content != "<dir>":
                full.write_bytes(bytes.fromhex(content))

    def run(self, inspect=None):
        try:
            for step in self.case["steps"]:
                self.step(step)
            self.settle()
            self.snapshot_boot()
            self.snapshot_files()
            self.problems = inspect(self) if inspect else []
        finally:
            self.phone.close()
        return self

    def step(self, step):
        p = self.phone
        if "boot" in step:
            start = time.monotonic()
            p.boot(start_modem=step["boot"].get("start_modem", True), timeout=120)
            self.startups.append(time.monotonic() - start)
        elif "set_prop" in step:
            p.set_prop(*step["set_prop"])
        elif "control" in step:
            p.control(*step["control"])
        elif "uevent" in step or "uevent_raw" in step:
            p.send_uevent(*step.get("uevent", []), raw=step.get("uevent_raw"))
        elif "reboot" in step or "stop_daemon" in step:
            self.settle()
            self.snapshot_boot()
            if "stop_daemon" in step:
                p.stop_daemon()
            else:
                modem = step["reboot"].get("modem")
                p.reboot(modem=modem_of(modem) if modem else None)
        elif "sleep" in step:
            time.sleep(step["sleep"])
        if "wait" in step:
            text, count = step["wait"]
            p.wait_log(text, timeout=120, count=count, exit_ends_wait=True)

    def settle(self, quiet=0.4):
        """Waits until the daemon's log has not grown for `quiet` seconds (or it ended)."""
        size, since = -1, time.monotonic()
        while time.monotonic() - since < quiet:
            now = len(self.phone.log())
            if now != size:
                size, since = now, time.monotonic()
            time.sleep(0.05)

    def snapshot_boot(self):
        p, n = self.phone, self.phone.boots
        self.outputs["boot%d.log" % n] = masked_log(p.log(), p.root, p.build)
        self.outputs["boot%d.transcript" % n] = "".join(line + "\n" for line in p.transcript())
        self.outputs["boot%d.init.log" % n] = "".join(line + "\n" for line in p.init_log())
        self.time_outs.append(p.time_outs())
        code = p.daemon.poll()
        self.outputs["boot%d.exit" % n] = "resident\n" if code is None else "exit %d\n" % code

    def snapshot_files(self):
        p, radio = self.phone, self.phone.path(RADIO_DIR)
        self.outputs["properties"] = (p.file_bytes("/properties") or b"").decode()
        names = sorted(os.listdir(radio)) if os.path.isdir(radio) else []
        self.outputs["radio.ls"] = "".join(n + "\n" for n in names)
        for name in names:
            if name.startswith("rild.cfg"):
                self.outputs[name] = (p.file_bytes(RADIO_DIR + "/" + name) or b"").decode()
        history = p.file_bytes(HISTORY)
        if history is not None:
            self.outputs["radio.cfg.hex"] = "".join(
                "%04x: %s\n" % (at, binascii.hexlify(history[at:at + 16], " ").decode())
                for at in range(0, len(history), 16))

    def out_of_bounds(self):
        """What of the first boot falls outside the case's bounds."""
        bounds = self.case.get("bounds")
        if not bounds:
            return []
        (low, high), (count, shortest, longest) = bounds["startup"], bounds["time_outs"]
        took, waits = self.startups[0], self.time_outs[0]
        out = []
        if not low <= took < high:
            out.append("start-up of %.2f s, not in [%g, %g)" % (took, low, high))
        if len(waits) != count or not all(shortest <= w < longest for w in waits):
            out.append("time-outs %s, not %d in [%g, %g)" % (waits, count, shortest, longest))
        return out


def load_case(name):
    return json.loads(pathlib.Path(GOLDEN_DIR, name, "case.json").read_text())


def recorded_files(name):
    """The files a case was recorded with, by name."""
    return {f.name: f.read_text() for f in pathlib.Path(GOLDEN_DIR, name).iterdir()
            if f.name != "case.json"}


def case_names(slow=False):
    return sorted(n for n in os.listdir(GOLDEN_DIR)
                  if os.path.isfile(os.path.join(GOLDEN_DIR, n, "case.json"))
                  and load_case(n).get("slow", False) == slow)


def check_cases(test, names, workers=4, inspect=None):
    """Replays the cases side by side (their daemons mostly wait); each must reproduce its
    recording (MODEMPREP_GOLDEN=record: is recorded again), keep within its bounds and leave
    `inspect` nothing to report."""
    recording = os.environ.get("MODEMPREP_GOLDEN") == "record"
    with concurrent.futures.ThreadPoolExecutor(max_workers=workers) as pool:
        runs = {n: pool.submit(lambda n: Run(load_case(n)).run(inspect), n) for n in names}
    for name in names:
        with test.subTest(name):
            run, directory = runs[name].result(), os.path.join(GOLDEN_DIR, name)
            recorded = recorded_files(name)
            if recording:
                for n in recorded:
                    os.remove(os.path.join(directory, n))
                for n, text in run.outputs.items():
                    pathlib.Path(directory, n).write_text(text)
                recorded = run.outputs
            diff = "".join(line for n in sorted(set(recorded) | set(run.outputs))
                           for line in difflib.unified_diff(
                               (recorded.get(n) or "").splitlines(True),
                               (run.outputs.get(n) or "").splitlines(True),
                               "%s/%s (recorded)" % (name, n), "%s/%s (this build)" % (name, n)))
            test.assertEqual("", diff, "\n" + diff)
            test.assertEqual([], run.out_of_bounds() + run.problems)
