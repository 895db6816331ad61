"""What the fault suites share: the faulted scenario, the clean start-up to compare with, and the
checks that the daemon ended resident with correct files."""
import unittest

from mpharness import CARD_A, CARD_B, RESIDENT_LINE, Phone, scenario


def modem(slots=(CARD_A, CARD_B), faults=(), **changes):
    return scenario("two_cards", slots=list(slots), faults=list(faults), **changes)


class FaultTest(unittest.TestCase):
    baseline = None  # files of a clean two-card start-up, to compare faulted runs with

    @classmethod
    def clean_run(cls):
        if FaultTest.baseline is None:
            p = Phone(modem(), factory=b"221").boot()
            FaultTest.baseline = {"rild": (p.rild(0), p.rild(1)), "history": p.history_bytes()}
            p.close()
        return FaultTest.baseline

    def phone(self, scenario_data=None, factory=b"221", **kwargs):
        p = Phone(scenario_data or modem(), factory=factory, **kwargs)
        self.addCleanup(p.close)
        return p

    def assertResident(self, p):
        self.assertIsNone(p.daemon.poll(), "the daemon ended:\n" + p.log()[-3000:])
        self.assertIn(RESIDENT_LINE, p.log())

    def assertCleanFiles(self, p):
        base = self.clean_run()
        self.assertEqual(base["rild"], (p.rild(0), p.rild(1)))
        self.assertEqual(base["history"], p.history_bytes())
