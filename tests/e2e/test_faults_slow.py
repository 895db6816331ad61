"""Fault cases that sit out the daemon's long waits on a silent modem ("^DUSIMU" never reported
while a signal report comes every 30 s, at start-up and at a hot-plug; "AT^DCID", "AT+CIMI" or
"AT^DTOC" silent; the line hung up for good): the golden runs marked "slow", replayed side by side
(the daemons only wait), so the file costs about its longest case, 125 s. Each must reproduce its recording byte for byte and keep its waits and start-up within the
bounds its case.json gives. Record them again with MODEMPREP_GOLDEN=record (see e2e/golden.py).
"""
import unittest

from e2e import golden


class SilentStagesTest(unittest.TestCase):
    def test_a_silent_modem_at_each_stage(self):
        names = golden.case_names(slow=True)
        self.assertEqual(5, len(names), names)
        golden.check_cases(self, names, workers=len(names))
