"""Field-log replay (tools/replay/replay.py over modemsim --replay): the checked-in sample logs of
tests/replay replay as "same"; a changed input is reported at the line it changes; a command the
log never saw, malformed and foreign lines, other log formats and unusable logs are handled.

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

from mpharness import RESIDENT_LINE, Build, Phone, scenario

TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLES = os.path.join(TESTS, "replay")
REPLAY = os.path.join(os.path.dirname(TESTS), "tools", "replay", "replay.py")
THREADTIME = {"MODEMPREP_LOG_FORMAT": "threadtime"}

# name: (modem, factory file, steps). Steps: "boot", "remove N", "insert N", "reboot" (the card
# history found at the second boot is kept as NAME.radio.cfg).
CASES = {
    "two_cards": (scenario("two_cards"), b"221",
                  ["boot", "remove 1", "insert 1", "reboot", "boot"]),
    # The delayed card-status report after noise, a capability query lost once (one 10 s time-out),
    # a final OK split between two reads, noise before an answer, the line hung up for 1.5 s.
    "faults": (scenario("delayed_status", faults=[
        {"command": "AT^DMCC?", "silent": True, "times": 1},
        {"command": "AT^DCID", "standby": 0, "split": [34], "times": 1},
        {"command": "AT+CIMI", "standby": 1, "noise": "\r\n+CREG: 1,\"00A1\"\r\n"},
        {"command": "AT^DTOC", "standby": 1, "hangup": True, "reopen_ms": 1500, "times": 1}]),
        b"221", ["boot"]),
}


def wait_quiet(phone, seconds=1.0):
    """Until the daemon's log has not grown for `seconds`."""
    size, since = -1, time.monotonic()
    while time.monotonic() - since < seconds:
        now = os.path.getsize(phone.log_path)
        if now != size:
            size, since = now, time.monotonic()
        time.sleep(0.05)


def record(name):
    modem, factory, steps = CASES[name]
    p = Phone(modem, factory=factory)
    logs = []
    try:
        for step in steps:
            if step == "boot":
                p.start_modem()
                p.start_daemon(env=THREADTIME)
                p.wait_log(RESIDENT_LINE)
                logs.append(p.log_path)
            elif step == "reboot":
                wait_quiet(p)
                p.reboot()
                shutil.copyfile(p.path("/data/vantorel/radio/radio.cfg"),
                                os.path.join(SAMPLES, name + ".radio.cfg"))
            else:
                p.control(*step.split())
                p.wait_log("sim_hot_plug_monitor_loop msg=", count=sum(
                    s.startswith(("remove", "insert")) for s in steps[:steps.index(step) + 1]))
            wait_quiet(p)
        with open(os.path.join(SAMPLES, name + ".log"), "w") as out:
            for path in logs:
                with open(path) as f:
                    out.write(f.read())
    finally:
        p.close()


def replay(log, *args):
    env = dict(os.environ, PYTHONPATH=TESTS)
    result = subprocess.run([sys.executable, REPLAY, log] + list(args), capture_output=True,
                            text=True, env=env, timeout=300)
    kept = re.search(r"root is kept: (/tmp/\S+)", result.stdout)
    if kept:
        shutil.rmtree(kept.group(1), ignore_errors=True)
    return result.returncode, result.stdout, result.stderr


def sample(name):
    with open(os.path.join(SAMPLES, name + ".log")) as f:
        return f.read()


def line_of(text, needle):
    """1-based number of the first line of `text` holding `needle`."""
    return next(n for n, line in enumerate(text.splitlines(), 1) if needle in line)


