#!/usr/bin/env python3
"""Replays one start of the daemon from a field radio log and compares the new run with it.

From the log it builds a fresh host root: the property store from the values the daemon read (a
name it found empty stays unset), the names whose every write was refused in the refusal list, the
factory file when the daemon took its digits from one, the old rild files' DSTMEX lines it
compared with, and the card history from --history. It then starts the simulator answering as the
modem did in the log (modemsim --log) and the current build/modemprep, sends the hot-plug
uevents of the log at their places, and compares the two runs line by line: the AT commands in
order, the property writes, the init requests and the decision lines (property reads, the modem's
answers and what legitimately differs between runs are left out). It prints "same" or the first
difference with context from both and the inputs the deciding code read there, and exits 0 or 1.

From a bug report (--bugreport, the zip or its main text) it replays the log section that holds the
daemon's lines (RADIO LOG, else SYSTEM LOG); the report's properties, the state after the run, fill
in only names the log never shows read, read back from a vendor integration's names through the
daemon's declarations (radioplan --names).

Run through scripts/replay.sh, which puts the harness package (tools/) on PYTHONPATH, or as the
installed modemprep-replay, which runs the installed programs.
"""
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

try:
    import mpharness
    from mpharness import Build, HarnessError, Phone
    from mpharness import bugreport
    from mpharness.cli import ArgumentParser, InputError, add_version, check_input
except ImportError:
    sys.exit("replay: the harness package mpharness is not importable: run scripts/replay.sh")

# A host run's root before the phone's paths.
ROOT = re.compile(r'(?<=")[^"]*?(?=/(dev/TTYEMS40|data/vantorel/|amt/))')
WRITES = ("written", "write failed")

CONTEXT = 3
SETTLE_S = 1.0        # quiet after the last logged line before the runs count as the same
STALL_MARGIN_S = 5.0  # quiet beyond the logged gap before the new run counts as stuck
EVENT_WAIT_CAP_S = 5.0  # the daemon only waits for uevents: longer logged pauses are cut
POLL_S = 0.02


# How the simulator's messages about the modem it plays from the log begin.
LOGGED_MODEM = "logged modem: "


class ReplayError(RuntimeError):
    """The log cannot be replayed (named file and reason)."""


def compared(record, root=None):
    """(kind, text) of a daemon line (a record of daemonlog) the comparison looks at; None for
    inputs and for what legitimately differs between runs."""
    text = record["message"]
    text = ROOT.sub("", text.replace(root, "") if root else text)
    kind = record["kind"]
    if kind == "traffic":
        return ("AT command", text) if record["direction"] == "sent" else None
    if kind in ("init request", "property") and record["op"] in WRITES:
        return ("init request" if kind == "init request" else "property write", text)
    if kind == "property" or record.get("varies"):
        return None
    # A time-out's clock readings differ between runs.
    return ("decision line", kind if kind == "time-out" else text)


def records(build, *argv):
    """The "log" record and the line records daemonlog reads from a log or a bug report."""
    try:
        return build.records(*argv)
    except HarnessError as e:
        raise ReplayError(str(e))


def read_log(build, path, boot):
    """The daemon's lines of one start of `path` as daemonlog's records; and the log's
    description."""
    return records(build, path, *(["--boot", str(boot)] if boot else []))


