"""radioplan against the real daemon: on the root every recorded case leaves, it reports what the
daemon wrote; its matrix agrees with the daemon booted on sampled card pairs; the HTML matrix works
in a headless browser; bad input files get one line and exit status 2.
"""
import concurrent.futures
import html.parser
import json
import os
import shutil
import subprocess
import tempfile
import unittest

from mpharness import Build, Phone, scenario
from mpharness.golden import Run, case_names, load_case
from mpharness.history import HISTORY

RADIOPLAN = Build().path("tools", "radioplan", "radioplan")


def radioplan(*args):
    return subprocess.run([RADIOPLAN, *args], capture_output=True, text=True, timeout=60)


def plan_json(*args):
    result = radioplan(*args, "--format", "json")
    if result.returncode != 0:
        raise AssertionError("radioplan %s: exit %d: %s" % (args, result.returncode, result.stderr))
    return json.loads(result.stdout)


def rild_values(text):
    return dict(line.split(" = ", 1) for line in text.splitlines() if " = " in line)


def written_by_daemon(phone):
    """What the daemon left: its properties and each standby's rild file."""
    props = phone.props()
    rild = {}
    for standby in range(5):
        path = phone.path("/data/vantorel/radio/rild.cfg%d" % standby)
        if os.path.isfile(path):
            with open(path) as f:
                rild[standby] = rild_values(f.read())
    return props, rild


def differences(report, props, rild):
    """Where radioplan's report and the daemon's outputs disagree."""
    out = []
    if "persist.radio.vx.master.card" in props:
        if report["master"]["code"] != props["persist.radio.vx.master.card"]:
            out.append("master card %s, daemon %s" % (report["master"]["code"],
                                                     props["persist.radio.vx.master.card"]))
    if report["actual_rat_value"] != props.get("persist.sys.vx.actual.rat",
                                               report["actual_rat_value"]):
        out.append("actual RATs %s, daemon %s" % (report["actual_rat_value"],
                                                  props["persist.sys.vx.actual.rat"]))
    if report["profile"]["pref_net_type"] != props.get("persist.radio.pref.net.type", ""):
        out.append("preferred network type %r" % report["profile"]["pref_net_type"])
    for s in report["standbys"]:
        v = rild.get(s["standby"])
        if v is None:
            continue
        got = (str(s["slot"]), str(s["table_rat"]), str(s["actual_rat"]), s["dstmex"])
        want = (v["rild.simSlot"], v["rild.rat"], v["rild.actualRat"], v["rild.rat.DSTMEX"])
        if got != want:
            out.append("standby %d: slot, RATs, actual RATs, DSTMEX %s, daemon %s"
                       % (s["standby"], got, want))
    return out


def check_case(name):
    """Replays a recorded case with the current daemon, then explains the root it left."""
    run = Run(load_case(name))
    try:
        for step in run.case["steps"]:
            run.step(step)
        run.settle()
        report = plan_json("--root", run.phone.root)
        props, rild = written_by_daemon(run.phone)
        return report, differences(report, props, rild), bool(rild)
    finally:
        run.phone.close()


class RootOfEveryCase(unittest.TestCase):
    def test_radioplan_reports_what_the_daemon_wrote(self):
        names = case_names()
        with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
            results = dict(zip(names, pool.map(check_case, names)))
        explained = 0
        for name, (report, diffs, has_rild) in sorted(results.items()):
            with self.subTest(case=name):
                self.assertEqual([], diffs)
                # radioplan's own comparison finds nothing either.
                self.assertEqual([], report["observed"]["differences"])
                explained += has_rild
        self.assertGreater(explained, 30, "most cases leave rild files to compare with")


def kind_slot(kind, slot):
    if kind["type"] is None:
        return {"present": False}
    card = {"present": True, "id": "8986%d%s" % (slot, kind["name"]), "type": kind["type"],
            "imsi": kind["imsi"] or "460000000000000"}
    if kind["locked"]:
        card["lock"] = "pin"
    return card


