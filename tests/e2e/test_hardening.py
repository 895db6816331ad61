"""What a real phone does to the daemon beyond a well-behaved modem: a line that hangs up under a
daemon started as a session leader, NUL bytes and reports in pieces from the modem, links, FIFOs
and records planted where the daemon writes or reads, any umask, a uevent from another user.
(Answers in pieces: the channel's unit tests, and a split final OK on the real line: the golden
run fault_split_final_ok. Other lines during a report wait: the slow golden run
fault_status_never_reported.)"""
import functools
import json
import os
import pathlib
import socket
import stat
import subprocess
import tempfile
import time
import unittest

from mpharness import CARD_A, CARD_B, RADIO_DIR, RESIDENT_LINE, Phone, absent, scenario


def modem(slots=(CARD_A, CARD_B), faults=(), **changes):
    return scenario("two_cards", slots=list(slots), faults=list(faults), **changes)


class FaultTest(unittest.TestCase):
    """Phones of a faulted two-card scenario, closed after the test."""

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
        self.assertEqual(2, sum(r["kind"] == "line lost" and r["path"] == p.path("/dev/TTYEMS40")
                                for r in p.records()))
        self.assertIn("rild.cardID = %s\n" % CARD_B["id"], p.rild(1))
        # The command the hang-up cut short is sent again on the line opened anew.
        self.assertEqual(2, p.transcript().count("1 AT+DSIMIO=1"))
        self.assertResident(p)


class ModemBytesTest(FaultTest):
    def test_nul_bytes_and_reports_in_pieces_give_a_clean_start_without_a_wait(self):
        """NULs alone before an answer, inside final codes, before the capability and card
        answers; the delayed card reports and the NVRAM swap's "^DMRST" in pieces of 2 to 5 bytes:
        the end state of a clean start, with the LTE RAT list, and no read times out."""
        faults = [{"command": "AT^DMCC?", "nul_at": [0, 1]},
                  {"command": "AT^DUSIMR=1", "nul_at": [2]},
                  {"command": "AT^DCID", "nul_chunk": 1},
                  {"command": "AT+CIMI", "nul_at": [29]},  # "\r\nO" NUL "K\r\n"
                  {"command": "AT^DTOC", "nul_chunk": 3, "nul_at": [0, 5]}]
        swapping = {"slots": [CARD_B, CARD_A], "rat": [31, 1]}
        p = self.phone(scenario("delayed_status", faults=faults, reset={"split": [2, 5, 7]},
                                status_report=dict(scenario("delayed_status")["status_report"],
                                                   split=[2, 5, 9, 12]), **swapping))
        p.start_modem()
        started = p.start_daemon()
        p.wait_log(RESIDENT_LINE, timeout=30)
        self.assertLess(time.monotonic() - started, 15)
        texts = p.texts()
        self.assertIn("2 NUL bytes from the modem dropped", texts)
        self.assertIn("3 NUL bytes from the modem dropped", texts)
        self.assertEqual([], [t for t in texts if "parameter error" in t or "time out" in t])
        self.assertIn({"kind": "switch nvram", "switch": "true"},
                      [{k: r.get(k) for k in ("kind", "switch")} for r in p.records()])
        self.assertEqual("gsm,tdscdma,wcdma,lte_tdd,lte_fdd", p.props()["ro.sys.vx.proj.rat"])
        clean = self.phone(scenario("delayed_status", **swapping)).boot()
        self.assertEqual([clean.rild(0), clean.rild(1), clean.history_bytes(), clean.props()],
                         [p.rild(0), p.rild(1), p.history_bytes(), p.props()])
        self.assertResident(p)


