"""What the fault suites share: the faulted scenario, and the checks that the daemon ended resident
with the files of a clean two-card start-up."""
import unittest

from mpharness import CARD_A, CARD_B, RESIDENT_LINE, Phone, scenario


def modem(slots=(CARD_A, CARD_B), faults=(), **changes):
    return scenario("two_cards", slots=list(slots), faults=list(faults), **changes)


class FaultTest(unittest.TestCase):
    clean = None  # rild files and history of a clean two-card start-up, booted once

    def phone(self, scenario_data=None, **kwargs):
        p = Phone(scenario_data or modem(), factory=b"221", **kwargs)
        self.addCleanup(p.close)
        return p

    def assertResident(self, p):
        self.assertIsNone(p.daemon.poll(), "the daemon ended:\n" + p.log()[-3000:])
        self.assertIn(RESIDENT_LINE, p.log())

    def assertCleanFiles(self, p):
        if FaultTest.clean is None:
            clean = self.phone().boot()
            FaultTest.clean = (clean.rild(0), clean.rild(1), clean.history_bytes())
        self.assertEqual(FaultTest.clean, (p.rild(0), p.rild(1), p.history_bytes()))
