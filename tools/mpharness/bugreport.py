"""Bug reports as a phone's dumpstate writes them: `adb bugreport` makes a zip whose main_entry.txt
names the main text; the text is a sequence of sections, each begun by a line
"------ TITLE (COMMAND) ------" and ended by the next one, or by "------ 0.612s was the duration
of 'TITLE' ------" where dumpstate timed it (a slow command, the logs). The logs are logcat's threadtime format with printable escapes (and the uid
column), the properties getprop's "[name]: [value]" lines.

write() makes bug reports from host runs of the daemon for the tests (make_text, logcat and
vendor_names give the pieces); the tools read them in C++ (radioplan's reader, through daemonlog
for the replay).
"""
import json
import os
import re
import subprocess
import zipfile

MAIN_ENTRY = "main_entry.txt"
HOST_LINE = re.compile(r"^(\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) (.*)$")
PHONE_PROPERTIES = {"ro.build.fingerprint": "test/phone/phone:15/TEST.01/1:user/release-keys",
                    "gsm.version.baseband": "MODEM.01", "persist.vendor.radio.adb_log_on": "0",
                    "ro.boot.hardware": "testphone",
                    "persist.vendor.camera.config": '{\n  "hdr": [1, 2]\n}'}


# ---- Making bug reports from host runs --------------------------------------------------------

def logcat_command(buffer, uid):
    return "logcat%s -v threadtime -v printable%s -d *:v" % (
        " -b " + buffer if buffer else "", " -v uid" if uid else "")


def printable(message):
    """What logcat's printable form writes for a message, as liblog's convertPrintable does: a tab
    stays, \\a \\b \\v \\f \\r \\\\ are named, any other control byte and every byte that is no
    part of a UTF-8 character is "\\x" with two upper-case hex digits (a digit may follow it)."""
    named = {"\a": "\\a", "\b": "\\b", "\v": "\\v", "\f": "\\f", "\r": "\\r", "\\": "\\\\"}
    out = []
    for c in message:
        code = ord(c) - 0xDC00 if 0xDC80 <= ord(c) <= 0xDCFF else ord(c)  # a stray byte
        if c in named:
            out.append(named[c])
        elif (code < 0x20 and c != "\t") or c != chr(code):
            out.append("\\x%02X" % code)
        else:
            out.append(c)
    return "".join(out)


def logcat(host_log, uid=True):
    """The host daemon's threadtime log as `logcat -b radio -v threadtime -v printable [-v uid]`
    prints the phone's: after the buffer's banner, among the lines of the phone's RIL and other
    processes (a multi-line Java entry, a byte that is no UTF-8, a control byte before a digit)."""
    lines = ["--------- beginning of radio"]
    for n, line in enumerate(host_log.splitlines()):
        m = HOST_LINE.match(line)
        if not m:
            continue
        stamp, column = m.group(1), "radio " if uid else ""
        if n % 8 == 0:
            lines.append("%s %s 1234  1250 D RILJ    : [0042]> GET_SIM_STATUS [PHONE%d]"
                         % (stamp, column, n % 2))
        if n % 50 == 7:
            lines += ["%s %s 2210  2210 E AndroidRuntime: %s" % (stamp, column, printable(text))
                      for text in ("FATAL EXCEPTION: main", "java.lang.IllegalStateException: "
                                   "caf\udce9 \x1b1", "\tat com.android.phone.Sim.read(Sim.java:42)")]
        head, _, message = m.group(2).partition(": ")
        lines.append("%s %s%s: %s" % (stamp, column, head, printable(message)))
    return lines


