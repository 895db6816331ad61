"""Faults with the real daemon against the simulator: a modem that goes quiet, hangs up, splits or
garbles its answers; a property service that refuses; a data partition that is missing, read-only
or full; damaged history and factory files; a storm of uevents. In every case the daemon carries on
to the resident loop and leaves correct files for what it did learn.

Longest wait on a silent modem per stage (measured, wall clock of the whole start-up, 2 cores):
  capability "AT^DMCC?"          3 time-outs of 10.01 s + 2 x 200 ms   31.7 s  (test_faults_slow)
  status, "^DUSIMU" never        one 60.06 s read                      62.0 s  (test_faults_slow)
  "AT^DCID", "AT+CIMI", "AT^DTOC" 5 time-outs of 10.01 s + 5 x 300 ms  52.9 s  (test_faults_slow)
  "AT+CGSN" (IMEI check)         one 10.01 s time-out per silent standby ~11 s
  reset without "^DMRST"         the first silent 5 s read ends the wait ~6.5 s
  node absent for 2.5 s          1 s access retries                     ~3.5 s
"""
import os
import random
import re
import subprocess
import tempfile
import time
import unittest

from mpharness import CARD_A, CARD_B, HISTORY, absent, boot_all, encode_history

from .faultcase import FaultTest, modem, split_ok_at


class SilentModemTest(FaultTest):
    def test_silent_imei_query_costs_one_bounded_exchange(self):
        faults = [{"command": "AT+CGSN", "standby": 0, "silent": True, "times": 1}]
        p = self.phone(modem(faults=faults, imei=["867400020000010", "000000000000000"]),
                       properties={"persist.sys.vx.check.imei": "1"})
        start = time.monotonic()
        p.boot()
        took = time.monotonic() - start
        waits = p.time_outs()
        self.assertEqual(1, len(waits))
        self.assertTrue(9.9 <= waits[0] < 10.5, waits)
        self.assertLess(took, 12.5)
        # Standby 1 was still asked; with no first IMEI nothing is repaired.
        self.assertIn("1 AT+CGSN", p.transcript())
        self.assertTrue(p.has_message("IMEI[0] = , IMEI[1] = 000000000000000", "D"))
        self.assertFalse(any("DCGSNW" in c for c in p.commands()))
        self.assertEqual("0", p.props()["persist.sys.vx.check.imei"])
        self.assertCleanFiles(p)
        self.assertResident(p)

    def test_reset_never_reported_ends_the_wait_at_the_first_silent_5_s(self):
        p = self.phone(modem(slots=(CARD_B, CARD_A), rat=[31, 1],
                             reset={"dmrst_delay_ms": 200, "never": True, "swap_rat": True}),
                       properties={"persist.sys.modem.reset": "0"})
        start = time.monotonic()
        p.boot()
        took = time.monotonic() - start
        self.assertTrue(p.has_message("is switch nvram(true)", "D"))
        waits = p.time_outs()
        self.assertEqual(1, len(waits))
        self.assertTrue(4.9 <= waits[0] < 5.5, waits)
        self.assertLess(took, 8)
        self.assertEqual("AT^DSRST", p.commands()[-1])
        props = p.props()
        self.assertEqual(("0", "1", "11"), (props["persist.sys.modem.reset"],
                                            props["sys.vx.swap.nvram.standby"],
                                            props["gsm.operator.mcard_switch"]))
        self.assertIn("rild.cardID = %s\n" % CARD_B["id"], p.rild(0))
        self.assertIn("rild.cardID = %s\n" % CARD_A["id"], p.rild(1))
        self.assertResident(p)

    def test_node_absent_at_start_is_waited_for(self):
        p = self.phone(modem(node_delay_ms=2500))
        # The simulator announces itself only once the node is linked: start it unwatched.
        p.start_modem(wait_ready=False)
        p.boot(start_modem=False)
        node = p.path("/dev/TTYEMS40")
        misses = [t for t in p.texts() if t.startswith("(") and "access device" in t]
        self.assertTrue(2 <= len(misses) <= 4, misses)
        for n, text in enumerate(misses, 1):
            self.assertEqual('(%d/100)access device "%s" fail: 2 - No such file or directory'
                             % (n, node), text)
        self.assertTrue(p.has_message('device "%s" is ready.' % node, "I"))
        self.assertCleanFiles(p)
        self.assertResident(p)