class Plan:
    """What the logged start implies about its inputs, and what the new run must repeat."""

    def __init__(self, lines):
        self.lines = lines
        self.expected = []     # (index in lines, kind, text)
        self.properties = {}   # the store at the start
        self.refused = []
        self.factory = None
        self.old_dstmex = {}   # standby -> DSTMEX texts of its old rild file
        # (position in expected, delay s, payload, log line, property changes before it)
        self.events = []
        self.notes = []
        self.history_read = True
        self.late_node = False
        self.seen = set()      # the names the log shows read or written
        self._infer()

    def _infer(self):
        # The property trail: the store as the log shows it, the names read, written and refused,
        # and the changes to make before the last event sent (None before the first event).
        self._store, self._read, self._written, self._failed = {}, set(), set(), {}
        self._pending = None
        rild_blocks = 0
        node_seen = False
        history = mpharness.daemon_path("HISTORY")
        for index, r in enumerate(self.lines):
            kind = r["kind"]
            self._note_expected(index, r)
            if not node_seen:
                self.late_node |= kind == "device" and r["op"] == "absent"
                node_seen = kind == "device" and r["op"] == "ready"
            self.history_read = self.history_read and not (
                kind == "open failure" and r["error"] == 2 and r["path"].endswith(history))
            rild_blocks += kind == "rild round"
            if kind == "rild file" and rild_blocks == 1:  # the files found at the start
                self.old_dstmex.setdefault(r["standby"], []).append(r["old"])
            if kind in ("property", "init request"):
                self._note_property(r)
        self.seen = self._read | self._written
        for name, count in sorted(self._failed.items()):
            if name in self._written:
                self.notes.append("%s was refused %d times and then written: the replay's store "
                                  "refuses all or none" % (name, count))
            else:
                self.refused.append(name)

    def _note_expected(self, index, r):
        """A uevent starts an event, sent after the logged gap; a compared line is expected."""
        ms = r.get("ms", -1)
        if r["kind"] == "hotplug" and not self._same_event(index, r["event"]):
            previous = self.expected[-1] if self.expected else None
            gap = ((ms - self.lines[previous[0]].get("ms", -1)) / 1000.0
                   if previous and ms >= 0 else 0.0)
            self._pending = {}
            self.events.append((len(self.expected), max(0.0, gap),
                                r["event"].replace(" ", "\0"), r["line"], self._pending))
        key = compared(r)
        if key:
            self.expected.append((index, key[0], key[1]))

    def _note_property(self, r):
        """A read fills the starting store (or shows a change from outside), a write the store."""
        kind, name, value, op = r["kind"], r["name"], r.get("value"), r["op"]
        if kind == "property" and name == role("factory_setting") and op in WRITES \
                and self.factory is None and len(value) == 3 and value.isdigit():
            self.factory = value.encode()
        if op not in WRITES:
            value = value if op == "read" else None
            if name not in self._read and name not in self._written:
                if value is not None:
                    self.properties[name] = value
                self._store[name] = value
            elif self._store.get(name) != value:
                self._changed_outside(name, value, r["line"], self._pending)
                self._store[name] = value
            self._read.add(name)
        elif op == "write failed":
            self._failed[name] = self._failed.get(name, 0) + 1
        elif kind == "init request":
            service = "init.svc." + value
            self._written.update((name, service))
            self._store[service] = "stopped" if name == "ctl.stop" else "running"
        else:
            self._written.add(name)
            self._store[name] = value

    def _same_event(self, index, message):
        """A uevent naming both slots is logged once per slot: the second line is not an event."""
        if "USIM0" not in message or "USIM1" not in message or index < 2:
            return False
        return self.lines[index - 2].get("event") == message

    def _changed_outside(self, name, value, number, pending_changes):
        if pending_changes is None:
            self.notes.append("%s read as %r at line %d, but nothing in the log set it: another "
                              "process changed it before any hot-plug event, which the replay "
                              "cannot time" % (name, value, number))
        else:
            pending_changes[name] = value


class ReplayPhone(Phone):
    """A phone whose modem is the simulator replaying the log."""

    def __init__(self, log_path, boot, fast, **kwargs):
        super().__init__(None, **kwargs)
        self.replay_args = ["--log", os.path.abspath(log_path)] + (
            ["--boot", str(boot)] if boot else []) + (["--fast"] if fast else [])

    def modem_args(self):
        return self.replay_args

    def send_raw_uevent(self, payload):
        """One datagram; retried for 5 s while the daemon has no socket open."""
        path = self.path(mpharness.UEVENT_SOCKET)
        deadline = time.monotonic() + 5
        with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as s:
            while True:
                try:
                    s.sendto(payload.encode("utf-8", "surrogateescape"), path)
                    return
                except (FileNotFoundError, ConnectionRefusedError):
                    if time.monotonic() > deadline:
                        raise ReplayError("%s: the daemon never opened its uevent socket" % path)
                    time.sleep(0.05)


