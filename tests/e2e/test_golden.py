"""Replays every recorded golden run with this build and fails with a diff on any difference."""
import os
import unittest

from mpharness import golden


class GoldenRunTest(unittest.TestCase):
    def test_every_golden_run_is_reproduced_byte_for_byte(self):
        names = golden.case_names()
        self.assertTrue(names, "no golden cases under " + golden.GOLDEN_DIR)
        results = golden.run_cases(names)
        recording = os.environ.get("MODEMPREP_GOLDEN") == "record"
        for name in names:
            with self.subTest(name):
                outputs = results[name]
                if isinstance(outputs, Exception):
                    raise outputs
                if recording:
                    golden.record(name, outputs)
                    continue
                diff = golden.differences(name, outputs)
                self.assertEqual("", diff, "\n" + diff)


if __name__ == "__main__":
    unittest.main()
