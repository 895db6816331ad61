"""The resident loop of the real daemon: one per root (a second daemon or simulator is refused,
adding no file), asleep when nothing happens, and under a storm of uevents during a
reconfiguration (a spurious removal among them). What one hot-plug event or a few of them
do is pinned by the golden runs (tests/golden/hotplug_*, scenario_*)."""
import os
import pathlib
import subprocess
import time
import unittest

from mpharness import CARD_A, CARD_B, Phone, absent, scenario

SIM1 = "change@/devices/virtual/sim/sim1 USIM1 "
NOT_CHANGED = "check_modemprep_after_hotplug return for sim state not change after hotplug"


def counters(pid):
    """CPU clock ticks (user + system) and context switches of a process."""
    fields = pathlib.Path("/proc/%d/stat" % pid).read_text().rsplit(")", 1)[1].split()
    switches = sum(int(line.split()[1]) for line in open("/proc/%d/status" % pid)
                   if "ctxt_switches:" in line)
    return int(fields[11]) + int(fields[12]), switches


class HotplugTest(unittest.TestCase):
    def test_a_second_daemon_and_simulator_are_refused_then_idle_then_a_storm_and_removals(self):
        p = Phone(scenario("two_cards", slots=[CARD_A, absent(CARD_B)], rat=[31, 31],
                           latency_ms=20), factory=b"221")
        self.addCleanup(p.close)
        p.boot()
        # A second of each on the root: one line, status 1, no file added; the first pair goes on
        # (it hears the hot-plugs below).
        files = sorted(os.listdir(p.root))
        for argv, env, holder in (
                ([p.build.daemon], {"MODEMPREP_ROOT": p.root}, p.daemon),
                ([p.build.modemsim, "--scenario", "two_cards"], {"MODEMPREP_ROOT": p.root}, p.sim)):
            with self.subTest(argv[0]):
                second = subprocess.run(argv, capture_output=True, text=True, timeout=20,
                                        env=dict(os.environ, **env))
                self.assertEqual((1, "", "%s: already running on %s (pid %d)\n" % (
                    os.path.basename(argv[0]), p.root, holder.pid)),
                    (second.returncode, second.stdout, second.stderr))
        self.assertEqual(files, sorted(os.listdir(p.root)))
        # Idle: no CPU used, never woken up.
        time.sleep(0.2)
        before = counters(p.daemon.pid)
        time.sleep(3)
        self.assertEqual(before, counters(p.daemon.pid))
        p.control("insert", "1")  # a real change: a reconfiguration of about a second
        p.send_uevent(*SIM1.split(), "IN", count=400)
        p.send_uevent(raw="change@/devices/virtual/block/loop0 ACTION=change", count=300)
        p.send_uevent(raw="USIM0 XX USIM9", count=299)
        p.send_uevent(raw="", count=3)  # skipped on the same socket
        p.send_uevent(*SIM1.split(), "OUT")  # a bouncing tray: the card is still in
        p.wait_log(NOT_CHANGED, timeout=60)
        ticks = counters(p.daemon.pid)[0] - before[0]
        self.assertLess(ticks, 3 * os.sysconf("SC_CLK_TCK"), "CPU ticks %d" % ticks)
        # The spurious "OUT" left the slot online, so the real removal is seen.
        p.control("remove", "1")
        p.wait_log("start rild1", count=3, timeout=20)
        loop = "sim_hot_plug_monitor_loop "
        self.assertEqual([loop + "msg=" + SIM1 + "IN "] * 401 + [loop + "msg=USIM0 XX USIM9"] * 299
                         + [loop + "msg=" + SIM1 + "OUT "] * 2,
                         [t for t in p.texts() if t.startswith(loop + "msg=")])
        self.assertIn("message skipped, 3 so far", p.log())
        self.assertEqual(1, [r["kind"] for r in p.records()].count("resident"))
        self.assertEqual([loop + "old_sim_online 1, new_sim_online: 3"] +
                         [loop + "old_sim_online 3, new_sim_online: 1"] * 2,
                         [t for t in p.texts() if t.startswith(loop + "old_")])
        self.assertEqual(["1 AT+DSIMIO=1", "1 AT+DSIMIO=0", "1 AT+DSIMIO=0"],
                         [c for c in p.transcript() if "DSIMIO" in c])
        self.assertEqual(["start rild0", "start rild1", "restart rild1", "restart rild1"],
                         p.init_log())

    def test_a_card_swapped_during_a_pass_for_the_other_slot_is_configured(self):
        """During the pass for slot 0's removal, card B is pulled from slot 1 and card C put in:
        B's "OUT" finds a card there and C's "IN" changes nothing, yet slot 1 is configured for C
        because its rild file names B."""
        card_c = dict(CARD_A, id="89860000000000000333", imsi="460003333333333")
        p = Phone(scenario("two_cards", slots=[CARD_A, CARD_B], latency_ms=20), factory=b"221")
        self.addCleanup(p.close)
        p.boot()
        p.stop_modem()  # the channel is closed between passes: a new modem holds the new cards
        p.modem_scenario = scenario("two_cards", slots=[absent(CARD_A), card_c], latency_ms=20)
        p.start_modem()
        for slot, word in (("0", "OUT"), ("1", "OUT"), ("1", "IN")):
            p.send_uevent("change@/devices/virtual/sim/sim" + slot, "USIM" + slot, word)
        p.wait_log("start rild1", count=2, timeout=60)  # the restart, after the files
        self.assertIn("check_modemprep_after_hotplug card of slot 1 is %s, its rild was configured "
                      "for %s: configured as for an insertion" % (card_c["id"], CARD_B["id"]),
                      p.texts())
        self.assertIn("rild.cardID = %s\n" % card_c["id"], p.rild(1))
        self.assertIn(card_c["id"].encode(), p.history_bytes())
        # The modem, told the slot was empty, is told it holds a card after all.
        self.assertEqual(["0 AT+DSIMIO=0", "1 AT+DSIMIO=0", "1 AT+DSIMIO=1"],
                         [c for c in p.transcript() if "DSIMIO" in c])
        # Slot 0's pass swapped the NVRAM, so rild0 is not restarted (as designed).
        self.assertEqual(["start rild0", "start rild1", "restart rild1"], p.init_log())
