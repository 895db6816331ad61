"""Bug reports of host runs of the daemon as a phone's dumpstate writes them (mpharness.bugreport),
for radioplan's and the replay's end-to-end tests: a start of the two-card phone, and a reboot
with the card history; the modem's noise before one answer holds bytes logcat escapes.
"""
import atexit
import itertools
import json
import os
import pathlib
import shutil
import subprocess
import tempfile
import zipfile
import zlib

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
    _made["log"] = first
    log = bugreport.logcat(first)
    made = lambda name, *args, **kw: (  # noqa: E731
        bugreport.write(os.path.join(work, name), *args, **kw), plan)
    _made.update({"android" + r + kind: made(r + kind + ".zip", None if kind else props, log,
                                             release=r)  # full, and a user build's telephony
                  for r in bugreport.RELEASES for kind in ("", " user build")})
    _made.update({
        "zip": _made["android15"], "user build": _made["android15 user build"],
        "text without uid": made("a.txt", props, bugreport.logcat(first, uid=False), zipped=False,
                                 release="11"),
        "vendor": made("v.zip", bugreport.vendor_view(props, bugreport.daemon_names(Build())), log),
        "two starts": (made("b.zip", props2, bugreport.logcat(first + second))[0], plan2),
        # A device that logs the daemon to its main buffer.
        "main buffer": made("m.zip", props, log[:1], system_log=log[1:]),
        # The radio buffer rolled over in the middle of slot 0's query.
        "rolled over": made("r.zip", props, log[:1] + log[next(
            n for n, line in enumerate(log) if "[0]>> AT^DTOC" in line):]),
        # A user build's telephony report cut short in its log before the master card's decision.
        "cut short": made("c.txt", None, log, zipped=False, cut="persist.radio.vx.master.card"),
        "folder": made("f", props, log, zipped=None),
        "CR CR LF": made("crcrlf.txt", props, log, zipped=False, line_end="\r\r\n"),
        "UTF-16": made("u16.txt", props, log, zipped=False, encoding="utf-16", release="11"),
        # This boot's radio log holds nothing of the daemon; the previous boot's log holds it.
        "previous boot": made("p.zip", props, log[:1], last_logcat=log),
    })
    _made["two starts, first"] = (_made["two starts"][0], plan)
    return _made


def made_log():
    """The host log of the first start behind the made reports."""
    return made()["log"]


def unusable(directory):
    """(path, what the one line says) of files that are no usable bug report."""
    at = lambda name: os.path.join(directory, name)  # noqa: E731
    pathlib.Path(at("damaged.zip")).write_bytes(pathlib.Path(made()["zip"][0]).read_bytes()[:-200])
    report = {"t.txt": "------ SYSTEM PROPERTIES (getprop) ------\n", "main_entry.txt": "t.txt"}
    # 1 GiB and 1 MiB of text deflated to 1 MB, in an entry that declares 1000 bytes.
    deflate = zlib.compressobj(9, zlib.DEFLATED, -15)
    past = (deflate.compress(b"x" * 2**20) + deflate.flush(zlib.Z_FULL_FLUSH)) * 1025
    for name, entries, change in (
            ("unrelated.zip", {"notes.txt": "not a bug report"}, {}), ("nolog.zip", report, {}),
            ("flood.zip", {"main_entry.txt": "x" * 100000}, {}), ("encrypted.zip", report, {6: 1}),
            ("method.zip", report, {8: 77}), ("huge.zip", report, {22: 0xF0000000}),
            ("past.zip", dict(report, **{"t.txt": past + deflate.flush()}), {8: 8, 22: 1000})):
        zip_of(at(name), entries, change)
    bugreport.write(at("silent.zip"), {}, [
        "--------- beginning of radio", "12-06 04:20:37.123 radio  1234  1250 D RILJ    : hi"])
    log = bugreport.logcat(made_log())
    bugreport.write(at("rolled-user.zip"), None, log[:1] + log[40:])
    bugreport.write(at("kept.zip"), None, [  # more of the daemon's lines than are kept
        "12-06 07:20:00.000  1000  1234  1250 D modemprep: " + "x" * 15000] * 1200)
    return [(os.path.join(directory, name), why) for name, why in (
        ("damaged.zip", "damaged zip"), ("unrelated.zip", "a zip without main_entry.txt"),
        ("nolog.zip", "no line of the daemon: no RADIO LOG section"),
        ("silent.zip", "no line of the daemon in its sections RADIO LOG, SYSTEM LOG, EVENT LOG"),
        ("rolled-user.zip", "no plan: the multi-SIM digits are unknown"),
        ("flood.zip", "main_entry.txt holds 100000 bytes, not a file name"),
        ("encrypted.zip", "unreadable zip entry"), ("method.zip", "unreadable zip entry"),
        ("huge.zip", "t.txt declares 4026531840 bytes, past its limit of 1073741824: refused"),
        ("past.zip", "larger than 1024 MiB, the limit of a main text: refused"),
        ("kept.zip", "hold more than 16 MiB, the limit read of them: refused"))] + [(
        made()["previous boot"][0], "its LAST LOGCAT section (the previous boot) holds some: "
        "--previous-boot")]  # offered, never taken in place of this boot's


def zip_of(path, entries, change):
    """A zip of {name: text}; change: {offset in the first entry's local header: value} written in
    its local and central headers (its flags, compression method or declared size)."""
    with zipfile.ZipFile(path, "w") as z:
        for name, text in entries.items():
            z.writestr(name, text)
    data = bytearray(pathlib.Path(path).read_bytes())
    for (offset, value), at in itertools.product(change.items(), (0, data.index(b"PK\1\2") + 2)):
        width = 4 if offset >= 14 else 2
        data[at + offset:at + offset + width] = value.to_bytes(width, "little")
    pathlib.Path(path).write_bytes(bytes(data))