class NewRun:
    """The new run's log, read as it grows."""

    def __init__(self, phone):
        self.phone = phone
        self.offset = 0
        self.text = b""      # its complete lines so far
        self.lines = []      # daemonlog's records, each with "wall": its time as time.time()
        self.got = []        # (index in lines, kind, text)
        self.last_new = time.monotonic()
        self.pending = b""
        # The daemon has its uevent socket set up (a datagram that comes while it binds the socket
        # may lack the credentials it checks).
        self.listening = False

    @staticmethod
    def wall_time(stamp):
        """The line's time (local time, this year) as time.time() counts."""
        year = time.localtime().tm_year
        stamp, _, ms = stamp.partition(".")
        day = time.strptime("%d-%s" % (year, stamp), "%Y-%m-%d %H:%M:%S")
        return time.mktime(day) + int(ms) / 1e3

    def poll(self):
        with open(self.phone.log_path, "rb") as f:
            f.seek(self.offset)
            data = f.read()
        self.offset += len(data)
        data = self.pending + data
        complete, newline, self.pending = data.rpartition(b"\n")
        if not newline:
            return
        self.text += complete + b"\n"
        try:
            _, lines = self.phone.build.records("--all", "-", text=self.text.decode(
                "utf-8", "surrogateescape"))
        except HarnessError:  # no line of the daemon yet
            lines = []
        self.lines, self.got = lines, []
        for index, r in enumerate(lines):
            r["wall"] = self.wall_time(r["time"])
            self.listening |= r["kind"] == "resident"
            key = compared(r, self.phone.root)
            if key:
                self.got.append((index, key[0], key[1]))
        self.last_new = time.monotonic()


def first_difference(expected, got, start=0):
    """Index of the first line that differs, or the shorter length; lines before `start` are
    known to match."""
    end = min(len(expected), len(got))
    i = start
    while i < end and expected[i][1:] == got[i][1:]:
        i += 1
    return i


def section_log(args, build, work):
    """The log section of the bug report that holds the daemon's lines (as radioplan takes it),
    written to a file in `work`: (its path, its description, the log's description and lines)."""
    saved = os.path.join(work, "section.log")
    info, lines = records(build, "--bugreport", args.bugreport, "--save-section", saved,
                          *(["--boot", str(args.boot)] if args.boot else []),
                          *(["--previous-boot"] if args.previous_boot else []))
    path = os.path.join(work, info["section"].lower().replace(" ", "_") + ".log")
    os.rename(saved, path)
    described = "%sthe %s section of %s (saved as %s; its line 1 is line %d of %s)" % (
        "the previous boot's log, " if info.get("previous_boot") else "", info["section"],
        args.bugreport, path, info["section_line"], info.get("main") or args.bugreport)
    return path, described, info, lines


def report_properties(path, plan, build, previous_boot=False):
    """Which integration the bug report's properties show; their values (the state after the
    run) go into the replay's store for the names the daemon reads that the log never shows
    read. Returns the notes."""
    names = bugreport.daemon_names(build)
    # radioplan reads them as the daemon does, vendor names translated back.
    result = subprocess.run([build.radioplan, "--bugreport", path, "--properties"] +
                            (["--previous-boot"] if previous_boot else []),
                            capture_output=True, text=True, timeout=30)
    if result.returncode != 0:
        raise ReplayError(result.stderr.strip().replace("radioplan: ", "", 1))
    seen = json.loads(result.stdout)
    kind, example, props = seen["integration"], seen["example"], seen["properties"]
    if kind == "vendor":
        notes = ["the phone runs the vendor integration: its property names (such as %s) are read "
                 "back as the daemon's through its declarations" % example]
    else:
        notes = ["the phone runs the platform integration (the daemon's own property names, such "
                 "as %s)" % example if kind else "the report's properties name none of the "
                 "daemon's: its integration is not known"]
    read = [p["name"] for p in names["properties"] if p["reads"]]
    filled = {name: value for name, value in sorted(props.items())
              if name not in plan.seen and any(bugreport.declared(r, name) is not None
                                              for r in read)}
    plan.properties.update(filled)
    if filled:
        notes.append("from the report's properties (the state after the run), names the log never "
                     "shows read: " + ", ".join("%s=%s" % item for item in filled.items()))
    return notes