class HangupTest(FaultTest):
    def test_line_that_hangs_up_mid_exchange_is_opened_again_and_the_exchange_retried(self):
        faults = [{"command": "AT^DTOC", "standby": 0, "hangup": True, "reopen_ms": 2000,
                   "times": 1}]
        p = self.phone(modem(slots=(CARD_A, absent(CARD_B)), faults=faults, rat=[31, 31]))
        p.boot()
        node = p.path("/dev/TTYEMS40")
        self.assertTrue(p.has_message('line of "%s" lost, opening it again' % node, "E"))
        self.assertEqual(2, p.texts().count('device "%s" is ready.' % node))
        sent = p.transcript()
        at = sent.index("0 AT^DTOC")
        self.assertEqual(["0 AT^DTOC", "0 AT^DLKS=0", "0 AT^DMPCHN=0", "0 AT^DTOC"],
                         sent[at:at + 4])
        # The card that is present is configured as present, with its type.
        self.assertIn("rild.cardStatus = 1\nrild.cardType = 2\nrild.cardLocale = 1\n", p.rild(0))
        self.assertEqual(["start rild0", "start rild1"], p.init_log())
        self.assertResident(p)
        # The next hot-plug opens the line as any reconfiguration does.
        p.control("insert", "1")
        p.wait_log("startRildService g_isSwitchModem is 0, hotplug_sim: 1")
        p.wait_log("start rild1", count=2)
        self.assertIn("rild.cardID = %s\n" % CARD_B["id"], p.rild(1))
        self.assertResident(p)


class GarbledAnswerTest(FaultTest):
    def test_final_ok_cut_anywhere_still_ends_the_exchange(self):
        phones = [self.phone(modem(faults=[split_ok_at(k)])) for k in range(6)]
        boot_all(phones, timeout=60)
        for k, p in enumerate(phones):
            with self.subTest(k=k):
                self.assertEqual(([], 1), (p.time_outs(), p.transcript().count("0 AT^DCID")))
                self.assertCleanFiles(p)
                self.assertResident(p)

    def test_garbage_and_unsolicited_lines_between_answers(self):
        faults = [
            {"command": "AT^DMCC?", "noise": "\r\n+CSQ: 20,99\r\n"},
            {"command": "AT^DUSIMR=1", "noise": "\r\n+CREG: 1\r\n"},
            {"command": "AT^DCID", "noise": "\u0001\u00ff#garbage# \r"},
            {"command": "AT+CIMI", "noise": "\r\nRING\r\n\r\n+CREG: 0\r\n"},
            {"command": "AT^DTOC", "noise": "OK\r\nK\r\n^DTOC: 9"},
            {"command": "AT^DMPCHN=*", "noise": "\n\n\r"},
        ]
        p = self.phone(modem(faults=faults)).boot()
        self.assertEqual([], p.time_outs())
        self.assertCleanFiles(p)
        self.assertEqual("gsm,tdscdma,wcdma,lte_tdd,lte_fdd", p.props()["ro.sys.vx.proj.rat"])
        self.assertResident(p)


class PropertyRefusalTest(FaultTest):
    def test_refused_writes_are_retried_and_the_sequence_goes_on(self):
        p = self.phone()
        with open(p.path("/properties.refuse"), "w") as f:
            f.write("persist.radio.vx.master.card\nctl.start\nro.sys.vx.proj.type\n")
        start = time.monotonic()
        p.boot()
        took = time.monotonic() - start
        failed = [(letter, t) for letter, t in p.messages() if t.endswith("] failed")]
        expected = ([("I", "set property: [ro.sys.vx.proj.type]: [mass] failed")] * 3 +
                    [("I", "set property: [persist.radio.vx.master.card]: [10] failed")] * 3 +
                    [("I", "set property: [ctl.start]: [rild0] failed")] * 5 +
                    [("I", "set property: [ctl.start]: [rild1] failed")] * 5)
        self.assertEqual(expected, failed)
        self.assertGreaterEqual(took, 16.0)  # one second after each of the 16 refusals
        self.assertLess(took, 19.0)
        props = p.props()
        for name in ("persist.radio.vx.master.card", "ro.sys.vx.proj.type", "init.svc.rild0"):
            self.assertNotIn(name, props)
        self.assertEqual(("00", "cmcc"), (props["gsm.operator.mcard_switch"],
                                          props["ro.sys.vx.proj.target"]))
        self.assertEqual([], p.init_log())
        self.assertCleanFiles(p)
        self.assertResident(p)


