"""Field-log replay (tools/replay/replay.py over modemsim --log): the sample logs of tests/replay
(threadtime logs of this build against shipped scenarios), and their other formats among foreign
and malformed lines, replay as "same"; a changed input or a command the log never saw is reported
at the line where the runs part (unusable logs: the command-line contract, e2e.test_tools). Bug
reports of host runs replay as "same", and one with an edited answer names it among the deciding
code's inputs; an unusable report gets one line and status 1.
Record the samples again after a
deliberate change of the daemon's log (in tests/):
    MODEMPREP_REPLAY=record python3 -m unittest e2e.test_replay
"""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from mpharness import HISTORY, Build, scenario
from e2e import bugreports
from e2e.golden import Run

TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLES = os.path.join(TESTS, "replay")
TOOLS = os.path.join(os.path.dirname(TESTS), "tools")
REPLAY = os.path.join(TOOLS, "replay", "replay.py")
HOTPLUG_DONE = "startRildService g_isSwitchModem is 0, hotplug_sim: 1"

# name: (modem, golden-run steps). A second boot reads the history kept as NAME.radio.cfg.
CASES = {
    "two_cards": (scenario("two_cards"), [
        {"boot": {}}, {"control": ["remove", "1"], "wait": [HOTPLUG_DONE, 1]},
        {"control": ["insert", "1"], "wait": [HOTPLUG_DONE, 2]}, {"reboot": {}}, {"boot": {}}]),
    # The delayed card-status report after noise, a capability query lost once (one 10 s time-out),
    # a final OK split between two reads, noise before an answer, the line hung up for 1.5 s.
    "faults": (scenario("delayed_status", faults=[
        {"command": "AT^DMCC?", "silent": True, "times": 1},
        {"command": "AT^DCID", "standby": 0, "split": [34], "times": 1},
        {"command": "AT+CIMI", "standby": 1, "noise": "\r\n+CREG: 1,\"00A1\"\r\n"},
        {"command": "AT^DTOC", "standby": 1, "hangup": True, "reopen_ms": 1500, "times": 1}]),
        [{"boot": {}}]),
}


def record(name, run):
    """Keeps the threadtime logs of a case's boots as NAME.log (and its history: a second boot
    leaves it as it found it)."""
    pathlib.Path(SAMPLES, name + ".log").write_text("".join(
        pathlib.Path(run.phone.path("/log/daemon%d.log" % n)).read_text()
        for n in range(1, run.phone.boots + 1)))
    if run.phone.boots > 1:
        shutil.copyfile(run.phone.path(HISTORY), os.path.join(SAMPLES, name + ".radio.cfg"))


