"""What a real phone does to the daemon beyond a well-behaved modem: a line that hangs up under a
daemon started as a session leader, answers that arrive a few bytes at a time (a final "OK" cut
at every byte among them), files planted where the daemon reads or writes, and any umask."""
import os
import stat
import tempfile
import time
import unittest

from mpharness import CARD_A, CARD_B, RADIO_DIR, absent, boot_all

from .faultcase import FaultTest, modem


class HangupTest(FaultTest):
    def test_session_leader_survives_hang_ups_at_start_up_and_at_a_hot_plug(self):
        faults = [{"command": "AT^DTOC", "standby": 0, "hangup": True, "reopen_ms": 1000,
                   "times": 1},
                  {"command": "AT+DSIMIO=1", "hangup": True, "reopen_ms": 1000, "times": 1}]
        p = self.phone(modem(slots=(CARD_A, absent(CARD_B)), faults=faults, rat=[31, 31]))
        p.start_modem()
        p.start_daemon(prefix=("setsid",))
        p.wait_log("uevent_open_socket device_fd:", timeout=60)
        self.assertIn("rild.cardStatus = 1\nrild.cardType = 2\n", p.rild(0))
        p.control("insert", "1")
        p.wait_log("startRildService g_isSwitchModem is 0, hotplug_sim: 1", timeout=60)
        self.assertEqual(2, p.texts().count('line of "%s" lost, opening it again'
                                            % p.path("/dev/TTYEMS40")))
        self.assertIn("rild.cardID = %s\n" % CARD_B["id"], p.rild(1))
        # The command the hang-up cut short is sent again on the line opened anew.
        self.assertEqual(2, p.commands().count("AT+DSIMIO=1"))
        self.assertResident(p)


class PiecesTest(FaultTest):
    def test_every_answer_in_pieces_gives_the_clean_end_state_without_a_time_out(self):
        pieces = (1, 4, 16, 32)
        phones = [self.phone(modem(faults=[{"command": "AT*", "split": list(range(n, 64 * n, n)),
                                            "split_gap_ms": 2}])) for n in pieces]
        boot_all(phones, timeout=120)
        for n, p in zip(pieces, phones):
            with self.subTest(piece=n):
                self.assertEqual([], p.time_outs())
                self.assertCleanFiles(p)
                self.assertResident(p)


class PlantedFilesTest(FaultTest):
    def test_links_planted_where_it_writes_are_replaced_never_followed(self):
        with tempfile.TemporaryDirectory() as outside:
            target = os.path.join(outside, "victim")
            with open(target, "w") as f:
                f.write("outside the root")
            p = self.phone(modem(slots=(CARD_B, CARD_A), rat=[31, 1]),
                           properties={"persist.sys.modem.reset": "0"})
            for name in ("radio.cfg", "radio.cfg.tmp", "rild.cfg0", "rild.cfg0.tmp",
                         "rild.cfg1.tmp", "modem_reset.restore.tmp"):
                os.symlink(target, p.path("%s/%s" % (RADIO_DIR, name)))
            p.boot()
            with open(target) as f:
                self.assertEqual("outside the root", f.read())
            for name in ("radio.cfg", "rild.cfg0", "rild.cfg1"):
                mode = os.lstat(p.path("%s/%s" % (RADIO_DIR, name))).st_mode
                self.assertTrue(stat.S_ISREG(mode), name)
            self.assertResident(p)

    def test_fifos_planted_where_it_reads_do_not_hold_it(self):
        p = self.phone()
        for path in ("/amt/msms_config.txt", RADIO_DIR + "/radio.cfg", RADIO_DIR + "/rild.cfg0",
                     "/properties.refuse"):
            if os.path.exists(p.path(path)):
                os.remove(p.path(path))
            os.mkfifo(p.path(path))
        start = time.monotonic()
        p.boot(timeout=20)
        self.assertLess(time.monotonic() - start, 5)
        self.assertResident(p)

    def test_file_modes_whatever_the_umask(self):
        for mask in ("000", "077"):
            with self.subTest(umask=mask):
                p = self.phone()
                p.start_modem()
                p.start_daemon(prefix=("sh", "-c", 'umask %s && exec "$@"' % mask, "sh"))
                p.wait_log("uevent_open_socket device_fd:")
                modes = {name: stat.S_IMODE(os.stat(p.path("%s/%s" % (RADIO_DIR, name))).st_mode)
                         for name in ("radio.cfg", "rild.cfg0", "rild.cfg1")}
                self.assertEqual({"radio.cfg": 0o600, "rild.cfg0": 0o640, "rild.cfg1": 0o640},
                                 modes)


if __name__ == "__main__":
    unittest.main()