def run(args, build):
    """A bug report's log section and the card histories carried from earlier starts are written
    to a directory of its own; the section is kept with the new run's root."""
    work = tempfile.mkdtemp(prefix="mpreport", dir="/tmp")
    status = None
    try:
        status = replay(args, build, work)
        return status
    finally:
        if not args.bugreport or not (status == 1 or (status == 0 and args.keep)):
            shutil.rmtree(work, ignore_errors=True)


def replay(args, build, work):
    notes, described = [], args.log
    if args.bugreport:
        args.log, described, info, lines = section_log(args, build, work)
        plan = Plan(lines)
        notes = report_properties(args.bugreport, plan, build, args.previous_boot)
    else:
        info, lines = read_log(build, args.log, args.boot)
        plan = Plan(lines)
    boot, starts = info.get("start", 1), info["starts"]
    print("replaying start %d of %d of %s (lines %s to %d; %s format; %s malformed lines skipped)"
          % (boot, len(starts), described, starts[boot - 1], lines[-1]["line"], info["format"],
             info["malformed"]), file=sys.stderr)
    plan.notes[:0] = notes
    history, unknown = args.history, None
    if plan.history_read and not history:
        history, unknown = carried_history(args, build, boot, work)
        plan.notes.append("the daemon read a card history: " + (
            "not known (%s), a difference is reported as unknown" % unknown if unknown else
            "the one the replays of the earlier starts of the log wrote"))
    for note in plan.notes:
        print("note: " + note, file=sys.stderr)
    phone, new = run_start(args, build, plan, boot, history)
    try:
        for line in phone.sim_report().splitlines():  # what the log could not say exactly
            if line.startswith("modemsim: " + LOGGED_MODEM + "line "):
                print("note: " + line.split(LOGGED_MODEM, 1)[1], file=sys.stderr)
        same = report(args, plan, new, phone, unknown)
    except BaseException:
        phone.close()
        raise
    if same and not args.keep:
        phone.close()
    else:
        print("the new run's root is kept: %s (log %s, modem report %s)"
              % (phone.root, phone.log_path, phone.sim_report_path))
        if args.bugreport:
            print("the replayed log is kept: %s" % args.log)
    return 0 if same else 1


def run_start(args, build, plan, boot, history):
    """The new run of start `boot` on a root as the plan and the card history file imply,
    followed to its end: (the stopped phone, its run)."""
    phone = ReplayPhone(args.log, boot, args.fast, properties=plan.properties,
                        factory=plan.factory, build=build)
    try:
        if plan.refused:
            with open(phone.path("/properties.refuse"), "w") as f:
                f.write("".join(name + "\n" for name in plan.refused))
        for standby, texts in plan.old_dstmex.items():
            with open(phone.path(mpharness.daemon_path("RILD_FILE") % standby), "w") as f:
                f.write("".join("rild.rat.DSTMEX = %s\n" % t for t in texts))
        if history:
            shutil.copyfile(history, phone.path(mpharness.daemon_path("HISTORY")))
        phone.start_modem(wait_ready=not plan.late_node)
        phone.start_daemon(env={"MODEMPREP_LOG_FORMAT": "threadtime"})
        new = follow(phone, plan, args)
        phone.stop_daemon()
        phone.stop_modem()
        return phone, new
    except BaseException:
        phone.close()
        raise


