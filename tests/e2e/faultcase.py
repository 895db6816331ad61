"""What the fault suites share: the faulted scenario, the clean start-up to compare with, and the
checks that the daemon ended resident with correct files."""
import unittest

from mpharness import CARD_A, CARD_B, RESIDENT_LINE, Phone, scenario


def modem(slots=(CARD_A, CARD_B), faults=(), **changes):
    return scenario("two_cards", slots=list(slots), faults=list(faults), **changes)


def dcid_answer(card):
    return "\r\n^DCID: %s\r\n\r\nOK\r\n" % card["id"]


def split_ok_at(k):
    """A fault cutting slot 0's "AT^DCID" answer k bytes into its final "\r\nOK\r\n"."""
    cut = len(dcid_answer(CARD_A)) - 6 + k
    return {"command": "AT^DCID", "standby": 0, "split": [cut], "times": 1}


class FaultTest(unittest.TestCase):
    baseline = None  # files of a clean two-card start-up, to compare faulted runs with

    @classmethod
    def clean_run(cls):
        if FaultTest.baseline is None:
            p = Phone(modem(), factory=b"221").boot()
            FaultTest.baseline = {"rild": (p.rild(0), p.rild(1)), "history": p.history_bytes(),
                                  "decoded": p.history()}
            p.close()
        return FaultTest.baseline

    def phone(self, scenario_data=None, factory=b"221", **kwargs):
        p = Phone(scenario_data or modem(), factory=factory, **kwargs)
        self.addCleanup(p.close)
        return p

    def assertResident(self, p):
        self.assertIsNone(p.daemon.poll(), "the daemon ended:\n" + p.log()[-3000:])
        self.assertIn(RESIDENT_LINE, p.log())

    def assertCleanFiles(self, p, history=True):
        base = self.clean_run()
        self.assertEqual(base["rild"], (p.rild(0), p.rild(1)))
        if history:
            self.assertEqual(base["history"], p.history_bytes())