class ReplayTest(unittest.TestCase):
    def setUp(self):
        Build().check()
        self.dir = self.enterContext(tempfile.TemporaryDirectory(prefix="rp", dir="/tmp"))
        self.sample = pathlib.Path(SAMPLES, "two_cards.log").read_text()

    def replay_text(self, text, *args):
        """replay.py over `text` as the log: (status, stdout, stderr); a root it kept is removed."""
        log = os.path.join(self.dir, "changed.log")
        pathlib.Path(log).write_text(text)
        return self.replay(log, *args)

    def replay(self, *args):
        result = subprocess.run([sys.executable, REPLAY, *args], capture_output=True,
                                text=True, env=dict(os.environ, PYTHONPATH=TOOLS), timeout=300)
        for kept in re.findall(r"(?:root|log) is kept: (/tmp/mp[^/\s]+)", result.stdout):
            shutil.rmtree(kept, ignore_errors=True)
        return result.returncode, result.stdout, result.stderr

    @unittest.skipUnless(os.environ.get("MODEMPREP_REPLAY") == "record", "records the samples")
    def test_record_samples(self):
        for name, (modem, steps) in CASES.items():
            Run({"modem": modem, "factory": "221", "steps": steps,
                 "env": {"MODEMPREP_LOG_FORMAT": "threadtime"}}).run(lambda run: record(name, run))

    def test_samples_and_other_forms_of_them_replay_the_same(self):
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
        # (name, log, arguments, malformed lines, seconds at most: a clean start replays in 7 s,
        # and so must one among 10,000 lines of other processes and damage)
        for name, log, args, skipped, limit in (
                ("two_cards", self.sample, ["--boot", "1"], 0, 15),
                # Its card history is the one the replay of the first start wrote.
                ("second start", self.sample, ["--boot", "2", "--fast"], 0, 25),
                ("faults", pathlib.Path(SAMPLES, "faults.log").read_text(), [], 0, 30),
                ("noisy", noisy, ["--boot", "1"], first * 20, 15),
                ("long", long_form, ["--boot", "1"], 0, 15),
                ("brief", brief, ["--boot", "1"], 0, 15)):
            with self.subTest(name):
                start = time.monotonic()
                code, out, err = self.replay_text(log, *args)
                self.assertEqual(0, code, out + err)
                self.assertTrue(out.startswith("same: "), out)
                self.assertIn("%d malformed lines skipped" % skipped, err)
                self.assertLess(time.monotonic() - start, limit)

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
                changed = self.sample.replace(old, new, 1).splitlines(True)
                code, out, err = self.replay_text("".join(changed), "--boot", "1")
                self.assertEqual(1, code, out + err)
                line = next(n for n, text in enumerate(changed, 1) if first_different in text)
                self.assertIn("different: line %d of the log" % line, out)
                self.assertIn(note, out)
        # The second start alone (its boot marker's three lines, then the rest): the card history
        # it read is in no earlier start, so where the runs part is no difference the log shows.
        lines = self.sample.splitlines(True)
        second = [n for n, text in enumerate(lines) if "Build time: " in text][1] - 3
        code, out, err = self.replay_text("".join(lines[second:]), "--fast")
        self.assertEqual(1, code, out + err)
        self.assertTrue(out.startswith("unknown (the card history the daemon read is not known: "
                                       "the log holds no earlier start; give --history)"), out)

    def test_bug_reports_replay_the_same_and_an_edited_answer_is_named(self):
        """Every usable generated report: the replay takes the start radioplan explains, cites it
        in the same lines of the main text, and says same (unknown for one cut short)."""
        made = bugreports.made()
        notes = {"zip": "platform integration", "vendor": "vendor integration: its property names",
                 "two starts": "start 2 of 2", "previous boot": "the previous boot's log, the "
                 "LAST LOGCAT section"}
        for name, report in made.items():
            if name in ("history", "log", "rolled over"):
                continue  # not reports, or no whole start to replay (test_unusable_bug_reports)
            path, previous = report[0], ["--previous-boot"] if name == "previous boot" else []
            with self.subTest(name):
                plan = subprocess.run([Build().radioplan, "--bugreport", path, *previous],
                                      capture_output=True, text=True)
                lines = re.search(r"start \d+ of \d+: (lines \d+ to \d+)", plan.stdout).group(1)
                history = ["--history", made["history"]] if name == "two starts, first" else []
                code, out, err = self.replay("--bugreport", path, "--fast", *history, *previous)
                self.assertIn("(%s;" % lines, err)
                self.assertIn(notes.get(name, ""), err)
                cut = name == "cut short"
                self.assertEqual(1 if cut else 0, code, out + err)
                self.assertTrue(out.startswith("unknown (the log ends before" if cut else "same: "),
                                out)
        code, out, err = self.replay("--bugreport", made["two starts"][0], "--boot", "1", "--fast")
        self.assertEqual(0, code, out + err)
        self.assertIn("start 1 of 2", err)
        # slot 1's SIM answers "^DTOC: 2" in the report: the new run's daemon takes it for a USIM.
        text = pathlib.Path(made["text without uid"][0]).read_bytes()
        query = text.index(b"[1]>> AT^DTOC")
        edited = pathlib.Path(self.dir, "edited.txt")
        edited.write_bytes(text[:query] + text[query:].replace(b"^DTOC: 1", b"^DTOC: 2", 1))
        code, out, err = self.replay("--bugreport", str(edited), "--fast")
        self.assertEqual(1, code, out + err)
        for says in ("of card 1 is 6 (USIM, other domestic operator), expected 3 (SIM, other "
                     "domestic operator)", 'the card\'s type (SIM in the log, USIM in the new run): '
                     'the "AT^DTOC" answer on standby 1', '"AT^DTOC" answer on standby 1: ^DTOC: 2'):
            self.assertIn(says, out)

    def test_unusable_bug_reports_get_one_line(self):
        rolled = (bugreports.made()["rolled over"][0], "no start of the daemon")
        for path, message in bugreports.unusable(self.dir) + [rolled]:
            if re.search("no plan|refused", message):
                continue  # radioplan's alone (it plans); its reasons: e2e.test_radioplan's fleet
            with self.subTest(message):
                code, out, err = self.replay("--bugreport", path)
                self.assertEqual((1, "", 1), (code, out, len(err.splitlines())), err)
                self.assertIn(message, err)