def carried_history(args, build, boot, work):
    """The card history start `boot` of the log read, when the log holds the starts before it:
    each earlier start replayed in order, the history its new run wrote carried into the next, as
    long as those replays agree with the log. (the file or None, why it cannot be known or None)"""
    if boot <= 1:
        return None, "the log holds no earlier start"
    history = None
    for earlier in range(1, boot):
        plan = Plan(read_log(build, args.log, earlier)[1])
        if plan.history_read and history is None:
            return None, "start %d of the log read one it does not hold" % earlier
        print("replaying start %d first, for the card history it leaves" % earlier, file=sys.stderr)
        phone, new = run_start(args, build, plan, earlier, history)
        try:
            if first_difference(plan.expected, new.got) < max(len(plan.expected), len(new.got)):
                return None, "the replay of start %d differs from the log" % earlier
            written = phone.history_bytes()
            if written is not None:
                history = os.path.join(work, "radio.cfg.%d" % earlier)
                with open(history, "wb") as f:
                    f.write(written)
        finally:
            phone.close()
    return history, None


def follow(phone, plan, args):
    """Runs until the new run differs (and shows a little more), stops, or matched every logged
    line and stayed quiet; sends the uevents as the new run reaches their places."""
    new = NewRun(phone)
    expected, events = plan.expected, list(plan.events)
    armed = None
    matched = 0
    started = last_progress = time.monotonic()
    while True:
        time.sleep(POLL_S)
        new.poll()
        now = time.monotonic()
        matched = first_difference(expected, new.got, matched)
        if events and matched >= events[0][0]:
            position, gap, payload, _, changes = events[0]
            if armed is None:  # when the new run logged the line the event followed
                armed = new.lines[new.got[position - 1][0]]["wall"] if position else time.time()
            wait = 0 if args.fast else min(gap, EVENT_WAIT_CAP_S)
            if matched == position and new.listening and time.time() - armed >= wait:
                for name, value in changes.items():
                    phone.set_prop(name, value or "")
                phone.send_raw_uevent(payload)
                events.pop(0)
                armed = None
        ended = phone.daemon.poll() is not None
        quiet = now - new.last_new
        if matched < min(len(expected), len(new.got)):  # a difference: show what follows it
            if len(new.got) >= matched + CONTEXT + 1 or quiet > SETTLE_S or ended:
                return new
        elif matched == len(expected):
            if len(new.got) > len(expected) or quiet > SETTLE_S or ended:
                return new
        elif ended or quiet > allowed_quiet(plan, matched, args):
            return new
        if now - last_progress > 5:
            last_progress = now
            print("replay: %d of %d lines matched, %.0f s"
                  % (matched, len(expected), now - started), file=sys.stderr)


def allowed_quiet(plan, matched, args):
    """How long the new run may stay quiet before the next logged line: the logged pause (the
    daemon's own waits happen in real time in both runs) and a margin."""
    if matched == 0:
        return 60 + STALL_MARGIN_S
    before = plan.lines[plan.expected[matched - 1][0]].get("ms", -1)
    after = plan.lines[plan.expected[matched][0]].get("ms", -1)
    if before < 0 or after < 0:
        return 70 + STALL_MARGIN_S  # no time stamps: the daemon's longest wait is 60 s
    return (after - before) / 1000.0 + STALL_MARGIN_S


def counts(expected):
    kinds = {}
    for _, kind, _ in expected:
        kinds[kind] = kinds.get(kind, 0) + 1
    return ", ".join("%ss: %d" % (kind, kinds.get(kind, 0)) for kind in
                     ("AT command", "property write", "init request", "decision line"))


# ---- Why the runs part: what the deciding code read ---------------------------------------------

