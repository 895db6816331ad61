"""The host-platform harness: the real modemprep daemon and the modem simulator in a fresh, short
root, for the end-to-end tests, the golden runs, the benchmark and the demo.

    from mpharness import Build, Phone, scenario

    phone = Phone(scenario("two_cards"), factory=b"221", build=Build("/tmp/other-build"))
    phone.boot()
    phone.props(), phone.init_log(), phone.rild(0), phone.history_bytes(), phone.transcript()
    phone.control("remove", "1"); phone.wait_log("start rild1", count=2)
    phone.close()

The directory holding this package (tests/) must be on the import path: the tests run from it
(python3 -m unittest e2e.test_startup), ctest sets it as their working directory, and
scripts/demo.sh and bench/run.sh put it on PYTHONPATH.
"""
from .build import Build, HarnessError, SCENARIOS, scenario
from .cards import CARD_A, CARD_B, absent
from .history import HISTORY
from .phone import RADIO_DIR, RESIDENT_LINE, Phone, boot_all

__all__ = ["Build", "HarnessError", "SCENARIOS", "scenario", "CARD_A", "CARD_B", "absent",
           "HISTORY", "RADIO_DIR", "RESIDENT_LINE", "Phone", "boot_all"]
