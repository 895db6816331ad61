"""Replays every recorded golden run with this build and fails with a diff on any difference, when
a bounded wait left its bounds, or when radioplan explains the root a run left otherwise than the
daemon wrote it."""
import unittest

from e2e import golden

from .test_radioplan import unexplained


class GoldenRunTest(unittest.TestCase):
    def test_every_golden_run_is_reproduced_byte_for_byte(self):
        names = golden.case_names()
        self.assertTrue(names, "no golden cases under " + golden.GOLDEN_DIR)
        golden.check_cases(self, names, inspect=unexplained)
