"""Field-log replay (tools/replay/replay.py over modemsim --replay): the checked-in sample logs of
tests/replay replay as "same"; a changed input or a command the log never saw is reported at the
line where the runs part; other log formats, foreign and malformed lines and unusable logs are
handled.

The samples are threadtime logs of this build against shipped scenarios. Record them again after
a deliberate change of the daemon's log (in tests/):
    MODEMPREP_REPLAY=record python3 -m unittest e2e.test_replay
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from mpharness import HISTORY, RESIDENT_LINE, Build, scenario
from mpharness.golden import Run

TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLES = os.path.join(TESTS, "replay")
REPLAY = os.path.join(os.path.dirname(TESTS), "tools", "replay", "replay.py")

# name: (modem, steps). Steps: "boot", "remove N", "insert N", "reboot" (the card history found at
# the second boot is kept as NAME.radio.cfg).
CASES = {
    "two_cards": (scenario("two_cards"), ["boot", "remove 1", "insert 1", "reboot", "boot"]),
    # The delayed card-status report after noise, a capability query lost once (one 10 s time-out),
    # a final OK split between two reads, noise before an answer, the line hung up for 1.5 s.
    "faults": (scenario("delayed_status", faults=[
        {"command": "AT^DMCC?", "silent": True, "times": 1},
        {"command": "AT^DCID", "standby": 0, "split": [34], "times": 1},
        {"command": "AT+CIMI", "standby": 1, "noise": "\r\n+CREG: 1,\"00A1\"\r\n"},
        {"command": "AT^DTOC", "standby": 1, "hangup": True, "reopen_ms": 1500, "times": 1}]),
        ["boot"]),
}


def record(name):
    modem, steps = CASES[name]
    run = Run({"modem": modem, "factory": "221", "steps": []})
    p, logs, events = run.phone, [], 0
    try:
        for step in steps:
            if step == "boot":
                p.start_modem()
                p.start_daemon(env={"MODEMPREP_LOG_FORMAT": "threadtime"})
                p.wait_log(RESIDENT_LINE)
                logs.append(p.log_path)
            elif step == "reboot":
                run.settle(1.0)
                p.reboot()
                shutil.copyfile(p.path(HISTORY), os.path.join(SAMPLES, name + ".radio.cfg"))
            else:
                events += 1
                p.control(*step.split())
                p.wait_log("sim_hot_plug_monitor_loop msg=", count=events)
            run.settle(1.0)
        with open(os.path.join(SAMPLES, name + ".log"), "w") as out:
            for path in logs:
                with open(path) as f:
                    out.write(f.read())
    finally:
        p.close()


def replay(log, *args):
    result = subprocess.run([sys.executable, REPLAY, log] + list(args), capture_output=True,
                            text=True, env=dict(os.environ, PYTHONPATH=TESTS), timeout=300)
    kept = re.search(r"root is kept: (/tmp/\S+)", result.stdout)
    if kept:
        shutil.rmtree(kept.group(1), ignore_errors=True)
    return result.returncode, result.stdout, result.stderr


def line_of(text, needle):
    """1-based number of the first line of `text` holding `needle`."""
    return next(n for n, line in enumerate(text.splitlines(), 1) if needle in line)


class ReplayTest(unittest.TestCase):
    def setUp(self):
        Build().check()
        self.dir = tempfile.mkdtemp(prefix="rp", dir="/tmp")
        self.addCleanup(shutil.rmtree, self.dir, True)
        with open(os.path.join(SAMPLES, "two_cards.log")) as f:
            self.sample = f.read()

    def replay_text(self, text, *args):
        path = os.path.join(self.dir, "changed.log")
        with open(path, "w") as f:
            f.write(text)
        return replay(path, *args)

    @unittest.skipUnless(os.environ.get("MODEMPREP_REPLAY") == "record", "records the samples")
    def test_record_samples(self):
        for name in CASES:
            record(name)

    def test_samples_replay_the_same(self):
        history = os.path.join(SAMPLES, "two_cards.radio.cfg")
        for name, args in (("two_cards", ["--boot", "1"]),
                           ("two_cards", ["--boot", "2", "--history", history, "--fast"]),
                           ("faults", [])):
            with self.subTest(name=name, args=args):
                code, out, err = replay(os.path.join(SAMPLES, name + ".log"), *args)
                self.assertEqual(0, code, out + err)
                self.assertTrue(out.startswith("same: "), out)

    def test_a_changed_log_is_reported_where_the_runs_part(self):
        # What the log says the daemon read or heard is what the replay gives it: the new run
        # differs where the daemon first acts on the change.
        for old, new, first_different, note in (
                ('property "persist.sys.vx.proj.rat" is empty, use default value '
                 '"gsm,tdscdma,wcdma,lte_tdd,lte_fdd"', "get property: [persist.sys.vx.proj.rat]: "
                 "[gsm,lte_tdd]", "before update: gsm,tdscdma,wcdma,lte_tdd,lte_fdd", ""),
                ("^DMCC: 1,2,1,31,1", "^DMCC: 1,2,1,7,1", "using Modem RAT: 31", ""),
                # A command the log never saw (the line and its answer cut) is answered ERROR.
                (re.search(r".*\[1\]>> AT\^DTOC.*\n.*\n", self.sample).group(0), "",
                 "getIndexOf_STANDBY_RAT", "[1] AT^DTOC: not in the log on standby 1; answered "
                 "ERROR")):
            with self.subTest(changed=new or old):
                changed = self.sample.replace(old, new, 1)
                code, out, err = self.replay_text(changed, "--boot", "1")
                self.assertEqual(1, code, out + err)
                self.assertIn("different: line %d of the log" % line_of(changed, first_different),
                              out)
                self.assertIn(note, out)

    def test_foreign_and_malformed_lines_and_other_formats(self):
        first = self.sample.split("Build time: ")[1].count("\n")  # lines up to the second start
        noisy = "".join(
            "".join("garbage \x01 line %d\n" % n if k % 4 == 0 else
                    "12-06 04:20:37.%03d  1234  1250 I RILJ    : [%d] unrelated\n" % (k, n)
                    for k in range(1, 81)) + line
            for n, line in enumerate(self.sample.splitlines(keepends=True)[:first], 1))
        long_form = re.sub(r"^(\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) +(\d+) +(\d+) ([VDIWEF]) "
                           r"modemprep: (.*)$", r"[ \1  \2: \3 \4/modemprep ]\n\5\n", self.sample,
                           flags=re.M)
        brief = re.sub(r"^\S+ \S+ +(\d+) +\d+ ([VDIWEF]) modemprep: ", r"\2/modemprep(\1): ",
                       self.sample, flags=re.M)
        for name, log, skipped in (("noisy", noisy, first * 20), ("long", long_form, 0),
                                   ("brief", brief, 0)):
            with self.subTest(name):
                start = time.monotonic()
                code, out, err = self.replay_text(log, "--boot", "1")
                self.assertEqual(0, code, out + err)
                self.assertIn("%d malformed lines skipped" % skipped, err)
                # 10,000 lines of other processes and damage: as long as the clean log (7 s).
                self.assertLess(time.monotonic() - start, 15)

    def test_unusable_logs_get_one_clear_message(self):
        for text, args, message in (
                ("hello\nworld\n", [], "not a radio log in a known format"),
                ("12-06 04:20:37.123  1234  1250 I RILJ    : hi\n", [], "no line of the daemon"),
                ("12-06 04:20:37.123  1234  1234 D modemprep: [0]>> AT<CR>\n", [],
                 "no start of the daemon"),
                (self.sample, ["--boot", "3"], "no start 3: the log holds 2")):
            with self.subTest(message):
                code, out, err = self.replay_text(text, *args)
                self.assertEqual((1, ""), (code, out))
                self.assertEqual(1, len(err.strip().splitlines()), err)
                self.assertIn(message, err)


if __name__ == "__main__":
    unittest.main()
