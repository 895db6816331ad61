"""What a real phone does to the daemon beyond a well-behaved modem: a line that hangs up under a
daemon started as a session leader, links and FIFOs planted where the daemon writes or reads, any
umask. (Answers in pieces: the channel's unit tests, and a split final OK on the real line: the
golden run fault_split_final_ok.)"""
import functools
import os
import pathlib
import stat
import tempfile
import time
import unittest

from mpharness import CARD_A, CARD_B, RADIO_DIR, RESIDENT_LINE, Phone, absent, scenario


def modem(slots=(CARD_A, CARD_B), faults=(), **changes):
    return scenario("two_cards", slots=list(slots), faults=list(faults), **changes)


class FaultTest(unittest.TestCase):
    """Phones of a faulted two-card scenario, closed after the test (e2e.test_faults' too)."""

    def phone(self, scenario_data=None, **kwargs):
        p = Phone(scenario_data or modem(), factory=b"221", **kwargs)
        self.addCleanup(p.close)
        return p

    def assertResident(self, p):
        self.assertIsNone(p.daemon.poll(), "the daemon ended:\n" + p.log()[-3000:])
        self.assertIn(RESIDENT_LINE, p.log())


class ClosedStandardInputTest(FaultTest):
    def test_the_modem_node_never_gets_descriptor_0(self):
        """Started without a standard input, the node still opens at the first attempt: descriptor
        0 stands for a closed channel."""
        p = self.phone()
        p.start_modem()
        p.start_daemon(prefix=("sh", "-c", 'exec "$@" 0<&-', "sh"))
        p.wait_log(RESIDENT_LINE, timeout=20)
        self.assertEqual([], [line for line in p.texts() if "open device" in line])
        self.assertIn("rild.cardStatus = 1\n", p.rild(1))
        self.assertResident(p)


class HangupTest(FaultTest):
    def test_session_leader_survives_hang_ups_at_start_up_and_at_a_hot_plug(self):
        faults = [{"command": "AT^DTOC", "standby": 0, "hangup": True, "reopen_ms": 1000,
                   "times": 1},
                  {"command": "AT+DSIMIO=1", "hangup": True, "reopen_ms": 1000, "times": 1}]
        p = self.phone(modem(slots=(CARD_A, absent(CARD_B)), faults=faults, rat=[31, 31]))
        p.start_modem()
        p.start_daemon(prefix=("setsid",))
        p.wait_log(RESIDENT_LINE)
        p.control("insert", "1")
        # The last step of a hot-plug, after its rild files are written.
        p.wait_log("start rild1", count=2, timeout=60)
        self.assertEqual(2, p.texts().count('line of "%s" lost, opening it again'
                                            % p.path("/dev/TTYEMS40")))
        self.assertIn("rild.cardID = %s\n" % CARD_B["id"], p.rild(1))
        # The command the hang-up cut short is sent again on the line opened anew.
        self.assertEqual(2, p.transcript().count("1 AT+DSIMIO=1"))
        self.assertResident(p)


class PlantedFilesTest(FaultTest):
    def test_planted_links_and_fifos_under_any_umask(self):
        """Links where it writes are replaced, never followed; FIFOs where it reads do not hold it;
        the files it writes get the same modes whatever the umask. The start-up swaps the NVRAM,
        so that the restore record is written too."""
        victim = pathlib.Path(self.enterContext(tempfile.TemporaryDirectory()), "victim")
        victim.write_text("outside the root")
        links = [RADIO_DIR + "/" + name for name in ("radio.cfg", "radio.cfg.tmp", "rild.cfg0",
                                                     "rild.cfg0.tmp", "rild.cfg1.tmp",
                                                     "modem_reset.restore.tmp")]
        fifos = ["/amt/msms_config.txt", RADIO_DIR + "/radio.cfg", RADIO_DIR + "/rild.cfg0",
                 "/properties.refuse"]
        for mask, planted, plant in (("000", links, functools.partial(os.symlink, victim)),
                                     ("077", fifos, os.mkfifo)):
            with self.subTest(umask=mask):
                p = self.phone(modem(slots=(CARD_B, CARD_A), rat=[31, 1]), properties={
                    "persist.sys.modem.reset": "0", "persist.sys.vx.msms": "221"})
                for path in map(p.path, planted):
                    if os.path.exists(path):
                        os.remove(path)
                    plant(path)
                p.start_modem()
                started = p.start_daemon(prefix=("sh", "-c", 'umask %s && exec "$@"' % mask, "sh"))
                p.wait_log(RESIDENT_LINE, timeout=20)
                self.assertLess(time.monotonic() - started, 5)
                self.assertEqual("outside the root", victim.read_text())
                self.assertEqual(["-rw-------", "-rw-r-----", "-rw-r-----"],  # regular files
                                 [stat.filemode(os.lstat(p.path(RADIO_DIR + "/" + name)).st_mode)
                                  for name in ("radio.cfg", "rild.cfg0", "rild.cfg1")])
                self.assertResident(p)
