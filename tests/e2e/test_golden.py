"""Replays every recorded golden run with this build and fails with a diff on any difference, or
when a bounded wait left its bounds."""
import unittest

from mpharness import golden


class GoldenRunTest(unittest.TestCase):
    def test_every_golden_run_is_reproduced_byte_for_byte(self):
        names = golden.case_names()
        self.assertTrue(names, "no golden cases under " + golden.GOLDEN_DIR)
        golden.check_cases(self, names)


if __name__ == "__main__":
    unittest.main()