class Inputs:
    """What one run had read before one of its lines (daemonlog's records)."""

    def __init__(self, lines, end):
        self.lines, self.end = lines, end

    def before(self):
        return (self.lines[k] for k in range(self.end - 1, -1, -1))

    def answer(self, command, standby=None):
        """(line number, what the modem sent) of the last `command` before the line."""
        for k in range(self.end - 1, -1, -1):
            r = self.lines[k]
            if (sent(r) and r["bytes"].replace("\r", "") == command
                    and standby in (None, r["standby"])):
                reads, saved = [], []
                for line in self.lines[k + 1:self.end]:
                    if sent(line):
                        break
                    reads += [line["bytes"]] if line["kind"] == "traffic" else []
                    saved += [line["message"]] if line["kind"] == "saved card" else []
                parts = "".join(reads).replace("\r", "").split("\n")
                words = " | ".join(p for p in parts if p) or "nothing"
                return r["line"], words + "".join("; " + text for text in saved[:1])
        return None, "not asked"

    def prop(self, name):
        for r in self.before():
            if r["kind"] == "property" and r["op"] not in WRITES and r["name"] == name:
                return r["line"], ('"%s"' % r["value"] if r["op"] == "read" else "unset" + (
                    ' (use default value "%s")' % r["value"] if r["op"] == "defaulted" else ""))
        return None, "not read"

    def identified(self):
        """The standby last asked a card's identity."""
        card_id = mpharness.daemon_names()["commands"]["card_id"]
        return next((r["standby"] for r in self.before() if sent(r) and
                     r["bytes"].startswith(card_id)), 0)

    def classes(self):
        """{slot: the record of the last class each card was given}."""
        out = {}
        for r in self.before():
            if r["kind"] == "card class" and r["slot"] not in out:
                out[r["slot"]] = r
        return out

    def target(self):
        return next((r["value"] for r in self.before() if r["kind"] == "property" and
                     r["op"] == "written" and r["name"] == role("published_target")), None)


def role(name):
    """The daemon's property of a role: the write of "factory_setting" carries the factory file's
    digits, "published_target" is the target published."""
    return mpharness.daemon_names()["roles"][name]


def sent(record):
    return record["kind"] == "traffic" and record["direction"] == "sent"


def in_words(record, labels):
    """A class line with the class's label: "... of card 1 is 3 (SIM, other domestic operator)"."""
    text = record["message"] if record else ""
    row = labels.get(record["class"]) if record and record["kind"] == "card class" else None
    return text if row is None else "%s (%s)" % (text, row["label"])


def class_change(logged, new, labels):
    """The class a card got in each run, and which of its inputs decides that difference."""
    if not (logged and new and logged["kind"] == new["kind"] == "card class" and
            logged["slot"] == new["slot"]):
        return []
    slot, old, now = logged["slot"], logged["class"], new["class"]
    head = "%s, expected %s" % (in_words(new, labels), in_words(logged, labels).split(" is ", 1)[1])
    if old not in labels or now not in labels:
        return [head]
    kind = [labels[n]["label"].split(",")[0] for n in (old, now)]
    answers = new["card"]["answers"]  # the status report's, the identity's, IMSI's and type's
    if 0 in (old, now):
        why = 'whether a card is there: the card-status report after "%s"' % answers[0]
    elif 1 in (old, now):
        why = 'an IMSI or type one run could not read: the "%s" and "%s" answers' % tuple(
            answers[2:4])
    elif labels[old]["type"] != labels[now]["type"]:
        why = 'the card\'s type (%s in the log, %s in the new run): the "%s" answer' % (
            kind[0], kind[1], answers[3])
    else:
        why = 'the card\'s home network: the "%s" answer, against the target\'s operator list' % (
            answers[2])
    return [head, "the class follows " + why + " on standby %d" % slot]


