"""Crashes: the real daemon killed (SIGKILL) at a file-changing call of a two-card start-up that
swaps the modem's NVRAM, then the phone rebooted and started again. Whatever the kill point, the
history is the old or the new one and valid, no rild file is partial, the property store parses,
the modem reset properties are back, and the end state equals that of an uninterrupted boot.

A kill keeps the page cache, so a power cut is checked by the order of the calls instead: every
file the daemon replaces is written and synced before its rename, and its directory synced after.
And a full data partition (ENOSPC through tools/crashpoint) during the swap, then a kill, must
neither damage a file nor leave the reset flags changed.

The points are counted and logged by tools/crashpoint (an LD_PRELOAD library) in a first run. By
default every third point is tried; MODEMPREP_CRASH_SWEEP=full tries them all.
"""
import concurrent.futures
import os
import pathlib
import re
import unittest

from mpharness import CARD_A, CARD_B, RADIO_DIR, RESIDENT_LINE, Build, Phone, scenario

STRIDE = 1 if os.environ.get("MODEMPREP_CRASH_SWEEP") == "full" else 3
RESET_FLAGS = {"persist.sys.modem.reset": "0", "persist.sys.modem.reset.prompt": "1"}
# Standby 1 wants the full set its stack lacks: the start-up swaps the NVRAM.
SWAPPING = scenario("two_cards", slots=[CARD_B, CARD_A], rat=[31, 1])
RECORD = RADIO_DIR + "/modem_reset.restore"
# The cards of an earlier boot, so that the history and rild files have an old content.
EARLIER = scenario("two_cards", slots=[dict(CARD_A, id="89860000000000000007",
                                            imsi="460007777777777"), CARD_B])


def radio_files(p):
    """The files a crash could damage besides the store: history and rild files."""
    return {n: p.file_bytes(RADIO_DIR + "/" + n) for n in ("radio.cfg", "rild.cfg0", "rild.cfg1")}


def sync_order(points, directory):
    """The files renamed into `directory`, and what is wrong with the order of the calls that
    replaced each: its data written, then synced, then the rename, then the directory synced
    before anything else there is renamed."""
    calls = [line.split(" ") for line in points]
    replaced, problems = set(), []
    for at, (call, *paths) in enumerate(calls):
        if call != "rename" or os.path.dirname(paths[1]) != directory:
            continue
        source, target = paths
        name = os.path.basename(target)
        replaced.add(name)
        opened = max(i for i, c in enumerate(calls[:at]) if c[0] == "open" and c[1] == source)
        own = [c[0] for c in calls[opened + 1:at] if c[1] == source]
        written = [i for i, c in enumerate(own) if c in ("write", "fwrite", "fflush")]
        synced = [i for i, c in enumerate(own) if c == "fsync"]
        if not written or not synced or synced[-1] < written[-1]:
            problems.append("%s renamed before its data were synced: %s" % (name, own))
        later = calls[at + 1:]
        until = next((i for i, c in enumerate(later) if c[0] == "rename"), len(later))
        if ["fsyncdir", directory] not in later[:until]:
            problems.append("%s: its directory not synced after the rename" % name)
    return replaced, problems


def end_state(p):
    """What a start-up leaves that must not depend on how the previous one ended: the radio
    files, the persistent properties, the init requests, and no temporary file anywhere."""
    return dict(radio_files(p), persist=[n for n in p.store_lines() if n.startswith("persist.")],
                init=p.init_log(), leftovers=[n for d in ("", RADIO_DIR) for n in os.listdir(
                    p.path(d)) if ".tmp" in n or n.endswith(".restore")])


class CrashTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.build = Build().check()
        # The earlier state every case starts from (the store as the reboot after it leaves it),
        # the uninterrupted boot's files, and its end state after a reboot and a start.
        # Then the same phone booted again with the same cards, which changes nothing.
        p = Phone(EARLIER, factory=b"221", build=cls.build, properties=RESET_FLAGS).boot()
        cls.earlier = radio_files(p)
        cls.earlier_store = "".join(n + "\n" for n in p.store_lines() if n.startswith("persist."))
        p.reboot()
        cls.unchanged_points = cls.points_of_a_boot(p)
        p.close()
        p = cls.swapping_phone()
        cls.points = cls.points_of_a_boot(p)
        cls.radio_dir = p.path(RADIO_DIR)
        cls.after_boot = radio_files(p)
        p.reboot()
        cls.end_state = end_state(p.boot())
        p.close()

    @classmethod
    def points_of_a_boot(cls, p):
        """The file-changing calls of a start-up until it is resident, "<call> <path>" each."""
        log = p.path("/log/points")
        p.start_modem()
        p.start_daemon(env=cls.build.crashpoint(log=log))
        p.wait_log(RESIDENT_LINE)
        return [line.split(" ", 1)[1] for line in pathlib.Path(log).read_text().splitlines()]

    @classmethod
    def swapping_phone(cls):
        """A phone about to swap its NVRAM, with the files of the earlier boot."""
        p = Phone(SWAPPING, factory=b"221", build=cls.build, properties=RESET_FLAGS)
        for name, content in cls.earlier.items():
            pathlib.Path(p.path(RADIO_DIR + "/" + name)).write_bytes(content)
        pathlib.Path(p.path("/properties")).write_text(cls.earlier_store)
        return p

    def crash_at(self, point):
        """Kills the start-up at `point`, checks what it left, reboots, starts again; the
        problems found, as text (empty when none)."""
        p = self.swapping_phone()
        problems = []
        try:
            p.start_modem()
            p.start_daemon(env=self.build.crashpoint(at=point))
            if p.daemon.wait(60) != -9:
                return ["not killed (status %s)" % p.daemon.returncode]
            for name, content in radio_files(p).items():
                if content not in (self.earlier[name], self.after_boot[name]):
                    problems.append("%s neither old nor new: %r" % (name, content and content[:80]))
            lines = p.store_lines()
            names = [line.split("=", 1)[0] for line in lines]
            if any("=" not in line for line in lines) or names != sorted(set(names)):
                problems.append("store does not parse: %r" % lines)
            p.reboot()
            end = end_state(p.boot())
            problems += ["after the next start, %s is %r, not %r" % (key, end[key], value)
                         for key, value in self.end_state.items() if end[key] != value]
        finally:
            p.close()
        return problems

    def test_every_kill_point_leaves_valid_files_and_the_next_start_recovers(self):
        self.assertGreater(len(self.points), 100)
        chosen = list(range(1, len(self.points) + 1, STRIDE))
        with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
            results = dict(zip(chosen, pool.map(self.crash_at, chosen)))
        failed = {"%d (%s)" % (n, self.points[n - 1]): r for n, r in results.items() if r}
        self.maxDiff = None
        self.assertEqual({}, failed)
        print("\n%d of %d kill points tried, no damage" % (len(chosen), len(self.points)))

    def test_every_replaced_file_is_synced_before_its_rename_and_its_directory_after(self):
        replaced, problems = sync_order(self.points, self.radio_dir)
        self.assertEqual({"radio.cfg", "rild.cfg0", "rild.cfg1", "modem_reset.restore"}, replaced)
        self.assertEqual([], problems)

    def test_a_full_partition_then_a_kill_at_the_reset_loses_nothing(self):
        """Every write under the radio directory fails (ENOSPC): the history and rild files stay as
        they were, and as what restores the reset flags cannot be recorded, the swap resets the
        modem without touching them, so that a kill during the reset leaves them as they were at
        every later boot. The next start, with room again, ends as an uninterrupted one. (Which
        card the run keeps in memory meanwhile: the golden run fault_history_is_a_directory.)"""
        p = self.swapping_phone()
        self.addCleanup(p.close)
        p.modem_scenario = dict(SWAPPING, reset={"never": True})  # the reset wait lasts 5 s
        p.start_modem()
        p.start_daemon(env=self.build.crashpoint(enospc=p.path(RADIO_DIR) + "/"))
        p.wait_log(">> AT^DSRST<CR>")
        p.stop_daemon()
        killed = p.texts()
        self.assertEqual((self.earlier, sorted(self.earlier)),
                         (radio_files(p), sorted(os.listdir(p.path(RADIO_DIR)))))
        for boot in range(3):  # after the kill, then after each of two later starts
            if boot:
                p.reboot(modem=SWAPPING)
                p.boot()
            with self.subTest(boot=boot):
                self.assertEqual(RESET_FLAGS, {n: p.props().get(n) for n in RESET_FLAGS})
                if boot:
                    self.assertEqual(self.end_state, end_state(p))
        self.assertTrue(any(re.fullmatch(r"fwrite\(\) fail: .*28 - No space left on device", t)
                            for t in killed), killed)
        for name in RESET_FLAGS:
            self.assertIn("%s left as it is for the reset: what restores it could not be recorded"
                          % name, killed)

    def test_flags_refused_back_keep_the_record_until_a_start_puts_them_back(self):
        """The store refuses "persist.sys.modem.reset" from "AT^DSRST" on: the swap cannot put it
        back and keeps the record; the next start, still refused, keeps it again; the first start
        with a healthy store puts both flags back and removes it."""
        p = self.swapping_phone()
        self.addCleanup(p.close)
        p.modem_scenario = dict(SWAPPING, reset={"never": True})  # the reset wait lasts 5 s
        p.start_modem()
        p.start_daemon()
        p.wait_log(">> AT^DSRST<CR>")
        refuse = pathlib.Path(p.path("/properties.refuse"))
        refuse.write_text("persist.sys.modem.reset\n")
        kept = ('the modem reset properties are not all back: "%s" kept for the next start'
                % p.path(RECORD))
        p.wait_log(kept, timeout=40)
        not_swapping = scenario("two_cards", slots=[CARD_B, CARD_A])
        for healthy in (False, True):
            if healthy:
                refuse.unlink()
            p.reboot(modem=not_swapping)
            p.boot()
            with self.subTest(healthy=healthy):
                self.assertIn("an NVRAM swap was interrupted: restoring the modem reset properties",
                              p.texts())
                self.assertEqual(not healthy, kept in p.texts())
                self.assertEqual(not healthy, os.path.exists(p.path(RECORD)))
        self.assertEqual(RESET_FLAGS, {n: p.props().get(n) for n in RESET_FLAGS})

    def test_an_unchanged_second_boot_replaces_no_file(self):
        """History and rild files already hold what the boot would write: nothing under the radio
        directory is written, synced or renamed."""
        self.assertEqual([], [line for line in self.unchanged_points if RADIO_DIR in line])