# What each dumpstate release writes in its header after "Radio:" (PrintHeader).
HEADERS = {
    "11": ["Network: (unknown)", "Kernel: Linux version 4.19.157 (build@host) #1 SMP PREEMPT",
           "Command line: console=ttyMSM0", "Uptime: up 0 weeks, 0 days, 0 hours, 5 minutes",
           "Bugreport format version: 2.0",
           "Dumpstate info: id=1 pid=4242 dry_run=0 args=-d bugreport_mode=%s"],
    "15": ["Network: (unknown)", "Android SDK version: 35", "SDK extensions: r=15 s=15 t=15",
           "Kernel: Linux version 6.1.75 (build@host) #1 SMP PREEMPT",
           "Command line: console=ttyMSM0", 'Bootconfig: androidboot.hardware = "testphone"',
           'androidboot.serialno = "TEST0001"', "Uptime: up 0 weeks, 0 days, 0 hours, 5 minutes",
           "Bugreport format version: 2.0", "Dumpstate info: id=1 pid=4242 dry_run=0 "
           "parallel_run=1 strict_run=1 args=-d bugreport_mode=%s"],
}
RELEASES = tuple(HEADERS)
BANNER = "=" * 56
# A dumpsys section as dumpstate and dumpsys print it: banners inside, bytes no text holds.
DUMPSYS = ("DUMPSYS", "/system/bin/dumpsys", [
    "-" * 79, "DUMP OF SERVICE connectivity:", "------ not a section ------ \x00\udcff",
    "--------- 0.004s was the duration of dumpsys connectivity, ending at: 2026-12-06 07:20:09"])


def make_text(sections, release="15", mode="BUGREPORT_FULL"):
    """A main text: `release`'s dumpstate header, then each (title, command, lines[, duration])
    section; a section with a duration ends with dumpstate's line of it (a command that ran half a
    second or more, or one dumpstate times always, as the logs), a string is a banner line."""
    header = [line.replace("%s", mode) for line in HEADERS[release]]
    out = [BANNER, "== dumpstate: 2026-12-06 07:20:00", BANNER, "", "Build: test-build",
           "Build fingerprint: '%s'" % PHONE_PROPERTIES["ro.build.fingerprint"],
           "Bootloader: unknown", "Radio: %s" % PHONE_PROPERTIES["gsm.version.baseband"]] + header
    out.append("")
    for section in sections:
        if isinstance(section, str):
            out += [BANNER, "== " + section, BANNER]
            continue
        title, command, lines = section[:3]
        out.append("------ %s (%s) ------" % (title, command))
        out += lines
        if len(section) > 3:
            out.append("------ %.3fs was the duration of '%s' ------" % (section[3], title))
    return "\n".join(out + [BANNER, "== dumpstate: done (id 1)", BANNER]) + "\n"


def layout(release, properties, radio_log, uid, system_log, last_logcat):
    """The sections in the order `release`'s dumpstate writes them: a full report (the logs, the
    properties, the services, a second SYSTEM LOG since the start), or without properties the
    telephony report of a user build (the radio log and connectivity services only)."""
    command = lambda buffer: logcat_command(buffer, uid)  # noqa: E731
    radio = ("RADIO LOG", command("radio"), radio_log, 0.612)
    services = ["Android Framework Services", DUMPSYS]
    if properties is None:
        return [radio, ("NETWORK DIAGNOSTICS", "dumpsys connectivity --diag", ["none"])] + services
    getprop = ["[%s]: [%s]" % item for item in sorted(dict(PHONE_PROPERTIES, **properties).items())]
    main = ["--------- beginning of main", "12-06 07:19:59.000  1000  1234  1250 I vold    : hi",
            "--------- beginning of system"]
    return [
        ("UPTIME", "uptime", ["up time: 00:05:00, idle time: 00:04:00, sleep time: 00:00:00"]),
        ("SYSTEM LOG", command(None), main + list(system_log)),
        ("EVENT LOG", command("events"), ["--------- beginning of events"], 0.503),
        ("STATS LOG", command("stats"), [], 0.001), radio,
        ("LOG STATISTICS", "logcat -b all -S", ["size/num main system crash radio"]),
        ("LAST LOGCAT", "logcat -L -b all -v threadtime -v printable -v uid -d *:v",
         last_logcat or ["logcat: no previous boot's log"]),
        ("SYSTEM PROPERTIES", "getprop", getprop)] + services + [
        ("SYSTEM LOG", "logcat -v threadtime -v printable -v uid -d *:v -T 2026-12-06 "
         "07:20:00.000", main[:2])]


