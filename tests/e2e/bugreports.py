"""Bug reports of host runs of the daemon as a phone's dumpstate writes them (mpharness.bugreport),
for radioplan's and the replay's end-to-end tests: a start of the two-card phone, and a reboot
with the card history; the modem's noise before one answer holds bytes logcat escapes.
"""
import atexit
import json
import os
import pathlib
import shutil
import subprocess
import tempfile
import zipfile

from mpharness import HISTORY, REPO, Build, Phone, scenario
from mpharness import bugreport

MODEM = scenario("two_cards", faults=[
    {"command": "AT+CIMI", "standby": 1, "noise": "\r\n\x07+CREG: 1,\"00A1\"\\\x012\r\n"}])
_made = {}


def root_plan(phone):
    result = subprocess.run([Build().radioplan, "--root", phone.root, "--format", "json"],
                            capture_output=True, text=True, timeout=60)
    return json.loads(result.stdout)


def made():
    """{name: (path, radioplan --root of the run that made it)}, and "history": the second
    start's card history; made once per test process."""
    if _made:
        return _made
    work = tempfile.mkdtemp(prefix="mpbr", dir="/tmp")
    atexit.register(shutil.rmtree, work, True)
    phone = Phone(MODEM, factory=b"221", env={"MODEMPREP_LOG_FORMAT": "threadtime"})
    try:
        first, props, plan = phone.boot().log(), phone.props(), root_plan(phone)
        phone.reboot()
        second, props2, plan2 = phone.boot().log(), phone.props(), root_plan(phone)
        _made["history"] = shutil.copy(phone.path(HISTORY), os.path.join(work, "radio.cfg"))
    finally:
        phone.close()
    names = bugreport.daemon_names(Build())
    _made["log"] = first
    log = bugreport.logcat(first)
    cut = next(n for n, line in enumerate(log) if "[0]>> AT^DTOC" in line)
    path = lambda name: os.path.join(work, name)  # noqa: E731
    for release in bugreport.RELEASES:  # each release's full report, and telephony of a user build
        _made["android%s" % release] = (bugreport.write(path(release + ".zip"), props, log,
                                                        release=release), plan)
        _made["android%s user build" % release] = (bugreport.write(
            path(release + "u.zip"), None, log, release=release), plan)
    _made.update({
        "zip": _made["android15"], "user build": _made["android15 user build"],
        "text without uid": (bugreport.write(path("a.txt"), props, bugreport.logcat(
            first, uid=False), zipped=False), plan),
        "vendor": (bugreport.write(path("v.zip"), bugreport.vendor_view(props, names), log), plan),
        "two starts": (bugreport.write(path("b.zip"), props2, bugreport.logcat(first + second)),
                       plan2),
        # A device that logs the daemon to its main buffer.
        "main buffer": (bugreport.write(path("m.zip"), props, log[:1], system_log=log[1:]), plan),
        # The radio buffer rolled over in the middle of slot 0's query.
        "rolled over": (bugreport.write(path("r.zip"), props, log[:1] + log[cut:]), plan),
        # A user build's telephony report cut short in its log before the master card's decision.
        "cut short": (bugreport.write(path("c.txt"), None, log, zipped=False,
                                      cut="persist.radio.vx.master.card"), plan),
        "folder": (bugreport.write(path("f"), props, log, zipped=None), plan),
        "CR CR LF": (bugreport.write(path("crcrlf.txt"), props, log, zipped=False,
                                     line_end="\r\r\n"), plan),
        "UTF-16": (bugreport.write(path("u16.txt"), props, log, zipped=False, encoding="utf-16"),
                   plan),
    })
    _made["two starts, first"] = (_made["two starts"][0], plan)
    # This boot's radio log holds nothing of the daemon; the previous boot's log holds its start.
    _made["previous boot"] = (bugreport.write(path("p.zip"), props, log[:1], last_logcat=log),
                              plan)
    return _made


def made_log():
    """The host log of the first start behind the made reports."""
    return made()["log"]


def unusable(directory):
    """(path, what the one line says) of files that are no usable bug report."""
    good = made()["zip"][0]
    with open(good, "rb") as f:
        damaged = f.read()[:-200]
    files = {"damaged.zip": damaged}
    with zipfile.ZipFile(os.path.join(directory, "unrelated.zip"), "w") as z:
        z.writestr("notes.txt", "not a bug report")
    with zipfile.ZipFile(os.path.join(directory, "flood.zip"), "w") as z:
        z.writestr("main_entry.txt", "x" * 100000)
    bugreport.write(os.path.join(directory, "silent.zip"), {}, [
        "--------- beginning of radio", "12-06 04:20:37.123 radio  1234  1250 D RILJ    : hi"])
    files["nolog.txt"] = bugreport.make_text([("SYSTEM PROPERTIES", "getprop", [])]).encode()
    log = bugreport.logcat(made_log())
    bugreport.write(os.path.join(directory, "rolled-user.zip"), None, log[:1] + log[40:])
    for name, change in (("encrypted.zip", {6: 1}), ("method.zip", {8: 77}),
                         ("huge.zip", {22: 0xF0000000})):
        forged(os.path.join(directory, name), change)
    with zipfile.ZipFile(os.path.join(directory, "kept.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("main_entry.txt", "t.txt")
        z.writestr("t.txt", bugreport.make_text([("RADIO LOG", "logcat -b radio", [
            "12-06 07:20:00.000  1000  1234  1250 D modemprep: " + "x" * 60000] * 1200)]))
    for name, content in files.items():
        with open(os.path.join(directory, name), "wb") as f:
            f.write(content)
    return [(os.path.join(directory, name), why) for name, why in (
        ("damaged.zip", "damaged zip"), ("unrelated.zip", "a zip without main_entry.txt"),
        ("nolog.txt", "no line of the daemon: no RADIO LOG section"),
        ("silent.zip", "no line of the daemon in its sections RADIO LOG, SYSTEM LOG, EVENT LOG"),
        ("rolled-user.zip", "no plan: the multi-SIM digits are unknown"),
        ("flood.zip", "main_entry.txt holds 100000 bytes, not a file name"),
        ("encrypted.zip", "unreadable zip entry"), ("method.zip", "unreadable zip entry"),
        ("huge.zip", "t.txt declares 4026531840 bytes, past its limit of 1073741824: refused"),
        ("kept.zip", "hold more than 64 MiB, the limit read of them: refused"))]


def forged(path, change):
    """A zip whose main text's headers (local, then central) have {offset in the local header:
    value} changed: its flags, compression method or declared size."""
    with zipfile.ZipFile(path, "w") as z:
        z.writestr("main_entry.txt", "t.txt")
        z.writestr("t.txt", "------ RADIO LOG (logcat) ------\n")
        local = z.getinfo("t.txt").header_offset
    data = bytearray(pathlib.Path(path).read_bytes())
    central = data.rindex(b"PK\x01\x02")  # the last entry's
    for offset, value in change.items():
        width = 4 if offset >= 14 else 2
        for at in (local + offset, central + offset + 2):
            data[at:at + width] = value.to_bytes(width, "little")
    pathlib.Path(path).write_bytes(bytes(data))


