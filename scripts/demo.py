#!/usr/bin/env python3
"""Boots build/modemprep against the modem simulator and reports, for a person, what it did.

Run through scripts/demo.sh, which builds what it needs and puts the harness package (tests/)
on PYTHONPATH.
"""
import argparse
import json
import os
import shutil
import sys

try:
    from mpharness import SCENARIOS, Build, Phone
except ImportError:
    sys.exit("demo: the harness package mpharness is not importable: run scripts/demo.sh")

LOCALES = {1: "operator's own", 2: "same country", 3: "foreign", 4: "operator's own",
           5: "other", 6: "open market", 255: "undetermined"}
TYPES = {1: "SIM", 2: "USIM", 255: "undetermined"}
RATS = ((1, "gsm"), (2, "tdscdma"), (16, "wcdma"), (4, "lte_tdd"), (8, "lte_fdd"))


def rild_values(text):
    return dict(line.split(" = ", 1) for line in text.splitlines() if " = " in line)


def rat_names(mask):
    names = [name for bit, name in RATS if int(mask) & bit]
    return ",".join(names) or "none"


def report_cards(phone, slots):
    """Standby i's file carries the card of slot i."""
    print("Cards")
    for slot in range(slots):
        v = rild_values(phone.rild(slot))
        if v["rild.cardStatus"] != "1":
            print("  slot %d: no card" % slot)
            continue
        print("  slot %d: %s %s, %s card" % (slot, TYPES.get(int(v["rild.cardType"]), "?"),
                                            v["rild.cardID"],
                                            LOCALES.get(int(v["rild.cardLocale"]), "?")))


def report_standbys(phone, standbys):
    print("Master card: %s" % phone.props().get("persist.radio.vx.master.card", "(not set)"))
    print("Standbys")
    for standby in range(standbys):
        v = rild_values(phone.rild(standby))
        print("  standby %d (SIM slot %s): RATs %s, actual %s, DSTMEX %s" % (
            standby, v["rild.simSlot"], rat_names(v["rild.rat"]), rat_names(v["rild.actualRat"]),
            v["rild.rat.DSTMEX"]))


def report_files_and_requests(phone, standbys):
    for standby in range(standbys):
        print("rild.cfg%d" % standby)
        for line in phone.rild(standby).splitlines():
            print("  " + line)
    print("Init requests: %s" % ", ".join(phone.init_log()))


def hotplug(phone):
    print("\nHot-plug: removing the card of slot 1, then inserting it again")
    for action, count in (("remove", 1), ("insert", 2)):
        requests = len(phone.init_log())
        phone.control(action, "1")
        phone.wait_log("startRildService g_isSwitchModem is 0, hotplug_sim: 1", count=count)
        phone.wait_log("start rild1", count=count + 1)
        simio = [c for c in phone.commands() if c.startswith("AT+DSIMIO")][-1]
        card = rild_values(phone.rild(1))
        print("  %s: daemon sent %s on standby 1, rild1 now sees card status %s, init: %s" % (
            action, simio, card["rild.cardStatus"], ", ".join(phone.init_log()[requests:])))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("scenario", nargs="?",
                        default=os.path.realpath(os.path.join(SCENARIOS, "two_cards.json")))
    parser.add_argument("--msms", help="factory multi-SIM digits (default: from the slot count)")
    parser.add_argument("--keep", action="store_true", help="keep the root directory")
    args = parser.parse_args()
    with open(args.scenario) as f:
        modem = json.load(f)
    slots = len(modem.get("slots", []))
    msms = args.msms or ("221" if slots >= 2 else "111")
    standbys = int(msms[1])

    phone = Phone(modem, factory=msms.encode())
    try:
        print("Scenario %s, factory file \"%s\", root %s\n" % (args.scenario, msms, phone.root))
        phone.boot()
        report_cards(phone, min(int(msms[0]), standbys))
        report_standbys(phone, standbys)
        report_files_and_requests(phone, standbys)
        if slots >= 2 and standbys >= 2:
            hotplug(phone)
        log_dir = Build().path("demo")
        os.makedirs(log_dir, exist_ok=True)
        shutil.copy(phone.log_path, os.path.join(log_dir, "modemprep.log"))
        shutil.copy(phone.path("/modemsim.transcript"), os.path.join(log_dir, "at-transcript.txt"))
        shutil.copy(phone.path("/properties"), os.path.join(log_dir, "properties"))
        print("\nFull daemon log: %s (AT transcript and property store beside it)"
              % os.path.join(log_dir, "modemprep.log"))
    finally:
        if args.keep:
            phone.stop_daemon()
            phone.stop_modem()
            print("Root kept: %s" % phone.root)
        else:
            phone.close()


if __name__ == "__main__":
    main()
