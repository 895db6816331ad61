"""Bug reports as a phone's dumpstate writes them: `adb bugreport` makes a zip whose main_entry.txt
names the main text; the text is a sequence of sections, each begun by a line
"------ TITLE (COMMAND) ------" and, for a command, ended by "------ 0.052s was the duration of
'TITLE' ------". The logs are logcat's threadtime format with printable escapes (and the uid
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
        code = ord(c) - 0xDC00 + 0x80 if 0xDC80 <= ord(c) <= 0xDCFF else ord(c)  # a stray byte
        if c in named:
            out.append(named[c])
        elif (code < 0x20 and c != "\t") or c != chr(code):
            out.append("\\x%02X" % code)
        else:
            out.append(c)
    return "".join(out)


def logcat(host_log, uid=True):
    """The host daemon's threadtime log as `logcat -b radio -v threadtime -v printable [-v uid]`
    prints the phone's: after the buffer's banner, among the lines of the phone's RIL."""
    lines = ["--------- beginning of radio"]
    for n, line in enumerate(host_log.splitlines()):
        m = HOST_LINE.match(line)
        if not m:
            continue
        column = "radio " if uid else ""
        if n % 8 == 0:
            lines.append("%s %s 1234  1250 D RILJ    : [0042]> GET_SIM_STATUS [PHONE%d]"
                         % (m.group(1), column, n % 2))
        head, _, message = m.group(2).partition(": ")
        lines.append("%s %s%s: %s" % (m.group(1), column, head, printable(message)))
    return lines


def make_text(sections):
    """A main text: dumpstate's header, then each (title, command, lines) section with its
    duration line."""
    out = ["=" * 56, "== dumpstate: 2026-12-06 07:20:00", "=" * 56, "",
           "Build: test-build", "Build fingerprint: '%s'" % PHONE_PROPERTIES["ro.build.fingerprint"],
           "Radio: %s" % PHONE_PROPERTIES["gsm.version.baseband"], "Bugreport format version: 2.0", ""]
    for title, command, lines in sections:
        out.append("------ %s (%s) ------" % (title, command))
        out += lines
        out.append("------ 0.052s was the duration of '%s' ------" % title)
    return "\n".join(out) + "\n"


def write(path, properties, radio_log, uid=True, zipped=True, system_log=(), cut=None,
          line_end="\n", encoding="utf-8", last_logcat=None):
    """A bug report at `path` in dumpstate's section order (the logs, then the state): the radio
    log as the lines logcat gives; properties {name: value} as getprop prints them, among a
    phone's own (None: no SYSTEM PROPERTIES section, as a user build's telephony report), one
    vendor value on several lines; cut: the text ends before the first line holding it;
    zipped None: an unzipped report's folder. Reports of Android 11 and later end with a second
    SYSTEM LOG section (logcat -T); last_logcat: lines of the previous boot's log (LAST LOGCAT)."""
    command = lambda buffer: logcat_command(buffer, uid)  # noqa: E731
    state = [] if properties is None else [("SYSTEM PROPERTIES", "getprop", [
        "[%s]: [%s]" % item for item in sorted(dict(PHONE_PROPERTIES, **properties).items())])]
    tail = ("SYSTEM LOG", "logcat -v threadtime -v printable -v uid -d *:v -T 2026-12-06",
            ["--------- beginning of main", "12-06 07:20:01.000  1000  1234  1250 I vold    : hi"])
    text = make_text([
        ("SYSTEM LOG", command(None), ["--------- beginning of main"] + list(system_log)),
        ("EVENT LOG", command("events"), ["--------- beginning of events"]),
        ("RADIO LOG", command("radio"), radio_log),
        ("UPTIME", "uptime", ["up time: 00:05:00, idle time: 00:04:00, sleep time: 00:00:00"]),
    ] + state + [
        ("FILESYSTEMS & FREE SPACE", "df", ["Filesystem 1K-blocks Used Available Use% Mounted on"]),
        tail,
    ] + ([] if last_logcat is None else [
        ("LAST LOGCAT", "logcat -L -b all -v threadtime -v printable -v uid -d *:v", last_logcat)]))
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