class DataPartitionTest(FaultTest):
    def reinsert_slot_1(self, p, round_):
        mark = len(p.transcript())
        p.control("remove", "1")
        p.wait_log("startRildService g_isSwitchModem is 0, hotplug_sim: 1", count=2 * round_ - 1)
        p.control("insert", "1")
        p.wait_log("startRildService g_isSwitchModem is 0, hotplug_sim: 1", count=2 * round_)
        return p.transcript()[mark:]

    def test_missing_data_directory(self):
        p = self.phone(data_dir=False).boot()
        history = p.path(HISTORY)
        self.assertEqual(2, p.texts().count(
            'open "%s" fail: 2 - No such file or directory' % history))
        for standby in (0, 1):
            self.assertTrue(p.has_message('write RILD config file "%s%d" failed.'
                                          % (p.path("/data/vantorel/radio/rild.cfg"), standby),
                                          "E"))
        self.assertFalse(os.path.exists(p.path("/data")))
        self.assertEqual(["start rild0", "start rild1"], p.init_log())
        self.assertEqual("10", p.props()["persist.radio.vx.master.card"])
        self.assertResident(p)

    def test_unwritable_history_keeps_the_history_in_memory(self):
        p = self.phone()
        os.makedirs(p.path(HISTORY))  # neither readable nor writable as a file, even for root
        p.boot()
        self.assertIn("fread() fail: return 0 != 1, 21 - Is a directory", p.texts())
        self.assertIn('open "%s" fail: 21 - Is a directory' % p.path(HISTORY), p.texts())
        self.assertCleanFiles(p, history=False)
        sent = self.reinsert_slot_1(p, 1)
        self.assertTrue(p.has_message("Found a saved (U)SIM card info", "I"))
        self.assertIn("1 AT^DCID", sent)
        self.assertNotIn("1 AT+CIMI", sent)
        self.assertResident(p)

    def test_disk_full_while_the_history_is_written(self):
        p = self.phone()
        data = p.path("/data")
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", data],
                          stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("mounting a tmpfs is not permitted here")
        self.addCleanup(subprocess.run, ["umount", "-l", data])
        os.makedirs(p.path("/data/vantorel/radio"))
        filler = p.path("/data/filler")
        fd = os.open(filler, os.O_WRONLY | os.O_CREAT)
        try:
            while os.write(fd, b"\0" * 4096):
                pass
        except OSError:
            pass
        os.close(fd)
        p.boot()
        self.assertTrue(any(re.fullmatch(r"fwrite\(\) fail: .*28 - No space left on device",
                                         t) for t in p.texts()), p.texts())
        self.assertFalse(os.path.exists(p.path(HISTORY)))  # no part of a history written
        self.assertTrue(p.has_message('write RILD config file "%s0" failed.'
                                      % p.path("/data/vantorel/radio/rild.cfg"), "E"))
        self.assertEqual([], [n for n in os.listdir(p.path("/data/vantorel/radio"))
                              if n.endswith(".tmp")])
        # The run keeps its history in memory: the re-inserted card is known.
        sent = self.reinsert_slot_1(p, 1)
        self.assertTrue(p.has_message("Found a saved (U)SIM card info", "I"))
        self.assertNotIn("1 AT+CIMI", sent)
        self.assertResident(p)
        # The next start gets what the file holds: nothing.
        p.reboot()
        os.remove(filler)
        p.boot()
        self.assertIn('open "%s" fail: 2 - No such file or directory' % p.path(HISTORY), p.texts())
        self.assertEqual(2, p.commands().count("AT+CIMI"))
        self.assertCleanFiles(p)
        self.assertResident(p)


def history_image(fields):
    """The bytes of the history file `fields` describes (written by cardhist --encode)."""
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "radio.cfg")
        encode_history(fields, path)
        with open(path, "rb") as f:
            return f.read()


def layout(history):
    """The fields of a decoded history, without what describes the file itself."""
    return {k: history[k] for k in ("reserved", "slots", "next_index", "entries")}


def updated_history(before, clean):
    """What a run with cards A and B leaves in a history decoded as `before`: the slot identities
    of the clean run, and each card not in the ring added at the next index."""
    after = layout(before)
    after["slots"] = clean["slots"][:2] + before["slots"][2:]
    entries = list(before["entries"])
    ring = [entry["id"] for entry in entries]
    index = before["next_index"]
    for slot in (0, 1):
        entry = clean["entries"][slot]
        if entry["id"] in ring:
            continue
        index = index if 0 <= index < len(entries) else 0
        entries[index] = entry
        index = (index + 1) % len(entries)
    after["entries"], after["next_index"] = entries, index
    return after


