"""SIM hot-plug with the real daemon: uevents from the simulator, reconfiguration per slot."""
import time
import unittest

from mpharness import CARD_A, CARD_B, Phone, absent, scenario


def proc_counters(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    cpu = int(fields[11]) + int(fields[12])  # utime + stime, in clock ticks
    switches = 0
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                switches += int(line.split()[1])
    return cpu, switches


class HotplugTest(unittest.TestCase):
    def phone(self, slots, **modem):
        p = Phone(scenario("two_cards", slots=list(slots), rat=[31, 31], **modem), factory=b"221")
        self.addCleanup(p.close)
        return p.boot()

    def commands_from(self, p, mark):
        return p.transcript()[mark:]

    def test_inserting_and_removing_the_card_of_slot_1(self):
        p = self.phone([CARD_A, absent(CARD_B)])
        self.assertEqual(["start rild0", "start rild1"], p.init_log())
        self.assertIn("rild.cardStatus = 0\n", p.rild(1))
        mark = len(p.transcript())
        p.control("insert", "1")
        p.wait_log("startRildService g_isSwitchModem is 0, hotplug_sim: 1")
        p.wait_log("start rild1", count=2)
        sent = self.commands_from(p, mark)
        self.assertEqual(["0 AT^DLKS=0", "0 AT^DMPCHN=1", "1 AT+DSIMIO=1", "1 AT^DLKS=1"],
                         sent[:4])
        self.assertIn("1 AT+CIMI", sent)
        self.assertIn("0 AT^DMCC?", sent)  # a fresh capability query, on standby 0
        self.assertTrue(p.has_message(
            "check_modemprep_after_hotplug hotplug_sim:1, old_state:0, new_state:1", "D"))
        self.assertTrue(p.has_message("startRildService set restartRIL as 1 for hotplug_sim 1", "E"))
        self.assertEqual(["start rild0", "start rild1", "restart rild1"], p.init_log())
        self.assertIn("rild.cardID = %s\n" % CARD_B["id"], p.rild(1))
        self.assertIn("rild.cardStatus.other = 1\n", p.rild(0))

        mark = len(p.transcript())
        p.control("remove", "1")
        p.wait_log("startRildService g_isSwitchModem is 0, hotplug_sim: 1", count=2)
        p.wait_log("start rild1", count=3)
        self.assertIn("1 AT+DSIMIO=0", self.commands_from(p, mark))
        self.assertNotIn("1 AT^DCID", self.commands_from(p, mark))
        self.assertIn("rild.cardStatus = 0\n", p.rild(1))
        self.assertEqual("restart rild1", p.init_log()[-1])

    def test_a_stopped_rild_is_started_rather_than_restarted(self):
        p = self.phone([CARD_A, absent(CARD_B)])
        p.set_prop("init.svc.rild1", "stopped")
        p.control("insert", "1")
        p.wait_log("start rild1", count=2)
        time.sleep(0.3)
        self.assertEqual(["start rild0", "start rild1", "start rild1"], p.init_log())

    def test_events_that_change_nothing(self):
        p = self.phone([CARD_A, absent(CARD_B)])
        # Slot 0 is already online: only the two debug lines.
        p.send_uevent("change@/devices/virtual/sim/sim0", "USIM0", "IN")
        # Neither slot named: ignored without a log line.
        p.send_uevent("change@/devices/virtual/block/loop0", "ACTION=change")
        p.send_uevent(raw="USIM1 XX")
        # Slot 1 claimed IN while the modem still sees no card: error line, nothing re-run.
        p.send_uevent("change@/devices/virtual/sim/sim1", "USIM1", "IN")
        p.wait_log("check_modemprep_after_hotplug return for sim state not change after hotplug")
        # The stored mask keeps what the modem reported: a second IN is checked again.
        p.send_uevent("change@/devices/virtual/sim/sim1", "USIM1", "IN")
        p.wait_log("check_modemprep_after_hotplug return for sim state not change after hotplug",
                   count=2)
        texts = [t for _, t in p.messages()]
        start = texts.index(next(t for t in texts if t.startswith("uevent_open_socket device_fd")))
        self.assertEqual([
            "sim_hot_plug_monitor_loop msg=change@/devices/virtual/sim/sim0 USIM0 IN ",
            "sim_hot_plug_monitor_loop g_dual_sim_online:1",
            "sim_hot_plug_monitor_loop msg=USIM1 XX",
            "sim_hot_plug_monitor_loop g_dual_sim_online:1",
            "sim_hot_plug_monitor_loop msg=change@/devices/virtual/sim/sim1 USIM1 IN ",
            "sim_hot_plug_monitor_loop g_dual_sim_online:1",
            "sim_hot_plug_monitor_loop old_sim_online 1, new_sim_online: 3",
            "check_modemprep_after_hotplug sim_online_change:2",
        ], texts[start + 1:start + 9])
        self.assertEqual(2, texts.count("check_modemprep_after_hotplug sim_online_change:2"))
        self.assertEqual(["start rild0", "start rild1"], p.init_log())

    def test_a_message_naming_both_slots_handles_slot_1_only(self):
        p = self.phone([absent(CARD_A), absent(CARD_B)])
        p.send_uevent("change@/devices/virtual/sim/sim0", "USIM0", "IN", "USIM1", "IN")
        p.wait_log("check_modemprep_after_hotplug sim_online_change:2")
        p.wait_log("check_modemprep_after_hotplug return for sim state not change after hotplug")
        self.assertTrue(p.has_message(
            "sim_hot_plug_monitor_loop old_sim_online 0, new_sim_online: 2", "D"))
        self.assertNotIn("0 AT+DSIMIO=1", p.transcript())

    def test_idle_daemon_uses_no_cpu_and_never_wakes_up(self):
        p = self.phone([CARD_A, CARD_B])
        time.sleep(0.2)
        before = proc_counters(p.daemon.pid)
        time.sleep(3)
        self.assertEqual(before, proc_counters(p.daemon.pid))

    def test_events_during_a_reconfiguration_are_handled_after_it_in_order(self):
        p = self.phone([CARD_A, absent(CARD_B)], latency_ms=40)
        mark = len(p.transcript())
        p.control("insert", "1")  # the card really comes: a full reconfiguration of about 1.5 s
        # A bouncing tray: "OUT" for the card still there is checked and changes nothing, so
        # the "IN" after it finds the slot online already.
        p.send_uevent("change@/devices/virtual/sim/sim1", "USIM1", "OUT")
        p.send_uevent("change@/devices/virtual/sim/sim1", "USIM1", "IN")
        p.wait_log("check_modemprep_after_hotplug return for sim state not change after hotplug",
                   timeout=60)
        p.wait_log("sim_hot_plug_monitor_loop g_dual_sim_online:3", count=2)
        transitions = [t for _, t in p.messages() if t.startswith("sim_hot_plug_monitor_loop old_")]
        self.assertEqual(["sim_hot_plug_monitor_loop old_sim_online 1, new_sim_online: 3",
                          "sim_hot_plug_monitor_loop old_sim_online 3, new_sim_online: 1"],
                         transitions)
        simio = [c for c in self.commands_from(p, mark) if "DSIMIO" in c]
        self.assertEqual(["1 AT+DSIMIO=1", "1 AT+DSIMIO=0"], simio)
        self.assertIn("rild.cardStatus = 1\n", p.rild(1))

if __name__ == "__main__":
    unittest.main()