class MatrixAgainstTheDaemon(unittest.TestCase):
    # (slot 0 kind, slot 1 kind) per target: every master-card rule and table column shape.
    SAMPLES = {
        "cmcc": [("sim-domestic", "usim-home"), ("usim-home", "usim-home"), ("pin", "sim-home"),
                 ("none", "sim-foreign"), ("sim-foreign", "usim-domestic")],
        "cucc": [("usim-home", "sim-domestic"), ("none", "none"), ("usim-domestic", "usim-foreign"),
                 ("sim-home", "pin")],
        "open": [("sim-home", "usim-foreign"), ("usim-home", "usim-domestic"), ("pin", "none")],
    }

    def test_sampled_cells_match_a_daemon_booted_with_those_cards(self):
        jobs = []
        for target, pairs in self.SAMPLES.items():
            matrix = plan_json("--matrix", "--target", target)
            kinds = {k["name"]: k for k in matrix["kinds"]}
            names = [k["name"] for k in matrix["kinds"]]
            for a, b in pairs:
                cell = matrix["cells"][names.index(a)][names.index(b)]
                jobs.append((target, a, b, cell, kinds))
        with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
            outcomes = list(pool.map(self.boot_cell, jobs))
        for (target, a, b, cell, _), (props, rild) in zip(jobs, outcomes):
            with self.subTest(target=target, slot0=a, slot1=b):
                self.assertEqual(cell["master"], props["persist.radio.vx.master.card"])
                self.assertEqual(cell["actual_rat_value"], props["persist.sys.vx.actual.rat"])
                for s in cell["standbys"]:
                    self.assertEqual(str(s["actual_rat"]), rild[s["standby"]]["rild.actualRat"])
                    self.assertEqual(s["dstmex"], rild[s["standby"]]["rild.rat.DSTMEX"])

    @staticmethod
    def boot_cell(job):
        target, a, b, _, kinds = job
        # The matrix assumes a modem offering every RAT on both standbys.
        modem = scenario("two_cards", slots=[kind_slot(kinds[a], 0), kind_slot(kinds[b], 1)],
                         rat=[31, 31])
        phone = Phone(modem, factory=b"221", properties={"persist.sys.vx.proj.target": target})
        try:
            phone.boot()
            return written_by_daemon(phone)
        finally:
            phone.close()


class Cells(html.parser.HTMLParser):
    """The matrix cells of a page as the browser serialised its DOM."""

    def __init__(self):
        super().__init__()
        self.cells, self.legend = [], False

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "td" and "cell" in a.get("class", ""):
            self.cells.append({"slot0": a["data-slot0"], "slot1": a["data-slot1"],
                               "master": a["data-master"], "standbys": []})
        elif tag == "div" and "sb" in a.get("class", "").split() and self.cells:
            self.cells[-1]["standbys"].append((a["data-rat"], a["class"].split()[1]))
        elif a.get("id") == "legend":
            self.legend = True


def chromium():
    return shutil.which("chromium") or shutil.which("chromium-browser")


@unittest.skipUnless(chromium(), "chromium is not installed (scripts/install-packages.sh chromium)")
class HtmlMatrixInABrowser(unittest.TestCase):
    def browser(self, *args):
        profile = tempfile.mkdtemp(prefix="rpchrome")
        try:
            return subprocess.run(
                [chromium(), "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking", "--disable-component-update",
                 "--disable-sync", "--user-data-dir=" + profile, *args],
                capture_output=True, text=True, timeout=120)
        finally:
            shutil.rmtree(profile, ignore_errors=True)

    def test_the_page_renders_every_cell_coloured_by_generation(self):
        matrix = plan_json("--matrix", "--target", "cmcc")
        work = tempfile.mkdtemp(prefix="rphtml")
        self.addCleanup(shutil.rmtree, work, ignore_errors=True)
        page = os.path.join(work, "matrix.html")
        with open(page, "w") as f:
            f.write(radioplan("--matrix", "--target", "cmcc", "--format", "html").stdout)
        dom = self.browser("--dump-dom", "file://" + page)
        self.assertEqual(0, dom.returncode, dom.stderr[-2000:])
        parsed = Cells()
        parsed.feed(dom.stdout)
        self.assertTrue(parsed.legend)
        expected = []
        for row in matrix["cells"]:
            for cell in row:
                colours = [("g4" if "4G" in s["generations"] else "g3" if "3G" in s["generations"]
                            else "g2" if "2G" in s["generations"] else "g0")
                           for s in cell["standbys"]]
                expected.append({"slot0": cell["slot0"], "slot1": cell["slot1"],
                                 "master": cell["master"],
                                 "standbys": [(str(s["actual_rat"]), c)
                                              for s, c in zip(cell["standbys"], colours)]})
        self.assertEqual(expected, parsed.cells)
        shot = os.path.join(work, "matrix.png")
        result = self.browser("--screenshot=" + shot, "--window-size=1400,1000", "file://" + page)
        self.assertEqual(0, result.returncode, result.stderr[-2000:])
        with open(shot, "rb") as f:
            png = f.read()
        self.assertEqual(b"\x89PNG", png[:4])
        self.assertGreater(len(png), 20000, "a page of coloured cells, not a blank one")


