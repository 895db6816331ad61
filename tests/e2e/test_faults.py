"""A fault that golden runs cannot replay: a full data partition (every write under the radio
directory fails with ENOSPC, through tools/crashpoint). The other faults are golden runs
(tests/golden/fault_*, history_*, factory_file_*, e2e.test_faults_slow), e2e.test_hardening,
e2e.test_crash (a full partition during an NVRAM swap) and e2e.test_hotplug; the wait for a modem
node that is not there yet is the open's unit test and the golden runs of a line that hangs up
(the same wait, after the start)."""
import os
import re

from mpharness import RADIO_DIR, RESIDENT_LINE

from .test_hardening import FaultTest


class DiskFullTest(FaultTest):
    def test_disk_full_while_the_history_is_written(self):
        p = self.phone()
        radio = p.path(RADIO_DIR)
        p.start_modem()
        p.start_daemon(env=p.build.crashpoint(enospc=radio + "/"))
        p.wait_log(RESIDENT_LINE, timeout=30)
        self.assertTrue(any(re.fullmatch(r"fwrite\(\) fail: .*28 - No space left on device", t)
                            for t in p.texts()), p.texts())
        self.assertIn('write RILD config file "%s/rild.cfg0" failed.' % radio, p.texts())
        # Nothing half-written is left: no history at all, no temporary file.
        self.assertEqual([], os.listdir(radio))
        # The run keeps its history in memory: the card pulled and pushed back is known.
        mark = len(p.transcript())
        p.control("remove", "1")
        p.wait_log("startRildService g_isSwitchModem is 0, hotplug_sim: 1")
        p.control("insert", "1")
        p.wait_log("startRildService g_isSwitchModem is 0, hotplug_sim: 1", count=2)
        self.assertIn("Found a saved (U)SIM card info", p.texts())
        self.assertNotIn("1 AT+CIMI", p.transcript()[mark:])
        self.assertResident(p)
        # The next start, with room again, finds no history and writes what a clean start writes.
        p.reboot()
        p.boot()
        self.assertResident(p)
        clean = self.phone().boot()
        self.assertEqual([clean.rild(0), clean.rild(1), clean.history_bytes()],
                         [p.rild(0), p.rild(1), p.history_bytes()])
