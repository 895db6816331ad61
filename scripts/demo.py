#!/usr/bin/env python3
"""Boots build/modemprep against the modem simulator and reports, for a person, what it did.

Run through scripts/demo.sh, which puts the harness package (tools/) on PYTHONPATH. Paths are
taken relative to the directory the command was typed in.
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import time

try:
    from mpharness import SCENARIOS, Build, HarnessError, Phone
    from mpharness.cli import ArgumentParser, InputError, add_version, check_input
except ImportError:
    sys.exit("demo: the harness package mpharness is not importable: run scripts/demo.sh")

MSMS_MEANING = ("the factory file's three digits: the number of SIM slots (0 to 5), the number "
                "of standbys, i.e. rild instances (0 to 5), and a third digit the daemon does "
                "not use")
# (SIM slots, standbys) pairs the daemon maps standbys to SIM slots for.
SUPPORTED_MODES = ((1, 1), (1, 2), (2, 2), (2, 3))
HOTPLUG_SLOT = 1
SETTLE_S = 0.5  # the log stays quiet this long once a reconfiguration has ended


class DemoError(Exception):
    """Something the user should hear about in one line (exit status 1)."""


def msms_digits(text):
    """argparse type of --msms: three digits, the first two counts from 0 to 5."""
    if not re.fullmatch(r"[0-9]{3}", text):
        raise argparse.ArgumentTypeError("%r: expected %s" % (text, MSMS_MEANING))
    if int(text[0]) > 5 or int(text[1]) > 5:
        raise argparse.ArgumentTypeError(
            "%r: the first two digits count SIM slots and standbys, 0 to 5 each" % text)
    return text


def parse_args():
    parser = ArgumentParser(
        prog="scripts/demo.sh", description=__doc__.splitlines()[0],
        epilog="--msms gives %s. E.g. 221: two SIM slots, two standbys (rild0, rild1); 111: one "
               "SIM slot, one standby. Without --build DIR or $MODEMPREP_BUILD the demo first "
               "installs the Debian packages the build needs (scripts/install-packages.sh "
               "--build) and brings build/ up to date (what cmake --install needs included; "
               "nothing is rebuilt when nothing changed). Exit status: 0 done, 1 the daemon, "
               "the simulator or a file failed (one line says which and why), 2 a bad command "
               "line." % MSMS_MEANING)
    add_version(parser)
    parser.add_argument("scenario", nargs="?", metavar="SCENARIO.json",
                        default=os.path.join(SCENARIOS, "two_cards.json"),
                        help="the modem simulator's scenario (default: two_cards.json of "
                             "tools/modemsim/scenarios)")
    parser.add_argument("--msms", type=msms_digits, metavar="DIGITS",
                        help="the factory file's digits (default: 221 when the scenario has "
                             "two slots or more, else 111)")
    parser.add_argument("--keep", action="store_true", help="keep the root directory")
    parser.add_argument("--files", action="store_true", help="also print the rild files whole")
    parser.add_argument("--out", metavar="DIR",
                        help="where the daemon's log, the AT transcript and the property store "
                             "are copied (default: <build>/demo)")
    parser.add_argument("--build", metavar="DIR",
                        help="an existing build tree whose programs run (default: "
                             "$MODEMPREP_BUILD; without either, build/ is built first)")
    return parser.parse_args()


def load_scenario(path):
    try:
        with open(check_input(path, "scenario")) as f:
            modem = json.load(f)
    except InputError as error:
        raise DemoError(str(error))
    except OSError as error:
        raise DemoError("scenario %s: %s" % (path, error.strerror))
    except ValueError as error:
        raise DemoError("scenario %s: not valid JSON: %s" % (path, error))
    if not isinstance(modem, dict) or not isinstance(modem.get("slots", []), list):
        raise DemoError("scenario %s: expected a JSON object whose \"slots\" is a list" % path)
    return modem


def slot_present(modem, slot):
    slots = modem.get("slots", [])
    return slot < len(slots) and isinstance(slots[slot], dict) and slots[slot].get("present")


class Run:
    """One boot of the demo: the phone, what the factory file asks for, the user's inputs."""

    def __init__(self, phone, modem, msms, show_files=False):
        self.phone, self.modem, self.msms = phone, modem, msms
        self.sim_count, self.standbys = int(msms[0]), int(msms[1])
        self.show_files = show_files

    def rild(self, standby):
        """The standby's rild file as a dict; empty when the daemon wrote none."""
        try:
            text = self.phone.rild(standby)
        except FileNotFoundError:
            return {}
        return dict(line.split(" = ", 1) for line in text.splitlines() if " = " in line)


