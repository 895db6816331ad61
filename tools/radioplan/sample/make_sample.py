#!/usr/bin/env python3
"""Writes the phone-state sample that radioplan explains without a phone: what "adb shell getprop"
and "adb pull" of the daemon's files give on a phone with two cards (a USIM of the home operator in
slot 0, a SIM of the other domestic operator in slot 1), made by the daemon itself: one start of
the host build against the simulator's two-card scenario, factory digits 221. With --check it
compares instead of writing (exit 1 and the first file that differs).

    PYTHONPATH=tools python3 tools/radioplan/sample/make_sample.py [--check]
"""
import os
import sys

from mpharness import HISTORY, RADIO_DIR, Build, Phone, scenario
from mpharness.cli import ArgumentParser

HERE = os.path.dirname(os.path.abspath(__file__))


def phone_state(build):
    """{file name: bytes} as pulled from the phone after the daemon's start."""
    phone = Phone(scenario("two_cards"), factory=b"221", build=build)
    try:
        phone.boot()
        # getprop prints every property sorted by name, one "[name]: [value]" line each.
        dump = "".join("[%s]: [%s]\n" % item for item in sorted(phone.props().items()))
        files = {"getprop.txt": dump.encode(), "radio.cfg": phone.history_bytes()}
        for standby in (0, 1):
            files["rild.cfg%d" % standby] = phone.file_bytes("%s/rild.cfg%d" % (RADIO_DIR,
                                                                                standby))
        assert phone.file_bytes(HISTORY) == files["radio.cfg"]
        return files
    finally:
        phone.close()


def main():
    parser = ArgumentParser(prog="make_sample.py", description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true",
                        help="compare with the files in %s instead of writing them" % HERE)
    args = parser.parse_args()
    for name, content in phone_state(Build().check()).items():
        path = os.path.join(HERE, name)
        if not args.check:
            with open(path, "wb") as f:
                f.write(content)
        elif not os.path.exists(path) or open(path, "rb").read() != content:
            print("make_sample.py: %s differs from what the daemon makes now" % path,
                  file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