class LateStandbySwitchTest(FaultTest):
    def test_a_switch_answered_after_its_bound_leaves_every_later_command_on_the_right_standby(self):
        """The switch to slot 1's standby is answered 10.5 s late (the modem switched at once):
        the daemon switches again before slot 1's commands, back to 0 at the close, and a later
        removal from slot 0 is told to standby 0 and configures slot 0."""
        p = self.phone(modem(faults=[{"command": "AT^DMPCHN=1", "latency_ms": 10500,
                                      "times": 1}]))
        p.boot(timeout=60)
        sent = p.transcript()
        switch = sent.index("0 AT^DMPCHN=1")
        self.assertEqual(["0 AT^DMPCHN=1", "1 AT^DLKS=1", "1 AT^DMPCHN=1", "1 AT^DUSIMR=1"],
                         sent[switch:switch + 4])
        self.assertEqual("1 AT^DMPCHN=0", sent[-1])
        self.assertIn("rild.cardID = %s\n" % CARD_B["id"], p.rild(1))
        p.control("remove", "0")
        p.wait_log("check_modemprep_after_hotplug hotplug_sim:0", timeout=60)
        deadline = time.monotonic() + 30
        while "rild.cardStatus = 0\n" not in p.rild(0) and time.monotonic() < deadline:
            time.sleep(0.2)
        self.assertIn("rild.cardStatus = 0\n", p.rild(0))
        self.assertIn("0 AT+DSIMIO=0", p.transcript())
        self.assertIn("rild.cardID = %s\n" % CARD_B["id"], p.rild(1))
        self.assertResident(p)


class PlantedFilesTest(FaultTest):
    def test_planted_links_fifos_and_records_under_any_umask(self):
        """Links where it writes are replaced, never followed; FIFOs where it reads do not hold it;
        a restore record it did not write (a hostile value, a FIFO) is refused with one line and
        removed (every other form: the daemon's unit test); the files it writes and the uevent
        socket get the same modes whatever the umask. The start-up swaps the NVRAM, so that the
        restore record is written too."""
        victim = pathlib.Path(self.enterContext(tempfile.TemporaryDirectory()), "victim")
        victim.write_text("outside the root")
        record = RADIO_DIR + "/modem_reset.restore"
        links = [RADIO_DIR + "/" + name for name in ("radio.cfg", "radio.cfg.tmp", "rild.cfg0",
                                                     "rild.cfg0.tmp", "rild.cfg1.tmp",
                                                     "modem_reset.restore.tmp")]
        fifos = ["/amt/msms_config.txt", RADIO_DIR + "/radio.cfg", RADIO_DIR + "/rild.cfg0",
                 "/properties.refuse", record]
        for mask, planted, plant in (("000", links, functools.partial(os.symlink, victim)),
                                     ("077", fifos, os.mkfifo)):
            with self.subTest(umask=mask):
                p = self.phone(modem(slots=(CARD_B, CARD_A), rat=[31, 1]), properties={
                    "persist.sys.modem.reset": "0", "persist.sys.vx.msms": "221"})
                for path in map(p.path, planted):
                    if os.path.exists(path):
                        os.remove(path)
                    plant(path)
                if mask == "000":
                    pathlib.Path(p.path(record)).write_text("persist.sys.modem.reset=rm -rf /\n")
                p.start_modem()
                started = p.start_daemon(prefix=("sh", "-c", 'umask %s && exec "$@"' % mask, "sh"))
                p.wait_log(RESIDENT_LINE, timeout=20)
                self.assertLess(time.monotonic() - started, 5)
                self.assertEqual("outside the root", victim.read_text())
                self.assertEqual(["-rw-------", "-rw-r-----", "-rw-r-----", "srw-------"],
                                 [stat.filemode(os.lstat(p.path(name)).st_mode) for name in (
                                     RADIO_DIR + "/radio.cfg", RADIO_DIR + "/rild.cfg0",
                                     RADIO_DIR + "/rild.cfg1", "/dev/uevent.sock")])
                self.assertEqual(1, sum("is not a record this daemon wrote" in t
                                        for t in p.texts()))
                self.assertFalse(os.path.lexists(p.path(record)))
                self.assertEqual("0", p.props()["persist.sys.modem.reset"])
                self.assertResident(p)

    def test_history_leftovers_are_carried_and_told_from_damage(self):
        """Bytes no decision reads (slots 2 to 4, an entry no card can match, a status) are kept as
        found at every write; cardhist calls the file sound and lists them apart."""
        p = self.phone()
        history = p.path(RADIO_DIR + "/radio.cfg")
        planted = {"next_index": 2, "slots": ["", "", "", "\u00ffjunk"], "entries": [
            {"status": 7, "type": 2, "locale": 1, "imsi": CARD_A["imsi"], "id": CARD_A["id"]},
            {"imsi": "garbage", "id": "9" * 40}]}
        subprocess.run([p.build.cardhist, "--encode", history], input=json.dumps(planted),
                       text=True, check=True)
        p.boot()
        self.assertIn("Found a saved (U)SIM card info", p.texts())
        decoded = subprocess.run([p.build.cardhist, "--json", history], capture_output=True,
                                 text=True)
        self.assertEqual((0, [], ["slot 3: not a slot the daemon reads or writes",
                                  "entry 0: status 7, never read",
                                  "entry 1: ID not terminated, so no card can match it"]),
                         (decoded.returncode, *map(json.loads(decoded.stdout).get,
                                                   ("damage", "leftovers"))))
        self.assertResident(p)