# ---- report sections: each prints one part of the report from a Run ---------------------------
def report_mode(run):
    print("Factory file \"%s\": %d SIM slot%s, %d standby%s (the third digit is not used)"
          % (run.msms, run.sim_count, "" if run.sim_count == 1 else "s", run.standbys,
             "" if run.standbys == 1 else "s"))
    if (run.sim_count, run.standbys) not in SUPPORTED_MODES:
        print("Warning: the daemon maps standbys to SIM slots only for %s (slots/standbys); "
              "with %d/%d it logs \"Invalid (U)SIM(%d) and standby(%d).\" and gives every "
              "standby SIM slot -1 (none)." % (", ".join("%d/%d" % m for m in SUPPORTED_MODES),
                                                run.sim_count, run.standbys, run.sim_count,
                                                run.standbys))


def report_standbys(run):
    """Which SIM slot each standby serves for the factory digits given, from the rild files."""
    slots = [run.rild(standby).get("rild.simSlot") for standby in range(run.standbys)]
    served = ["standby %d on %s" % (standby, "no SIM slot" if slot in (None, "-1")
                                    else "SIM slot " + slot) for standby, slot in enumerate(slots)]
    if served:
        print("Standbys: " + ", ".join(served))
    if any(slot not in (None, "-1", str(standby)) for standby, slot in enumerate(slots)):
        print("  rild.cfgN's card fields describe the card of slot N all the same, whichever "
              "slot standby N serves (a slot the phone lacks: no card)")


def report_plan(run):
    """What the daemon decided and why, from the radio-plan explainer on the root it left (the
    same policy code the daemon runs)."""
    result = subprocess.run([run.phone.build.radioplan, "--root", run.phone.root, "--brief"],
                            capture_output=True, text=True)
    if result.returncode != 0:
        raise DemoError("radioplan --root %s: %s" % (run.phone.root, result.stderr.strip()))
    print(result.stdout.rstrip())


def report_files_and_requests(run):
    for standby in range(run.standbys if run.show_files else 0):
        try:
            text = run.phone.rild(standby)
        except FileNotFoundError:
            continue
        print("rild.cfg%d" % standby)
        for line in text.splitlines():
            print("  " + line)
    print("Init requests: %s" % (", ".join(run.phone.init_log()) or "none"))


def wait_reconfigured(phone, count, timeout=60):
    """Until the daemon has ended its `count`th reconfiguration for the slot: its rild step has
    run and the log has stayed quiet for a moment (the init requests follow that step)."""
    phone.wait_log("hotplug_sim: %d" % HOTPLUG_SLOT, timeout=timeout, count=count)
    size, quiet_since = -1, time.monotonic()
    while time.monotonic() - quiet_since < SETTLE_S:
        time.sleep(0.05)
        now = len(phone.log())
        if now != size:
            size, quiet_since = now, time.monotonic()


def report_hotplug(run):
    """The card of slot 1 taken out and put back, or put in and taken out when the scenario
    starts without it."""
    if run.sim_count <= HOTPLUG_SLOT:
        print("\nHot-plug: not shown (the daemon watches slot %d only with %d SIM slots or more)"
              % (HOTPLUG_SLOT, HOTPLUG_SLOT + 1))
        return
    present = slot_present(run.modem, HOTPLUG_SLOT)
    actions = ("remove", "insert") if present else ("insert", "remove")
    print("\nHot-plug: %s the card of slot %d, then %s it again"
          % ("removing" if present else "inserting", HOTPLUG_SLOT,
             "inserting" if present else "removing"))
    for count, action in enumerate(actions, 1):
        requests, log_from = len(run.phone.init_log()), len(run.phone.log())
        run.phone.control(action, str(HOTPLUG_SLOT))
        try:
            wait_reconfigured(run.phone, count)
        except AssertionError:
            raise DemoError("the daemon did not reconfigure after the %s of slot %d's card "
                            "within 60 s" % (action, HOTPLUG_SLOT))
        simio = [c for c in run.phone.transcript() if c.split(" ", 1)[-1].startswith("AT+DSIMIO")]
        sent = ("sent %s on standby %s" % tuple(reversed(simio[-1].split(" ", 1)))
                if simio else "sent no AT+DSIMIO")
        # The card in the slot's rild file, in the explainer's words for it.
        cards = explained(run)["cards"]
        seen = ("rild%d now sees %s" % (HOTPLUG_SLOT, cards[HOTPLUG_SLOT]["class"])
                if run.rild(HOTPLUG_SLOT) else "no standby serves slot %d" % HOTPLUG_SLOT)
        round_log = run.phone.log()[log_from:]
        round_records = run.phone.build.records("--all", "-", text=round_log)[1]
        swapped = any(r["kind"] == "rild round" and r["switch_modem"] == 1 for r in round_records)
        print("  %s: the daemon %s, %s; init: %s" % (
            action, sent, seen, ", ".join(run.phone.init_log()[requests:]) or "no request"))
        restarted = [r.split()[1] for r in run.phone.init_log()[requests:]
                     if r.startswith("restart ")]
        for service in restarted:
            print("    why %s restarted: %s" % (service, restart_reason(service, round_records)))
        if swapped:
            print("    NVRAM swapped and the modem reset (AT^DSRST): %s" % swap_reason(run,
                                                                                   round_records))
            if len(run.phone.init_log()) == requests:
                print("    no init request: after an NVRAM swap the daemon restarts no rild while "
                      "the modem resets; the rild files are rewritten all the same")


