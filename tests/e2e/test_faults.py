"""Faults that golden runs cannot replay byte for byte: a modem node that appears only after the
daemon started (the number of once-a-second attempts depends on the clock), and a data partition
that fills up (a tmpfs). The other faults are golden runs (tests/golden/fault_*, history_*,
factory_file_*, e2e.test_faults_slow), e2e.test_hardening and e2e.test_hotplug."""
import os
import re
import subprocess

from .faultcase import FaultTest, modem


class NodeAbsentTest(FaultTest):
    def test_node_absent_at_start_is_waited_for_once_a_second(self):
        p = self.phone(modem(node_delay_ms=2500))
        # The simulator announces itself only once the node is linked: start it unwatched.
        p.start_modem(wait_ready=False)
        p.boot(start_modem=False)
        node = p.path("/dev/TTYEMS40")
        misses = [t for t in p.texts() if "access device" in t]
        self.assertTrue(2 <= len(misses) <= 4, misses)
        self.assertEqual(['(%d/100)access device "%s" fail: 2 - No such file or directory'
                          % (n, node) for n in range(1, len(misses) + 1)], misses)
        self.assertCleanFiles(p)
        self.assertResident(p)


class DiskFullTest(FaultTest):
    def test_disk_full_while_the_history_is_written(self):
        p = self.phone()
        data = p.path("/data")
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", data],
                          stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("mounting a tmpfs is not permitted here")
        self.addCleanup(subprocess.run, ["umount", "-l", data])
        radio, filler = p.path("/data/vantorel/radio"), p.path("/data/filler")
        os.makedirs(radio)
        subprocess.run(["dd", "if=/dev/zero", "of=" + filler, "bs=4k"], stderr=subprocess.DEVNULL)
        p.boot()
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
        # The next start, with room again, finds no history and writes the clean files.
        p.reboot()
        os.remove(filler)
        p.boot()
        self.assertCleanFiles(p)
        self.assertResident(p)