def deciding_inputs(plan, new, i, labels):
    """Lines naming what the deciding code read where the runs part: each input as the log and as
    the new run had it ("*" where they differ)."""
    records_at = [run.lines[seq[i][0]] if i < len(seq) else None
                  for run, seq in ((plan, plan.expected), (new, new.got))]
    runs = [Inputs(plan.lines, plan.expected[i][0] if i < len(plan.expected) else len(plan.lines)),
            Inputs(new.lines, new.got[i][0] if i < len(new.got) else len(new.lines))]
    out = class_change(records_at[0], records_at[1], labels)
    decision = next((r for r in records_at if r and ("inputs" in r or "card" in r)), None)
    if decision is None:
        return out
    inputs = []
    if "card" in decision:
        card = decision["card"]
        slot = card["slot"] if "slot" in card else runs[0].identified()
        inputs += [('"%s" answer on standby %d' % (c, slot), "answer", (c, slot))
                   for c in card["answers"]]
        inputs += [(name, "prop", (name,)) for name in card["properties"]]
    for spec in decision.get("inputs", []):
        if spec == "classes":
            for slot in (0, 1):
                inputs.append(("the class of card %d" % slot, "card_class", (slot,)))
        elif spec.startswith("AT"):
            inputs.append(('"%s" answer' % spec, "answer", (spec,)))
        else:
            inputs.append((spec, "prop", (spec,)))
    out.append("what the deciding code read (the log's and the new run's; * where they differ):")
    for label, kind, arguments in inputs:
        if kind == "card_class":
            values = [run.classes().get(arguments[0]) for run in runs]
            values = [(r["line"], in_words(r, labels).split(" is ", 1)[-1]) if r else
                      (None, "none") for r in values]
        else:
            values = [getattr(run, kind)(*arguments) for run in runs]
        (ln, lv), (nn, nv) = values
        if lv == nv:
            out.append("    %s: %s (log line %s, new run line %s)" % (label, lv, ln or "-", nn or "-"))
        else:
            out.append("  * %s: %s in the log (line %s); %s in the new run (line %s)"
                       % (label, lv, ln or "-", nv, nn or "-"))
    if not any(line.startswith("  * ") for line in out):
        out.append("every input is the same in both runs: this build decides otherwise than the "
                   "one that wrote the log")
    return out


def report(args, plan, new, phone, unknown=None):
    """Prints "same", or the first difference ("unknown" when an input the start read is not
    known: then the difference may be that input's)."""
    expected, got = plan.expected, new.got
    i = first_difference(expected, got)
    if i == len(expected) == len(got):
        print("same: %d lines compared (%s)" % (len(expected), counts(expected)))
        return True
    log_no = plan.lines[expected[i][0]]["line"] if i < len(expected) else None
    new_no = new.lines[got[i][0]]["line"] if i < len(got) else None
    verdict = ("unknown (the card history the daemon read is not known: %s; give --history)"
               % unknown if unknown else "different")
    if log_no is None and not any(line["kind"] == "resident" for line in plan.lines):
        # A log cut short (or a report taken mid-start) says nothing of what came after it.
        verdict = ("unknown (the log ends before the start did: what the daemon did after its "
                   "line %d is not in it)" % plan.lines[-1]["line"])
    if log_no is None:
        print("%s: the log ends at its line %d, the new run goes on at its line %d%s"
              % (verdict, plan.lines[-1]["line"], new_no,
                 " (or the log ends before that run did)" if verdict == "different" else ""))
    elif new_no is None:
        print("%s: at line %d of the log the new run had nothing more (it %s)"
              % (verdict, log_no, "ended" if phone.daemon.poll() is not None else "went quiet"))
    else:
        print("%s: line %d of the log, line %d of the new run" % (verdict, log_no, new_no))
    target = Inputs(plan.lines, len(plan.lines)).target()
    labels = {row["index"]: row for row in
              bugreport.daemon_names(phone.build)["card_classes"].get(target, [])}
    for line in deciding_inputs(plan, new, i, labels):
        print("  " + line)
    for title, seq, source in (("the log (%s)" % args.log, expected, plan.lines),
                               ("the new run (%s)" % phone.log_path, got, new.lines)):
        print(title + ":")
        for k in range(max(0, i - CONTEXT), min(len(seq), i + CONTEXT + 1)):
            line = source[seq[k][0]]
            print("  %s %6d  %s" % (">" if k == i else " ", line["line"], in_words(line, labels)))
        if i >= len(seq):
            print("  > (nothing)")
    sim_notes = [line for line in phone.sim_report().splitlines() if LOGGED_MODEM in line]
    if sim_notes:
        print("the logged modem:")
        for line in sim_notes[-6:]:
            print("  " + line.split(LOGGED_MODEM, 1)[1])
    return False


