"""Golden runs: recorded start-ups and hot-plug rounds of the real daemon, replayed and compared.

Each case is a directory under tests/golden holding case.json (the inputs: modem scenario,
factory file, properties, files planted in the root, and the steps: boots, hot-plug events,
reboots) and the outputs the daemon left when the case was recorded: every boot's log (process id,
build time, clock readings and the root masked), AT transcript and init.log, and at the end the
property store, the rild files and the card history as a hex dump. A replay runs the current
build over the same inputs and compares every output byte for byte (after the masking).

What masking hides, a case may bound: "bounds" {"startup": [low, high], "time_outs": [count, low,
high]} (seconds) holds the first boot's wall time and its "read time out" waits. Cases marked
"slow" (a silent modem's long waits) are left to e2e.test_faults_slow.

Record again after a deliberate change of behaviour (rewrites every case of that test module):
    MODEMPREP_GOLDEN=record python3 -m unittest e2e.test_golden      (in tests/)
"""
import binascii
import concurrent.futures
import difflib
import json
import os
import re
import time

from .build import scenario
from .history import HISTORY
from .phone import RADIO_DIR, Phone

GOLDEN_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "golden")

_PREFIX = re.compile(r"^([VDIWEF])/modemprep\(\s*\d+\): ", re.M)
_MASKS = [
    (re.compile(r"^(\w): (Boot up|Build time): .*$", re.M), r"\1: \2: <build>"),
    (re.compile(r"read time out: \d+:\d+ -> \d+:\d+"), "read time out: <clock>"),
]
_TRAFFIC_IN = re.compile(r"^D: \[(-?\d+)\]<< (.*)$")


def modem_of(spec):
    """A scenario: {"scenario": NAME, "set": {...}} starts from a shipped file, else inline."""
    if "scenario" in spec:
        return scenario(spec["scenario"], **spec.get("set", {}))
    return spec


def merge_reads(lines):
    """Adjacent reads of one standby become one line: how the modem's bytes fall into reads
    depends on scheduling, what was read does not."""
    out = []
    for line in lines:
        m = _TRAFFIC_IN.match(line)
        prev = _TRAFFIC_IN.match(out[-1]) if out else None
        if m and prev and m.group(1) == prev.group(1):
            out[-1] += m.group(2)
        else:
            out.append(line)
    return out


def masked_log(text, root):
    text = _PREFIX.sub(r"\1: ", text.replace(root, "<root>"))
    for pattern, replacement in _MASKS:
        text = pattern.sub(replacement, text)
    return "\n".join(merge_reads(text.splitlines())) + "\n"


def hex_dump(data):
    return "".join("%04x: %s\n" % (at, binascii.hexlify(data[at:at + 16], " ").decode())
                   for at in range(0, len(data), 16))


def read_or_none(path, mode="r"):
    try:
        with open(path, mode) as f:
            return f.read()
    except (FileNotFoundError, IsADirectoryError, NotADirectoryError):
        return None


class Run:
    """One replay of a case; collects its outputs as {file name: text}, and per boot its wall time
    and read time-outs."""

    def __init__(self, case, build=None):
        self.case = case
        self.outputs = {}
        self.startups, self.time_outs = [], []
        self.phone = Phone(modem_of(case["modem"]), properties=case.get("properties"),
                           factory=case["factory"].encode() if "factory" in case else None,
                           data_dir=case.get("data_dir", True), build=build)
        for path, content in case.get("files", {}).items():
            self.plant(path, content)

    def plant(self, path, content):
        full = self.phone.path(path)
        if content == "<dir>":
            os.makedirs(full, exist_ok=True)
            return
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(binascii.unhexlify(content.replace(" ", "")))

    def run(self):
        try:
            for step in self.case["steps"]:
                self.step(step)
            self.settle()
            self.snapshot_boot()
            self.snapshot_files()
        finally:
            self.phone.close()
        return self.outputs

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
        elif "uevent" in step:
            p.send_uevent(*step["uevent"], count=step.get("count", 1))
        elif "uevent_raw" in step:
            p.send_uevent(raw=step["uevent_raw"], count=step.get("count", 1))
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
        p = self.phone
        n = p.boots
        self.outputs["boot%d.log" % n] = masked_log(p.log(), p.root)
        self.outputs["boot%d.transcript" % n] = "".join(line + "\n" for line in p.transcript())
        self.outputs["boot%d.init.log" % n] = "".join(line + "\n" for line in p.init_log())
        self.time_outs.append(p.time_outs())
        code = p.daemon.poll()
        self.outputs["boot%d.exit" % n] = "resident\n" if code is None else "exit %d\n" % code

    def snapshot_files(self):
        p = self.phone
        self.outputs["properties"] = read_or_none(p.path("/properties")) or ""
        radio = p.path(RADIO_DIR)
        names = sorted(os.listdir(radio)) if os.path.isdir(radio) else []
        self.outputs["radio.ls"] = "".join(n + "\n" for n in names)
        for name in names:
            if name.startswith("rild.cfg"):
                self.outputs[name] = read_or_none(os.path.join(radio, name)) or ""
        history = read_or_none(p.path(HISTORY), "rb")
        if history is not None:
            self.outputs["radio.cfg.hex"] = hex_dump(history)

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


def case_names(slow=False):
    return sorted(n for n in os.listdir(GOLDEN_DIR)
                  if os.path.isfile(os.path.join(GOLDEN_DIR, n, "case.json"))
                  and load_case(n).get("slow", False) == slow)


def load_case(name):
    with open(os.path.join(GOLDEN_DIR, name, "case.json")) as f:
        return json.load(f)


def record(name, outputs):
    directory = os.path.join(GOLDEN_DIR, name)
    for n in os.listdir(directory):
        if n != "case.json":
            os.remove(os.path.join(directory, n))
    for n, text in outputs.items():
        with open(os.path.join(directory, n), "w") as f:
            f.write(text)


def differences(name, outputs):
    """A readable unified diff of every output that differs from the recorded one."""
    directory = os.path.join(GOLDEN_DIR, name)
    expected = {n: read_or_none(os.path.join(directory, n)) for n in os.listdir(directory)
                if n != "case.json"}
    report = []
    for n in sorted(set(expected) | set(outputs)):
        want, got = expected.get(n), outputs.get(n)
        if want == got:
            continue
        report.extend(difflib.unified_diff(
            (want or "").splitlines(True), (got or "").splitlines(True),
            "%s/%s (recorded)" % (name, n) if want is not None else "(not recorded)",
            "%s/%s (this build)" % (name, n) if got is not None else "(not produced)"))
    return "".join(report)


def replay(name):
    run = Run(load_case(name))
    run.run()
    return run


def check_cases(test, names, workers=4):
    """Replays the cases side by side (their daemons mostly wait); each must reproduce its
    recording (MODEMPREP_GOLDEN=record: is recorded again) and keep within its bounds."""
    recording = os.environ.get("MODEMPREP_GOLDEN") == "record"
    with concurrent.futures.ThreadPoolExecutor(max_workers=workers) as pool:
        runs = {name: pool.submit(replay, name) for name in names}
    for name in names:
        with test.subTest(name):
            run = runs[name].result()
            if recording:
                record(name, run.outputs)
            diff = "" if recording else differences(name, run.outputs)
            test.assertEqual("", diff, "\n" + diff)
            test.assertEqual([], run.out_of_bounds())
