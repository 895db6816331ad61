"""The start-up of the real daemon against the simulator, from exec to the resident loop: what it
costs. What it leaves (transcripts, properties, rild files, history) is pinned for every shipped
scenario and many variations by the golden runs (e2e.test_golden)."""
import time
import unittest

from mpharness import RESIDENT_LINE, Phone, scenario

# 500 ms before the line is opened, 100 ms after each of the two init requests.
MANDATED_SLEEPS = 0.5 + 2 * 0.1


class StartupTest(unittest.TestCase):
    def test_start_up_costs_the_mandated_sleeps_plus_little(self):
        p = Phone(scenario("two_cards"), factory=b"221")
        self.addCleanup(p.close)
        p.start_modem()
        started = p.start_daemon()
        p.wait_log(RESIDENT_LINE)
        took = time.monotonic() - started
        self.assertGreaterEqual(took, MANDATED_SLEEPS)
        self.assertLess(took, MANDATED_SLEEPS + 1.0)