class BadInput(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="rpbad")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def file(self, name, content):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(content)
        return path

    def test_each_bad_file_gets_one_line_and_status_2(self):
        good = self.file("good.txt", b"[persist.sys.vx.proj.target]: [cmcc]\n")
        cases = [
            ("getprop dump missing", ["--props", os.path.join(self.dir, "nope.txt")],
             "No such file"),
            ("getprop dump is a directory", ["--props", self.dir], "is a directory"),
            ("getprop dump empty", ["--props", self.file("empty.txt", b"")], "empty"),
            ("getprop dump binary", ["--props", self.file("bin.txt", b"\x00\x01\x02")], "binary"),
            ("getprop dump cut short",
             ["--props", self.file("cut.txt", b"[ro.vx.msms]: [221]\n[persist.sys.vx.pro")],
             "line 2 is cut short"),
            ("getprop dump not getprop",
             ["--props", self.file("eq.txt", b"ro.vx.msms=221\n[a]: [b]\n")],
             "line 1 is not"),
            ("history missing",
             ["--props", good, "--history", os.path.join(self.dir, "radio.cfg")], "No such file"),
            ("history truncated",
             ["--props", good, "--history", self.file("short.cfg", bytes(100))], "truncated"),
            ("history too long",
             ["--props", good, "--history", self.file("long.cfg", bytes(3000))],
             "not a card history"),
            ("history empty", ["--props", good, "--history", self.file("zero.cfg", b"")],
             "empty"),
            ("rild file not one",
             ["--props", good, "--rild", self.file("rild.cfg0", b"rild.count = 2\n")],
             "rild.simSlot"),
            ("root missing", ["--root", os.path.join(self.dir, "none")], "No such file"),
        ]
        for what, args, reason in cases:
            with self.subTest(what):
                result = radioplan(*args)
                self.assertEqual(2, result.returncode)
                self.assertEqual("", result.stdout)
                lines = result.stderr.splitlines()
                self.assertEqual(1, len(lines), result.stderr)
                self.assertIn(reason, lines[0])
                self.assertTrue(lines[0].startswith("radioplan: " + self.dir)
                                or "nope" in lines[0], lines[0])


class PhoneState(unittest.TestCase):
    def test_a_pulled_state_explains_like_the_root_and_says_what_is_missing(self):
        phone = Phone(scenario("pin_locked"), factory=b"221")
        self.addCleanup(phone.close)
        phone.boot()
        dump = os.path.join(phone.root, "log", "getprop.txt")
        with open(dump, "w") as f:
            for name, value in sorted(phone.props().items()):
                f.write("[%s]: [%s]\r\n" % (name, value))
        from_root = plan_json("--root", phone.root)
        full = plan_json("--props", dump, "--history", phone.path(HISTORY))
        self.assertEqual(from_root["master"], full["master"])
        self.assertEqual(from_root["standbys"], full["standbys"])
        self.assertEqual([c["class"] for c in from_root["cards"]],
                         ["USIM, home operator (46000)",
                          "SIM, PIN- or PUK-locked: IMSI unreadable"])
        self.assertEqual([c["class"] for c in full["cards"]],
                         ["USIM, home operator (46000)",
                          "card of unknown type, PIN- or PUK-locked: IMSI unreadable"])
        bare = radioplan("--props", dump)
        self.assertEqual(0, bare.returncode)
        self.assertIn("Missing: no card history", bare.stdout)


if __name__ == "__main__":
    unittest.main()
