"""The whole start-up of the real daemon against the simulator, from exec to the resident loop."""
import time
import unittest

from mpharness import CARD_A, CARD_B, NO_CARD, Phone, scenario


def rild_file(count, slot, card, locale, rat, actual, dstmex, other_status, other_locale):
    status, type_, card_id = (1, card["type"], card["id"]) if card else (0, 255, "")
    return ("rild.count = %d\nrild.simSlot = %d\nrild.cardStatus = %d\nrild.cardType = %d\n"
            "rild.cardLocale = %d\nrild.cardID = %s\nrild.rat = %d\nrild.actualRat = %d\n"
            "rild.rat.DSTMEX = %s\nrild.cs = 1\nrild.ps = 1\nrild.cardStatus.other = %d\n"
            "rild.cardLocale.other = %d\n") % (count, slot, status, type_, locale, card_id, rat,
                                                actual, dstmex, other_status, other_locale)


def slot_queries(standby, full=True):
    queries = ["AT^DLKS=1", "AT^DUSIMR=1", "AT^DLKS=0", "AT^DUSIMR=0", "AT^DCID"]
    queries += ["AT+CIMI", "AT^DTOC"] if full else []
    return ["%d %s" % (standby, q) for q in queries]


class StartupTest(unittest.TestCase):
    def phone(self, slots, rat=(31, 1), factory=b"221", **kwargs):
        modem = scenario("two_cards", slots=list(slots), rat=list(rat))
        modem.update(kwargs.pop("modem", {}))
        p = Phone(modem, factory=factory, **kwargs)
        self.addCleanup(p.close)
        return p

    def test_guard_stops_while_a_master_card_switch_is_under_way(self):
        for flag, stops in (("01", True), ("11", True), ("10", False), ("00", False)):
            with self.subTest(flag=flag):
                p = self.phone([CARD_A, CARD_B], properties={"gsm.operator.mcard_switch": flag,
                                                            "sys.vx.boot.completed": "1"})
                p.boot(start_modem=not stops)
                if stops:
                    self.assertEqual(0, p.wait_exit())
                    self.assertTrue(p.has_message("switching master card now, wait for a while!"))
                    self.assertEqual(flag, p.props()["gsm.operator.mcard_switch"])
                else:
                    self.assertIsNone(p.daemon.poll())
                    self.assertEqual("00", p.props()["gsm.operator.mcard_switch"])
                self.assertFalse(any(t.startswith("Boot up: ") for _, t in p.messages()))
                self.assertTrue(any(t.startswith("Build time: ") for _, t in p.messages()))

    def test_first_boot_of_a_two_card_phone(self):
        p = self.phone([CARD_A, CARD_B]).boot()
        self.assertTrue(any(t.startswith("Boot up: ") for _, t in p.messages()))
        self.assertEqual(["0 AT^DLKS=0", "0 AT^DMCC?", "0 AT^DMPCHN=0"] + slot_queries(0) +
                         ["0 AT^DMPCHN=1"] + slot_queries(1) + ["1 AT^DMPCHN=0"], p.transcript())
        self.assertEqual(rild_file(2, 0, CARD_A, 1, 31, 31, "0,7,2,0", 1, 2), p.rild(0))
        self.assertEqual(rild_file(2, 1, CARD_B, 2, 1, 1, "1,0", 1, 1), p.rild(1))
        self.assertEqual(["start rild0", "start rild1"], p.init_log())
        props = p.props()
        expected = {
            "sys.vx.boot.completed": "1", "gsm.operator.mcard_switch": "00",
            "persist.sys.vx.msms": "221", "ro.vx.msms": "221",
            "persist.radio.multisim.config": "dsds", "ro.sys.vx.proj.type": "mass",
            "ro.sys.vx.proj.target": "cmcc", "ro.sys.vx.proj.rat": "gsm,tdscdma,wcdma,lte_tdd,lte_fdd",
            "ro.vx.dynamic.rat": "1", "ro.vx.dual2single": "1",
            "persist.radio.vx.master.card": "10", "persist.sys.vx.actual.rat": "31,1",
            "sys.vx.swap.nvram.standby": "0", "init.svc.rild0": "running",
            "init.svc.rild1": "running",
        }
        self.assertEqual(expected, props)
        history = p.history()
        self.assertEqual(([], history["layout_bytes"]), (history["damage"], history["bytes"]))
        self.assertEqual((0, 2), (history["reserved"], history["next_index"]))
        for slot, card in enumerate((CARD_A, CARD_B)):
            self.assertEqual(card["id"], history["slots"][slot])
            entry = history["entries"][slot]
            self.assertEqual((1, card["type"], card["imsi"], card["id"]),
                             (entry["status"], entry["type"], entry["imsi"], entry["id"]))

    def test_reboot_with_the_same_cards_uses_the_history_and_restarts_nothing(self):
        p = self.phone([CARD_A, CARD_B]).boot()
        first_files = (p.rild(0), p.rild(1))
        p.reboot()
        p.set_prop("init.svc.rild0", "running")
        p.set_prop("init.svc.rild1", "running")
        p.boot()
        self.assertEqual(2, p.log().count("Found a saved (U)SIM card info"))
        self.assertNotIn("AT+CIMI", p.commands())
        self.assertNotIn("AT^DTOC", p.commands())
        self.assertEqual(first_files, (p.rild(0), p.rild(1)))
        self.assertEqual([], p.init_log())
        self.assertTrue(p.has_message(
            "standby 1, oldDstmex is 1,0, this DSTMEX is 1,0 restartRIL = 0", "I"))

    def test_cards_swapped_between_slots_restart_both_rild_and_move_the_master(self):
        p = self.phone([CARD_A, CARD_B], rat=(31, 31)).boot()
        p.reboot(modem=scenario("two_cards", slots=[CARD_B, CARD_A], rat=[31, 31]))
        p.set_prop("init.svc.rild0", "running")
        p.set_prop("init.svc.rild1", "running")
        p.boot()
        self.assertEqual(["restart rild0", "restart rild1"], p.init_log())
        self.assertTrue(p.has_message(
            "standby 0, oldDstmex is 0,7,2,0, this DSTMEX is 1,0 restartRIL = 1", "I"))
        self.assertEqual("20", p.props()["persist.radio.vx.master.card"])
        self.assertEqual("1,31", p.props()["persist.sys.vx.actual.rat"])
        self.assertIn("rild.rat.DSTMEX = 0,7,2,0\n", p.rild(1))

    def test_capability_mismatch_swaps_the_nvram_and_fences_the_next_start(self):
        p = self.phone([CARD_B, CARD_A], rat=(31, 1), properties={
            "persist.sys.modem.reset": "0", "persist.sys.modem.reset.prompt": "1",
            "persist.sys.vx.check.imei": "1", "init.svc.rild0": "running",
            "init.svc.rild1": "running"})
        p.boot()
        self.assertTrue(p.has_message("is switch nvram(true)", "D"))
        self.assertFalse(any("AP and Modem are unmatched" in t for _, t in p.messages()))
        self.assertEqual(["AT^DLKS=1", "AT^DSRST"], p.commands()[-2:])
        sets = [t for _, t in p.messages() if t.startswith("set property: [persist.sys.modem")]
        self.assertEqual(["set property: [persist.sys.modem.reset]: [1]",
                          "set property: [persist.sys.modem.reset.prompt]: [0]",
                          "set property: [persist.sys.modem.reset]: [0]",
                          "set property: [persist.sys.modem.reset.prompt]: [1]"], sets)
        props = p.props()
        self.assertEqual("11", props["gsm.operator.mcard_switch"])
        self.assertEqual("1", props["sys.vx.swap.nvram.standby"])
        self.assertEqual("0", props["persist.sys.vx.check.imei"])
        self.assertTrue(p.has_message("sendAtSyncOk() parameter error: 1, 0, 0", "E"))
        self.assertTrue(p.has_message("IMEI[0] = , IMEI[1] = ", "D"))
        self.assertEqual([], p.init_log())
        self.assertTrue(p.has_message("startRildService g_isSwitchModem is 1, hotplug_sim: -1"))
        p.stop_daemon()
        p.boot(start_modem=False)
        self.assertEqual(0, p.wait_exit())
        self.assertTrue(p.has_message("switching master card now, wait for a while!"))

    def test_one_sim_with_two_standbys(self):
        p = self.phone([CARD_A], factory=b"121", rat=(31, 31)).boot()
        self.assertEqual("unknown", p.props()["persist.radio.multisim.config"])
        self.assertEqual(rild_file(2, 0, CARD_A, 1, 31, 30, "0,7,2", 0, 255), p.rild(0))
        self.assertEqual(rild_file(2, 0, None, 255, 1, 1, "1,0", 1, 1), p.rild(1))
        self.assertEqual("30,1", p.props()["persist.sys.vx.actual.rat"])
        self.assertEqual(["start rild0", "start rild1"], p.init_log())
        self.assertNotIn("AT^DMPCHN=1", p.commands())

    def test_empty_slot_pin_locked_card_and_a_late_status_report(self):
        modem = {"status_report": {"mode": "delayed", "delay_ms": 150,
                                   "status_noise": "\r\n+CREG: 1\r\n"}}
        p = self.phone([NO_CARD, dict(CARD_B, lock="pin")], modem=modem).boot()
        sent = p.transcript()
        self.assertFalse([c for c in sent if c.startswith("0 ") and c[2:] in
                          ("AT^DCID", "AT+CIMI", "AT^DTOC")])
        self.assertEqual(["1 AT^DCID", "1 AT+CIMI", "1 AT^DTOC"],
                         [c for c in sent if c[2:] in ("AT^DCID", "AT+CIMI", "AT^DTOC")])
        self.assertIn("[1]<< <CR><LF>+CREG: 1<CR><LF>", p.log())  # read by the status wait
        self.assertIn("rild.cardStatus = 0\n", p.rild(0))
        self.assertIn("rild.cardStatus = 1\nrild.cardType = 1\nrild.cardLocale = 255\n",
                      p.rild(1))
        # Named in its slot, but a card without IMSI is not added to the ring.
        history = p.history()
        self.assertEqual(CARD_B["id"], history["slots"][1])
        self.assertEqual(0, history["next_index"])

    def test_imei_check_repairs_a_zero_second_imei(self):
        modem = {"imei": ["867400020000010", "000000000000000"]}
        p = self.phone([CARD_A, CARD_B], modem=modem,
                       properties={"persist.sys.vx.check.imei": "1"}).boot()
        self.assertTrue(p.has_message("IMEI[0] = 867400020000010, IMEI[1] = 000000000000000"))
        self.assertIn("1 AT^DCGSNW=867400020000010", p.transcript())
        self.assertEqual("0", p.props()["persist.sys.vx.check.imei"])

    def test_start_up_costs_the_mandated_sleeps_plus_little(self):
        p = self.phone([CARD_A, CARD_B])
        p.start_modem()
        start = time.monotonic()
        p.boot()
        elapsed = time.monotonic() - start
        # 500 ms before the open and 100 ms after each of the two init requests.
        self.assertLess(elapsed, 0.7 + 1.0, "start-up took %.3f s" % elapsed)


if __name__ == "__main__":
    unittest.main()
