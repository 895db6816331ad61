"""Replays every recorded golden run with this build and fails with a diff on any difference, when
a bounded wait left its bounds, or when radioplan explains the root a run left otherwise than the
daemon wrote it. Then the same runs against a modem that echoes, puts unsolicited lines between
its information lines and final codes, sends NUL bytes and cuts every answer into 1- to 16-byte
pieces (and, case by case, puts them before its answers, inside its final codes, after its
answers, in bursts longer than a read): each ends in the state it was recorded in, having sent the
same commands."""
import concurrent.futures
import copy
import unittest

from e2e import golden

from .test_radioplan import unexplained

DIALECT = {"echo": True, "unsolicited": "\r\n+CSQ: 20,99\r\n", "where": ["before_final"],
           "nul_bytes": 2, "pieces": [1, 16], "piece_gap_ms": 1}
# Each case gets one more place as well, in turn, and every fourth one its lines in bursts of 300
# bytes.
MORE = [{"where": ["before_final", place]} for place in ("before", "inside_final", "after")]

# What a run leaves: the end state, and the commands the modem was sent.
END_STATE = ("properties", "radio.ls", "radio.cfg.hex", "rild.cfg", ".exit", ".transcript")
# A locked card's "+CME ERROR: 11" (or 12) ends its exchange where the read shows the code, before
# its number: cut there, "AT+CIMI" is asked again (up to its 5 tries), as reading the
# exchange's raw text did. The end state is the same; the transcript is not.
ASKED_AGAIN = ("scenario_pin_locked", "fault_error_first_and_cme")


def dialect_of(index):
    return dict(DIALECT, seed=index + 1, burst=20 if index % 4 == 3 else 1, **MORE[index % 3])


def in_dialect(case, dialect):
    case = copy.deepcopy(case)
    modems = [case["modem"]] + [s["reboot"]["modem"] for s in case["steps"]
                                if "reboot" in s and s["reboot"].get("modem")]
    for modem in modems:
        (modem.setdefault("set", {}) if "scenario" in modem else modem)["dialect"] = dialect
    return case


class GoldenRunTest(unittest.TestCase):
    def test_every_golden_run_is_reproduced_byte_for_byte(self):
        names = golden.case_names()
        self.assertTrue(names, "no golden cases under " + golden.GOLDEN_DIR)
        golden.check_cases(self, names, inspect=unexplained)

    def test_every_golden_run_ends_alike_against_a_chatty_modem_in_pieces(self):
        names = golden.case_names()
        with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
            runs = {n: pool.submit(lambda n, i: golden.Run(in_dialect(
                golden.load_case(n), dialect_of(i))).run(), n, i) for i, n in enumerate(names)}
        for name, future in runs.items():
            run, recorded = future.result(), golden.recorded_files(name)
            for output in sorted(set(recorded) | set(run.outputs)):
                if name in ASKED_AGAIN and output.endswith(".transcript"):
                    continue
                if any(part in output for part in END_STATE):
                    with self.subTest(name=name, output=output):
                        self.assertEqual(recorded.get(output), run.outputs.get(output))