def write(path, properties, radio_log, uid=True, zipped=True, system_log=(), cut=None,
          line_end="\n", encoding="utf-8", last_logcat=None, release="15"):
    """A bug report at `path` as `release`'s dumpstate lays it out (see layout): the radio log as
    the lines logcat gives; properties {name: value} as getprop prints them, among a phone's own
    (None: a user build's telephony report, without them), one vendor value on several lines;
    cut: the text ends before the first line holding it; zipped None: an unzipped report's
    folder; last_logcat: lines of the previous boot's log (LAST LOGCAT)."""
    mode = "BUGREPORT_TELEPHONY" if properties is None else "BUGREPORT_FULL"
    text = make_text(layout(release, properties, radio_log, uid, system_log, last_logcat),
                     release, mode)
    if cut is not None:
        text = text[:text.rindex("\n", 0, text.index(cut)) + 1]
    text = text.replace("\n", line_end)
    name = "bugreport-testphone-TEST.01-2026-12-06-07-20-00.txt"
    if zipped is None:
        os.makedirs(path)
        with open(os.path.join(path, MAIN_ENTRY), "w") as f:
            f.write(name)
        path_of_text = os.path.join(path, name)
    if not zipped:
        with open(path if zipped is False else path_of_text, "wb") as f:
            f.write(text.encode(encoding, "surrogateescape" if encoding == "utf-8" else
                                "surrogatepass"))
        return path
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("version.txt", "2.0")
        z.writestr(name, text.encode("utf-8", "surrogateescape"))
        z.writestr(MAIN_ENTRY, name)
        z.writestr("dumpstate_log.txt", "dumpstate_log.txt entry on zip file logged up to here\n")
    return path


def daemon_names(build):
    """The daemon's declarations (radioplan --names): properties with their vendor names,
    services, each target's card classes."""
    result = subprocess.run([build.radioplan, "--names"], capture_output=True, text=True,
                            timeout=30)
    if result.returncode != 0:
        from mpharness import HarnessError
        raise HarnessError("radioplan --names: %s" % result.stderr.strip())
    return json.loads(result.stdout)


def declared(pattern, name):
    """The number a "%d" pattern takes from name ("" for a plain one), or None when the pattern
    is not name's."""
    if not pattern.endswith("%d"):
        return "" if name == pattern else None
    m = re.fullmatch(re.escape(pattern[:-2]) + r"(\d{1,3})", name)
    return m.group(1) if m else None


def vendor_view(properties, names):
    """properties as a phone of the vendor integration holds them: each of the daemon's names moved
    to its vendor name."""
    out = {}
    for name, value in properties.items():
        for p in names["properties"]:
            number = declared(p["name"], name)
            if number is not None:
                name = p["vendor_name"][:-2] + number if number else p["vendor_name"]
                break
        out[name] = value
    return out


def main():
    """python3 -m mpharness.bugreport OUT: a bug report of one host start of the two-card phone,
    to try radioplan --bugreport and the replay without a phone."""
    import argparse
    import sys
    from mpharness import Build, HarnessError, Phone, scenario
    parser = argparse.ArgumentParser(prog="python3 -m mpharness.bugreport", description=main.__doc__
                                     .split(": ", 1)[1])
    parser.add_argument("out", help="the zip to write")
    parser.add_argument("--build", metavar="DIR", help="build tree (default: build/)")
    args = parser.parse_args()
    try:
        build = Build(args.build).check()
        phone = Phone(scenario("two_cards"), factory=b"221", build=build,
                      env={"MODEMPREP_LOG_FORMAT": "threadtime"})
        try:
            log, props = phone.boot().log(), phone.props()
        finally:
            phone.close()
        write(args.out, props, logcat(log))
    except HarnessError as e:
        print("bugreport: %s" % e, file=sys.stderr)
        return 1
    except OSError as e:
        print("bugreport: %s: %s" % (e.filename or args.out, e.strerror), file=sys.stderr)
        return 1
    print(args.out)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