class ReplayTest(unittest.TestCase):
    def setUp(self):
        Build().check()
        self.dir = tempfile.mkdtemp(prefix="rp", dir="/tmp")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def write(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w") as f:
            f.write(text)
        return path

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

    def test_a_changed_input_is_reported_at_the_line_it_changes(self):
        text = sample("two_cards")
        # What the log says the daemon read or heard is what the replay gives it: changing one
        # input makes the run diverge where the daemon first acts on it.
        cases = (
            ('property "persist.sys.vx.proj.rat" is empty, use default value '
             '"gsm,tdscdma,wcdma,lte_tdd,lte_fdd"', "get property: [persist.sys.vx.proj.rat]: "
             "[gsm,lte_tdd]", "before update: gsm,tdscdma,wcdma,lte_tdd,lte_fdd"),
            ("^DMCC: 1,2,1,31,1", "^DMCC: 1,2,1,7,1", "using Modem RAT: 31"),
            ("^DTOC: 1", "^DTOC: 2", "getIndexOf_STANDBY_RAT_CAPABILITY() of card 1"),
        )
        for old, new, first_different in cases:
            with self.subTest(changed=new):
                self.assertIn(old, text)
                changed = text.replace(old, new, 1)
                code, out, err = replay(self.write("changed.log", changed), "--boot", "1")
                self.assertEqual(1, code, out + err)
                self.assertIn("different: line %d of the log" % line_of(changed, first_different),
                              out)

    def test_a_command_the_log_never_saw_is_answered_error_and_reported(self):
        lines = sample("two_cards").splitlines(keepends=True)
        at = line_of("".join(lines), "[1]>> AT^DTOC")
        del lines[at - 1:at + 1]  # the command and its answer
        code, out, err = replay(self.write("cut.log", "".join(lines)), "--boot", "1")
        self.assertEqual(1, code, out + err)
        cut = "".join(lines)
        self.assertIn("different: line %d of the log" % line_of(cut, "getIndexOf_STANDBY_RAT"), out)
        self.assertRegex(out, r"> +\d+  \[1\]>> AT\^DTOC<CR>")
        self.assertIn("[1] AT^DTOC: not in the log on standby 1; answered ERROR", out)

    def test_foreign_and_malformed_lines_and_other_formats(self):
        text = sample("two_cards")
        boot1 = text.split("Build time: ")[1].count("\n")  # lines up to the second start
        noisy, junk = [], 0
        for n, line in enumerate(text.splitlines(keepends=True)[:boot1], 1):
            for k in range(1, 81):  # 10,000+ lines of other processes and damage around it
                if k % 4:
                    noisy.append("12-06 04:20:37.%03d  1234  1250 I RILJ    : [%d] unrelated\n"
                                 % (k, n))
                else:
                    noisy.append("garbage \x01 line %d\n" % n)
                    junk += 1
            noisy.append(line)
        long_form = re.sub(r"^(\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) +(\d+) +(\d+) ([VDIWEF]) "
                           r"modemprep: (.*)$", r"[ \1  \2: \3 \4/modemprep ]\n\5\n", text,
                           flags=re.M)
        brief = re.sub(r"^\S+ \S+ +(\d+) +\d+ ([VDIWEF]) modemprep: ", r"\2/modemprep(\1): ",
                       text, flags=re.M)
        for name, log, skipped in (("noisy", "".join(noisy), junk), ("long", long_form, 0),
                                   ("brief", brief, 0)):
            with self.subTest(name):
                start = time.monotonic()
                code, out, err = replay(self.write(name + ".log", log), "--boot", "1")
                self.assertEqual(0, code, out + err)
                self.assertIn("%d malformed lines skipped" % skipped, err)
                took = time.monotonic() - start
                if name == "noisy":  # as long as the clean log takes (about 7 s)
                    self.assertGreater(len(noisy), 10000)
                    self.assertLess(took, 15)

    def test_unusable_logs_get_one_clear_message(self):
        for text, message in (
                ("hello\nworld\n", "not a radio log in a known format"),
                ("12-06 04:20:37.123  1234  1250 I RILJ    : hi\n", "no line of the daemon"),
                ("12-06 04:20:37.123  1234  1234 D modemprep: [0]>> AT<CR>\n",
                 "no start of the daemon"),
        ):
            with self.subTest(message):
                code, out, err = replay(self.write("bad.log", text))
                self.assertEqual((1, ""), (code, out))
                self.assertEqual(1, len(err.strip().splitlines()), err)
                self.assertIn(message, err)
        code, _, err = replay(os.path.join(SAMPLES, "two_cards.log"), "--boot", "3")
        self.assertEqual(1, code)
        self.assertIn("no start 3: the log holds 2", err)


if __name__ == "__main__":
    unittest.main()
