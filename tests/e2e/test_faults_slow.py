"""Fault cases that sit out the daemon's long waits on a silent modem: the golden runs marked
"slow", replayed side by side (the daemons only wait), so the file costs about its longest case.
Each must reproduce its recording byte for byte and keep its waits and start-up within the bounds
its case.json gives. Record them again with MODEMPREP_GOLDEN=record (see mpharness.golden).

Measured (wall clock of the whole start-up, 2 cores, side by side):
  "^DUSIMU" never reported for slot 0       62.0 s  (one 60.06 s read)
  "AT^DCID" / "AT+CIMI" / "AT^DTOC" silent  52.8 s  (5 time-outs of 10.01 s, 300 ms apart)
  line hung up for good at "AT^DCID"        102 s   (one open bound: 100 attempts 1 s apart)
The silent capability query (31.7 s) is bounded among the other golden runs.
"""
import unittest

from mpharness import golden


class SilentStagesTest(unittest.TestCase):
    def test_a_silent_modem_at_each_stage(self):
        names = golden.case_names(slow=True)
        self.assertEqual(5, len(names), names)
        golden.check_cases(self, names, workers=len(names))


if __name__ == "__main__":
    unittest.main()