class UeventSenderTest(FaultTest):
    def test_a_datagram_from_another_user_is_refused_and_the_next_event_handled(self):
        """The socket is 0600 (PlantedFilesTest): user 65534 cannot connect to it; connected
        before it changed user, its datagram is refused by its credentials."""
        p = self.phone().boot()
        path, event = p.path("/dev/uevent.sock"), b"change@/devices/virtual/sim/sim1\0USIM1\0OUT\0"
        self.assertEqual([1, 0], [as_nobody(path, event, early) for early in (False, True)])
        p.wait_log("uevent_kernel_multicast_recv fail: -1, 5 - Input/output error: message "
                   "skipped, 1 so far")
        p.control("remove", "1")  # the next real event is handled
        p.wait_log("startRildService g_isSwitchModem is 0, hotplug_sim: 1")
        self.assertEqual(1, [r.get("event") for r in p.records()].count(SIM1_OUT))
        self.assertResident(p)


class HostStandInsTest(FaultTest):
    def test_a_log_reader_that_goes_away_ends_nothing(self):
        """Standard error a pipe whose reader is gone: every log write fails (EPIPE) and is
        skipped; the start-up and a later removal are done all the same."""
        p = self.phone()
        p.start_modem()
        reader, writer = os.pipe()
        os.close(reader)
        p.daemon = subprocess.Popen([p.build.daemon], env=dict(os.environ, MODEMPREP_ROOT=p.root),
                                    stdin=subprocess.DEVNULL, stdout=writer, stderr=writer)
        os.close(writer)
        for request in ("start rild1", "restart rild1"):
            deadline = time.monotonic() + 30
            while request not in p.init_log() and p.daemon.poll() is None:
                self.assertLess(time.monotonic(), deadline, p.init_log())
                time.sleep(0.05)
            self.assertIsNone(p.daemon.poll(), "the daemon ended")
            if request == "start rild1":
                p.control("remove", "1")  # sent once the socket is there

    def test_a_directory_at_the_socket_path_is_named_and_the_socket_opened_once_it_goes(self):
        """Retried every 2 s as designed, each time saying what is in the way."""
        p = self.phone()
        os.mkdir(p.path("/dev/uevent.sock"))
        p.start_modem()
        p.start_daemon()
        p.wait_log("uevent_open_socket get device_fd error fd:-1, 21 - Is a directory", count=2,
                   timeout=30)
        os.rmdir(p.path("/dev/uevent.sock"))
        p.wait_log(RESIDENT_LINE, timeout=10)
        self.assertResident(p)


SIM1_OUT = "change@/devices/virtual/sim/sim1 USIM1 OUT "


def as_nobody(path, datagram, connect_early):
    """Exit status of a child that sends the datagram to the socket at path as user 65534,
    connected before it changes user or after: 0 sent, 1 the connect refused."""
    pid = os.fork()
    if pid == 0:
        try:
            s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
            if connect_early:
                s.connect(path)
            os.setgid(65534)
            os.setuid(65534)
            if not connect_early:
                s.connect(path)
            s.send(datagram)
            os._exit(0)
        except PermissionError:
            os._exit(1)
        finally:
            os._exit(2)
    return os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])