def restart_reason(service, round_records):
    """Why the daemon's log of one hot-plug round says it restarted rildN: its DSTMEX changed, or
    the hot-plug rule (a hot-plug restarts the running rild of the slot's standby whatever its
    file says)."""
    standby = int(service[len("rild"):])
    change = next((r for r in round_records
                   if r["kind"] == "rild file" and r["standby"] == standby), None)
    dstmex = ("its DSTMEX went from %s to %s" % (change["old"], change["new"])
              if change and change["old"] != change["new"] else
              "its DSTMEX stayed %s" % change["old"] if change else "")
    if any(r["kind"] == "rild hotplug restart" for r in round_records):
        return "a hot-plug restarts the running rild whatever its file says" + (
            " (%s)" % dstmex if dstmex else "")
    return dstmex or "the daemon asked for it"


def explained(run, *options):
    """The radio-plan explainer's report on the root the daemon left, as JSON."""
    result = subprocess.run([run.phone.build.radioplan, "--root", run.phone.root, *options,
                             "--format", "json"], capture_output=True, text=True)
    if result.returncode != 0:
        raise DemoError("radioplan --root %s: %s" % (run.phone.root, result.stderr.strip()))
    return json.loads(result.stdout)


def swap_reason(run, round_records):
    """Why the check swapped, from the radio-plan explainer given the capability the modem
    reported just before (the last "^DMCC:" answer of the round)."""
    # An answer may span reads: search what the modem sent as one text.
    received = "".join(r["bytes"] for r in round_records
                       if r["kind"] == "traffic" and r["direction"] == "received")
    reported = re.findall(r"\^DMCC: \d+,(\d+),\d+((?:,\d+)+)", received)
    if not reported:
        return "the modem's capability was not asked"
    count, caps = reported[-1]
    capability = ",".join(caps.split(",")[1:int(count) + 1])
    # The explainer speaks of a start-up; what it says of the switch flag is not for a hot-plug.
    reason = explained(run, "--capability", capability)["nvram"]["reason"]
    reason = reason.split(". gsm.operator")[0]
    return reason.split(": ", 1)[-1] + " (the modem reported %s)" % capability


SECTIONS = (report_mode, report_standbys, report_plan, report_files_and_requests,
            report_hotplug)


def keep_outputs(phone, out_dir):
    try:
        os.makedirs(out_dir, exist_ok=True)
        for source, name in ((phone.log_path, "modemprep.log"),
                             (phone.path("/modemsim.transcript"), "at-transcript.txt"),
                             (phone.path("/properties"), "properties")):
            if os.path.exists(source):
                shutil.copy(source, os.path.join(out_dir, name))
    except OSError as error:
        raise DemoError("%s: %s" % (error.filename, error.strerror))
    return os.path.join(out_dir, "modemprep.log")


def boot(phone, scenario_path):
    """Starts simulator and daemon; the simulator's complaints name the user's file, not the
    copy the harness hands it."""
    try:
        phone.start_modem()
    except HarnessError as error:
        reason = str(error).replace(phone.path("/log/scenario.json"), scenario_path)
        reason = re.sub(r"^modemsim did not start: '' ", "", reason).strip()
        raise DemoError("the simulator refused the scenario: %s" % reason)
    try:
        resident = phone.boot()
    except AssertionError:
        raise DemoError("the daemon was not resident within 60 s")
    if not resident:
        raise DemoError("the daemon ended with status %s before it was resident"
                        % phone.daemon.returncode)


def main():
    args = parse_args()
    modem = load_scenario(args.scenario)
    msms = args.msms or ("221" if len(modem.get("slots", [])) >= 2 else "111")
    named = args.build or os.environ.get("MODEMPREP_BUILD")
    build = Build(args.build).check() if named else Build().make("demo")
    out_dir = args.out or build.path("demo")
    phone = Phone(modem, factory=msms.encode(), build=build)
    log = None
    try:
        print("Scenario %s, root %s\n" % (args.scenario, phone.root))
        run = Run(phone, modem, msms, show_files=args.files)
        try:
            boot(phone, args.scenario)
            for section in SECTIONS:
                section(run)
        finally:
            if phone.log_path is not None:
                log = keep_outputs(phone, out_dir)
        print("\nFull daemon log: %s (AT transcript and property store beside it)" % log)
    except DemoError as error:
        if log is not None:
            error = DemoError("%s; the daemon's log: %s" % (error, log))
        raise error
    finally:
        if args.keep:
            phone.stop_daemon()
            phone.stop_modem()
            print("Root kept: %s" % phone.root)
        else:
            phone.close()


if __name__ == "__main__":
    try:
        main()
    except (DemoError, HarnessError) as error:
        sys.exit("demo: %s" % error)
    except BrokenPipeError:
        # The reader went away (demo.sh | head): nothing more to say to it.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        sys.exit(1)
    except KeyboardInterrupt:
        sys.exit(130)
