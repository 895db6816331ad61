"""Fault cases that sit out the daemon's long waits on a silent modem. The phones of one table are
booted side by side (the daemons only wait), so the file costs about its longest case.

Measured (wall clock of the whole start-up, 2 cores, phones booted side by side):
  capability "AT^DMCC?" silent 3 times      31.7 s  (3 time-outs of 10.01 s, 200 ms apart)
  "^DUSIMU" never reported for slot 0       62.0 s  (one 60.06 s read)
  "AT^DCID" / "AT+CIMI" / "AT^DTOC" silent  52.9 s  (5 time-outs of 10.01 s, 300 ms apart)
  line hung up for good at "AT^DCID"        ~101 s  (one open bound: 100 attempts 1 s apart)
"""
import unittest

from mpharness import CARD_A, CARD_B, Phone, boot_all

from .faultcase import FaultTest, modem


def silent(command, times):
    return {"command": command, "standby": 0, "silent": True, "times": times}


class SilentStagesTest(FaultTest):
    def test_a_silent_modem_at_each_stage(self):
        stages = {  # name: (faults, (time-outs, each of s), start-up bounds in s)
            "capability": ([silent("AT^DMCC?", 3)], (3, 10), (30, 36)),
            "status": ([{"command": "AT^DUSIMR=1", "standby": 0, "reply": "\r\nOK\r\n",
                         "times": 1}], (1, 60), (60, 66)),
            "card id": ([silent("AT^DCID", 5)], (5, 10), (51, 57)),
            "imsi": ([silent("AT+CIMI", 5)], (5, 10), (51, 57)),
            "card type": ([silent("AT^DTOC", 5)], (5, 10), (51, 57)),
            # The line hangs up for good: one open bound (100 attempts a second apart).
            "line gone": ([{"command": "AT^DCID", "standby": 0, "hangup": True}], (0, 0),
                          (100, 115)),
        }
        phones = {}
        for name, (faults, _, _) in stages.items():
            phones[name] = Phone(modem(faults=faults), factory=b"221")
            self.addCleanup(phones[name].close)
        took = dict(zip(phones, boot_all(list(phones.values()), timeout=120)))

        for name, (_, (count, bound), (low, high)) in stages.items():
            with self.subTest(name):
                p = phones[name]
                self.assertResident(p)
                self.assertTrue(low <= took[name] < high, took[name])
                waits = p.time_outs()
                self.assertEqual(count, len(waits), waits)
                for w in waits:
                    self.assertTrue(bound <= w < bound + 0.5, waits)
                self.assertEqual(["start rild0", "start rild1"], p.init_log())
                if name != "line gone":  # slot 1 is asked after slot 0's silence
                    self.assertIn("rild.cardID = %s\n" % CARD_B["id"], p.rild(1))
                getattr(self, "check_" + name.replace(" ", "_"))(p)

    def check_line_gone(self, p):
        self.assertEqual(100, sum("access device" in t for t in p.texts()))
        self.assertNotIn("AT+CIMI", p.commands())
        self.assertIn("rild.cardStatus = 1\nrild.cardType = 255\nrild.cardLocale = 255\n"
                      "rild.cardID = \n", p.rild(0))
        self.assertIn("rild.cardStatus = 0\n", p.rild(1))  # slot 1 could not be asked at all
        self.assertEqual("00", p.props()["gsm.operator.mcard_switch"])

    def check_capability(self, p):
        # No capability: only gsm survives the RAT filter.
        self.assertEqual("gsm", p.props()["ro.sys.vx.proj.rat"])
        self.assertTrue(p.has_message("using Modem RAT: 1", "D"))
        self.assertEqual(["AT^DMCC?"] * 3, p.commands()[1:4])
        self.assertIn("rild.cardID = %s\n" % CARD_A["id"], p.rild(0))

    def check_status(self, p):
        # The 60 s wait for "^DUSIMU" ends in a time-out: slot 0 counts as empty.
        sent = p.transcript()
        at = sent.index("0 AT^DUSIMR=1")
        self.assertEqual(["0 AT^DLKS=0", "0 AT^DUSIMR=0", "0 AT^DMPCHN=1"], sent[at + 1:at + 4])
        self.assertNotIn("0 AT^DCID", sent)
        self.assertIn("rild.cardStatus = 0\n", p.rild(0))
        self.assertIn("rild.cardStatus.other = 0\n", p.rild(1))

    def check_card_id(self, p):
        # No identity: no history lookup, IMSI and type still asked; nothing to remember.
        self.assertEqual(5, p.transcript().count("0 AT^DCID"))
        self.assertIn("0 AT+CIMI", p.transcript())
        self.assertIn("rild.cardStatus = 1\nrild.cardType = 2\nrild.cardLocale = 1\n"
                      "rild.cardID = \n", p.rild(0))
        history = p.history()
        self.assertEqual("", history["slots"][0])
        self.assertEqual(CARD_B["id"], history["entries"][0]["id"])

    def check_imsi(self, p):
        self.assertEqual(5, p.transcript().count("0 AT+CIMI"))
        self.assertIn("0 AT^DTOC", p.transcript())
        self.assertIn("rild.cardLocale = 255\n", p.rild(0))
        self.assert_named_not_remembered(p)

    def check_card_type(self, p):
        self.assertEqual(5, p.transcript().count("0 AT^DTOC"))
        self.assertIn("rild.cardType = 255\n", p.rild(0))
        self.assert_named_not_remembered(p)

    def assert_named_not_remembered(self, p):
        history = p.history()
        self.assertEqual(CARD_A["id"], history["slots"][0])
        self.assertEqual(CARD_B["id"], history["entries"][0]["id"])
        self.assertEqual({"status": 0, "type": 0, "locale": 0, "imsi": "", "id": ""},
                         history["entries"][1])


if __name__ == "__main__":
    unittest.main()