class DamagedFilesTest(FaultTest):
    def test_short_long_and_corrupt_history_files(self):
        clean = self.clean_run()["decoded"]
        noise = random.Random("damaged history")
        card_a = {"reserved": 9, "next_index": 7, "entries": [None] * 5 + [clean["entries"][0]]}
        size = clean["layout_bytes"]
        cases = [  # (name, file content, fread line or None, saved cards found)
            ("empty", b"", "fread() fail: return 0 != 1, ", 0),
            ("random, short", bytes(noise.randrange(256) for _ in range(100)),
             "fread() fail: return 2 != 5, ", 0),
            ("one byte short", history_image(card_a)[:size - 1],
             "fread() fail: return 19 != 20, ", 1),
            ("random, full size", bytes(noise.randrange(256) for _ in range(size)), None, 0),
            ("too long", history_image(card_a) + b"\xaa" * (3000 - size), None, 1),
        ]
        for name, content, fread_line, found in cases:
            with self.subTest(name):
                p = self.phone()
                with open(p.path(HISTORY), "wb") as f:
                    f.write(content)
                before = p.history()
                p.boot()
                failures = [t for t in p.texts() if t.startswith("fread() fail")]
                if fread_line is None:
                    self.assertEqual([], failures)
                else:
                    self.assertEqual(1, len(failures))
                    self.assertTrue(failures[0].startswith(fread_line), failures)
                self.assertEqual(found, p.log().count("Found a saved (U)SIM card info"))
                self.assertEqual(2 - found, p.commands().count("AT+CIMI"))
                after = p.history()
                self.assertEqual(size, after["bytes"])
                self.assertEqual(updated_history(before, clean), layout(after))
                self.assertCleanFiles(p, history=False)
                self.assertResident(p)

    def test_factory_files_of_0_to_5_bytes(self):
        single = ("111", "unknown", 1)
        dual = ("221", "dsds", 2)
        cases = [(b"", single), (b"2", single), (b"22", single), (b"221", dual),
                 (b"2211", dual), (b"22x", single)]
        for content, (msms, config, standbys) in cases:
            with self.subTest(content=content):
                p = self.phone(factory=content).boot()
                props = p.props()
                self.assertEqual((msms, config), (props["ro.vx.msms"],
                                                  props["persist.radio.multisim.config"]))
                fallback = 'property "persist.sys.vx.msms" is empty, use default value "111"'
                self.assertEqual(standbys == 1, p.has_message(fallback, "W"))
                self.assertEqual(standbys == 2, "persist.sys.vx.msms" in props)
                self.assertEqual(standbys == 2, "AT^DMPCHN=1" in p.commands())
                self.assertEqual(["start rild%d" % i for i in range(standbys)], p.init_log())
                self.assertEqual(standbys == 2, os.path.exists(p.path(
                    "/data/vantorel/radio/rild.cfg1")))
                self.assertResident(p)


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


class UeventStormTest(FaultTest):
    def test_a_thousand_uevents_during_a_reconfiguration(self):
        p = self.phone(modem(slots=(CARD_A, absent(CARD_B)), rat=[31, 31], latency_ms=20)).boot()
        before = cpu_ticks(p.daemon.pid)
        p.control("insert", "1")  # a real change: a reconfiguration of about a second
        p.send_uevent("change@/devices/virtual/sim/sim1", "USIM1", "IN", count=400)
        p.send_uevent(raw="change@/devices/virtual/block/loop0 ACTION=change", count=300)
        p.send_uevent(raw="USIM0 XX USIM9", count=299)
        p.control("remove", "1")
        p.wait_log("startRildService g_isSwitchModem is 0, hotplug_sim: 1", count=2, timeout=60)
        p.wait_log("start rild1", count=3)
        ticks = cpu_ticks(p.daemon.pid) - before
        self.assertLess(ticks, 3 * os.sysconf("SC_CLK_TCK"), "CPU ticks %d" % ticks)

        got = [t for t in p.texts() if t.startswith("sim_hot_plug_monitor_loop msg=")]
        in_1 = "sim_hot_plug_monitor_loop msg=change@/devices/virtual/sim/sim1 USIM1 IN "
        out_1 = "sim_hot_plug_monitor_loop msg=change@/devices/virtual/sim/sim1 USIM1 OUT "
        self.assertEqual([in_1] * 401 + ["sim_hot_plug_monitor_loop msg=USIM0 XX USIM9"] * 299 +
                         [out_1], got)
        transitions = [t for t in p.texts() if t.startswith("sim_hot_plug_monitor_loop old_")]
        self.assertEqual(["sim_hot_plug_monitor_loop old_sim_online 1, new_sim_online: 3",
                          "sim_hot_plug_monitor_loop old_sim_online 3, new_sim_online: 1"],
                         transitions)
        self.assertIn("rild.cardStatus = 0\n", p.rild(1))
        self.assertEqual(["start rild0", "start rild1", "restart rild1", "restart rild1"],
                         p.init_log())
        # The mask the storm leaves is the card's real state.
        p.send_uevent("change@/devices/virtual/sim/sim0", "USIM0", "IN")
        p.wait_log("sim_hot_plug_monitor_loop g_dual_sim_online:", count=702)
        self.assertEqual("sim_hot_plug_monitor_loop g_dual_sim_online:1", p.texts()[-1])
        self.assertResident(p)


if __name__ == "__main__":
    unittest.main()