def check_history(build, path):
    """The card history through the one decoder (cardhist), refused as the other tools refuse it."""
    result = subprocess.run([build.cardhist, path], capture_output=True, text=True, timeout=60)
    if result.returncode != 0:
        raise ReplayError(result.stderr.strip().splitlines()[-1].replace("cardhist: ", "", 1))


def parse_args(bindir, prog, version):
    against = ("the programs installed beside it, or the build tree --build names" if bindir
               else "the current build")
    parser = ArgumentParser(
        prog=prog, description="Replay one start of the daemon from a radio log (logcat brief, "
        "time, threadtime or long format) against %s and compare the runs: AT commands, "
        "property writes, init requests and decision lines. Prints \"same\" and exits 0, or the "
        "first difference with context and exits 1." % against)
    add_version(parser, version)
    parser.add_argument("log", nargs="?", help="the radio log (logcat -b radio), other "
                        "processes' lines and malformed lines are skipped")
    parser.add_argument("--bugreport", metavar="FILE", help="instead of LOG: a bug report (adb "
                        "bugreport's zip or its main text); its RADIO LOG section (else its "
                        "SYSTEM LOG) is replayed, its properties fill in names the log never "
                        "shows read")
    parser.add_argument("--history", metavar="RADIO_CFG",
                        help="the card history (radio.cfg) pulled from the phone")
    parser.add_argument("--boot", type=int, default=0, metavar="N",
                        help="the Nth start of the daemon in the log (default: the last)")
    parser.add_argument("--previous-boot", action="store_true",
                        help="with --bugreport: the start in its LAST LOGCAT section, the "
                        "previous boot's log (never taken in place of this boot's)")
    parser.add_argument("--fast", action="store_true",
                        help="no waits but those the daemon timed out on")
    parser.add_argument("--keep", action="store_true", help="keep the new run's root")
    parser.add_argument("--build", metavar="DIR", help="an existing build tree whose programs "
                        "run (default: $MODEMPREP_BUILD; without either, %s)" % (
                            "the installed programs" if bindir else "build/ is brought up to "
                            "date first"))
    args = parser.parse_args()
    if args.boot < 0:
        parser.error("argument --boot: must be 1 or more")
    if (args.log is None) == (args.bugreport is None):
        parser.error("give a LOG or --bugreport FILE (one of them)")
    if args.previous_boot and not args.bugreport:
        parser.error("argument --previous-boot: goes with --bugreport")
    return args


def main(bindir=None, prog="replay", version=None):
    """bindir: the directory of the installed programs (modemprep-replay); else a build tree.
    version: the installed package's; else the build tree's daemon tells it."""
    args = parse_args(bindir, prog, version)
    try:
        for path in (args.log, args.history):
            if path:
                check_input(path)
        if args.bugreport:
            check_input(args.bugreport, folder=True)  # an unzipped report's folder
        if args.build or os.environ.get("MODEMPREP_BUILD"):
            build = Build(args.build).check()
        elif bindir:
            build = Build(bindir=bindir).check()
        else:
            build = Build().make("replay")
        if args.history:
            check_history(build, args.history)
        return run(args, build)
    except (InputError, ReplayError, HarnessError) as e:
        print("replay: %s" % e, file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 1


if __name__ == "__main__":
    sys.exit(main())
