"""radioplan against the real daemon: on the root each golden run leaves it reports what the daemon
wrote (`unexplained`, asked by e2e.test_golden of every run it replays); its matrix agrees with the
daemon booted on sampled card pairs, whose getprop dumps it explains as their roots; bug reports of
host runs explain as the runs' roots (unusable ones: e2e.test_replay); the matrix renders in a
headless browser. (Bad input files: the command-line contract, e2e.test_tools.)
"""
import concurrent.futures
import json
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import unittest

from e2e import bugreports
from mpharness import HISTORY, Build, Phone, bugreport, scenario

RADIOPLAN = Build().path("tools", "radioplan", "radioplan")


def radioplan(*args):
    return subprocess.run([RADIOPLAN, *args], capture_output=True, text=True, timeout=60)


def plan_json(*args):
    result = radioplan(*args, "--format", "json")
    if result.returncode != 0:
        raise AssertionError("radioplan %s: exit %d: %s" % (args, result.returncode, result.stderr))
    return json.loads(result.stdout)


def written_by_daemon(phone):
    """What the daemon left: its properties and each standby's rild file."""
    return phone.props(), {
        s: dict(line.split(" = ", 1) for line in phone.rild(s).splitlines() if " = " in line)
        for s in range(5) if os.path.isfile(phone.path("/data/vantorel/radio/rild.cfg%d" % s))}


def disagreements(plan, props, rild):
    """Where a report or a matrix cell and what the daemon wrote disagree."""
    master = plan["master"]["code"] if isinstance(plan["master"], dict) else plan["master"]
    out = ["%s: %s, daemon %s" % (name, mine, props[name]) for name, mine in (
        ("persist.radio.vx.master.card", master),
        ("persist.sys.vx.actual.rat", plan["actual_rat_value"])) if props.get(name, mine) != mine]
    if "profile" in plan and plan["profile"]["pref_net_type"] != props.get(
            "persist.radio.pref.net.type", ""):
        out.append("preferred network type %r" % plan["profile"]["pref_net_type"])
    for s in plan["standbys"]:
        written = rild.get(s["standby"])
        # The keys the plan decides, as radioplan names them from the daemon's own key table.
        if written is not None and any(written.get(k) != v for k, v in s["rild"].items()):
            out.append("standby %d: %s, daemon %s" % (s["standby"], s["rild"], written))
    return out


def unexplained(run):
    """What radioplan --root says otherwise than the daemon wrote, or finds odd itself, on the
    root of a golden run (e2e.golden.Run)."""
    report = plan_json("--root", run.phone.root)
    return disagreements(report, *written_by_daemon(run.phone)) + report["observed"]["differences"]


class AgainstTheDaemon(unittest.TestCase):
    # (slot 0 kind, slot 1 kind) per target: every master-card rule and table column shape.
    SAMPLES = {
        "cmcc": [("sim-domestic", "usim-home"), ("usim-home", "usim-home"), ("pin", "sim-home"),
                 ("none", "sim-foreign"), ("sim-foreign", "usim-domestic")],
        "cucc": [("usim-home", "sim-domestic"), ("none", "none"), ("usim-domestic", "usim-foreign"),
                 ("sim-home", "pin")],
        "open": [("sim-home", "usim-foreign"), ("usim-home", "usim-domestic"), ("pin", "none")],
    }

    def test_sampled_matrix_cells_match_a_daemon_booted_with_those_cards_and_its_pulled_state(self):
        jobs = []
        for target, pairs in self.SAMPLES.items():
            matrix = plan_json("--matrix", "--target", target)
            kinds = {k["name"]: (n, k) for n, k in enumerate(matrix["kinds"])}
            jobs += [(target, [kinds[a][1], kinds[b][1]],
                      matrix["cells"][kinds[a][0]][kinds[b][0]]) for a, b in pairs]
        with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
            outcomes = list(pool.map(self.boot, jobs))
        for (target, _, cell), (props, rild, from_root, pulled, unpulled) in zip(jobs, outcomes):
            with self.subTest(target=target, slot0=cell["slot0"], slot1=cell["slot1"]):
                self.assertIn("persist.radio.vx.master.card", props)
                self.assertEqual(len(cell["standbys"]), len(rild))
                self.assertEqual([], disagreements(cell, props, rild))
                # A getprop dump and the history explain the phone as its root does.
                self.assertEqual(from_root, pulled)
                self.assertIn("Missing: no card history", unpulled)

    @staticmethod
    def boot(job):
        target, kinds, _ = job
        slots = [{"present": False} if k["type"] is None else dict(
            {"present": True, "id": "8986%d%s" % (n, k["name"]), "type": k["type"],
             "imsi": k["imsi"] or "460000000000000"}, **({"lock": "pin"} if k["locked"] else {}))
            for n, k in enumerate(kinds)]
        # The matrix assumes a modem offering every RAT on both standbys.
        phone = Phone(scenario("two_cards", slots=slots, rat=[31, 31]), factory=b"221",
                      properties={"persist.sys.vx.proj.target": target})
        try:
            props, rild = written_by_daemon(phone.boot())
            dump = pathlib.Path(phone.path("/log/getprop.txt"))
            dump.write_text("".join("[%s]: [%s]\r\n" % item for item in sorted(props.items())))
            from_root, pulled = (plan_json(*args) for args in (
                ["--root", phone.root], ["--props", dump, "--history", phone.path(HISTORY)]))
            return (props, rild, (from_root["master"], from_root["standbys"]),
                    (pulled["master"], pulled["standbys"]), radioplan("--props", dump).stdout)
        finally:
            phone.close()


def generations(plan, unknown=None):
    """Each standby's generations: "2G/3G/4G + 2G" (or each unknown)."""
    return " + ".join(unknown or s["actual_rats"].split()[0] for s in plan["standbys"])


def decided(plan, unknown=None):
    """The master card, each standby's generations, the RAT value, the NVRAM check."""
    return (unknown or plan["master"]["code"], generations(plan, unknown),
            unknown or plan["actual_rat_value"], unknown or plan["nvram"]["state"])


# The made reports: (report, what its record lacks, unknown or missing; what radioplan --bugreport
# says of it alone)
FLEET = [(name, "", []) for name in ("android11", "android11 user build", "folder",
                                     "text without uid", "CR CR LF", "UTF-16")] + [
    ("android15", "", ["printable escapes undone", "platform (", "standby 0: 8 commands, 8 OK",
                       "the daemon's error at line", "Phone: device phone, build test/phone/"]),
    ("android15 user build", "", ["Input: multi-SIM digits = 221 (the daemon's write of",
                                  "persist.radio.vx.master.card = unset (the daemon's read at"]),
    ("vendor", "", ["vendor (its property names"]),
    ("main buffer", "", ["lines in its SYSTEM LOG section"]),
    ("two starts", "slot 1: IMSI and type not recovered", []),
    ("rolled over", "no start of the daemon", []),
    ("cut short", "persist.radio.vx.master.card is unknown: the logged start holds no read of it "
     "and the report no SYSTEM PROPERTIES", ["Master card: unknown", "NVRAM: unknown"])]

class FromBugreport(unittest.TestCase):
    def test_an_option_takes_the_start_or_the_history_it_names(self):
        made = bugreports.made()
        for name, args, says in (
                ("two starts", ["--history", made["history"]], "card history " + made["history"]),
                ("two starts, first", ["--boot", "1"], "start 1 of 2"),
                ("previous boot", ["--previous-boot"], "the previous boot's log, not this boot's")):
            with self.subTest(name, args=args):
                plan = plan_json("--bugreport", made[name][0], *args)
                self.assertEqual((decided(made[name][1]), []), (decided(plan), plan["missing"]))
                self.assertIn(says, radioplan("--bugreport", made[name][0], *args).stdout)

    @classmethod
    def setUpClass(cls):
        """A folder of reports, the made ones linked by name, and two --fleet runs' records."""
        cls.made, cls.fleet = bugreports.made(), tempfile.mkdtemp(prefix="mpfleet", dir="/tmp")
        cls.addClassCleanup(shutil.rmtree, cls.fleet, True)
        for name, _, _ in FLEET:
            os.symlink(cls.made[name][0], os.path.join(cls.fleet, cls.link(name)))
        cls.unusable = [(os.path.basename(p), why) for p, why in bugreports.unusable(cls.fleet)]
        os.symlink(cls.made["previous boot"][0], os.path.join(cls.fleet, cls.unusable[-1][0]))
        os.mkdir(os.path.join(cls.fleet, "2026-12"))  # reports a level further down: not read
        cls.unusable.append(("2026-12", "a folder without a readable main_entry.txt"))
        cls.runs = [radioplan("--fleet", cls.fleet).stdout for _ in range(2)]
        cls.records = {os.path.relpath(r["path"], cls.fleet): r
                       for r in map(json.loads, cls.runs[0].splitlines())}

    @classmethod
    def link(cls, name):
        return name + os.path.splitext(cls.made[name][0])[1]

    def test_a_fleet_gets_one_record_per_report_as_the_runs_planned_or_why_not(self):
        records = self.records
        self.assertEqual(sorted([self.link(n) for n, _, _ in FLEET] + [
            n for n, _ in self.unusable]), list(records), "one record per report, in name order")
        for name, lacks, says in FLEET:
            with self.subTest(name):
                r, unknown = records[self.link(name)], "unknown" if "is unknown" in lacks else None
                self.assertEqual(("partly unknown" if unknown else "planned", decided(
                    self.made[name][1], unknown)), (r["outcome"], tuple(r[k] for k in (
                        "master", "standbys", "actual_rat_value", "nvram"))))
                self.assertEqual((bugreport.PHONE_PROPERTIES["ro.build.fingerprint"], "phone",
                                  "MODEM.01", "2026-12-06 07:20:00",
                                  {"two starts": 2, "rolled over": 0}.get(name, 1)),
                                 tuple(r["phone"][k] for k in (
                                     "fingerprint", "device", "baseband", "taken", "start")))
                self.assertRegex(r["phone"]["start_time"], r"^\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}$")
                lacking = json.dumps([r["unknown"], r["missing"]])
                self.assertTrue(lacks in lacking if lacks else lacking == "[{}, []]", lacking)
                text = radioplan("--bugreport", self.made[name][0]).stdout if says else ""
                for words in says:
                    self.assertIn(words, text)
        for name, why in self.unusable:  # the record's reason is the one line of the report alone
            with self.subTest(name):
                path, r = os.path.join(self.fleet, name), records[name]
                alone = radioplan("--bugreport", path)
                self.assertEqual(("unusable", 1, "", "radioplan: %s: %s\n" % (path, r["reason"])),
                                 (r["outcome"], alone.returncode, alone.stdout, alone.stderr))
                self.assertIn(why, r["reason"])

    def test_the_summary_of_two_runs_counts_each_outcome_and_why(self):
        # Both runs' records concatenated, a record stripped of its fields between them.
        summary = subprocess.run([RADIOPLAN, "--summary"], input=self.runs[0] + '{"outcome": '
                                 '"planned"}\n' + self.runs[1], capture_output=True, text=True,
                                 timeout=60).stdout
        planned = [lacks for _, lacks, _ in FLEET if "is unknown" not in lacks]
        root = self.made["android15"][1]  # standby 1 fell back to 2G by its card's row and column
        for says in ("%d reports (1 line skipped as no record, the first at standard input "
                     "line %d)" % (2 * len(self.records), len(self.records) + 1),
                     "\npartly unknown: 2 reports\n",
                     "\nplanned: %d reports, %d of them with inputs missing" % (
                         2 * len(planned), 2 * sum(map(bool, planned))),
                     "\n  %d  %s: %s" % (2 * len(planned), generations(root),
                                         root["standbys"][0]["reasons"][0]),
                     "\nunusable: %d reports\n" % (2 * len(self.unusable))):
            self.assertIn(says, summary)
        for _, why in self.unusable:  # sizes and counts aside, each reason in a row
            self.assertRegex(summary, r"\n  2  .*" + re.escape(re.sub(r"\d{3,}", "N", why)))


CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")


@unittest.skipUnless(CHROMIUM, "chromium is not installed (scripts/install-packages.sh chromium)")
class HtmlMatrixInABrowser(unittest.TestCase):
    def test_the_page_renders_every_cell_coloured_by_generation(self):
        work = self.enterContext(tempfile.TemporaryDirectory(prefix="rphtml"))
        page, shot = os.path.join(work, "matrix.html"), os.path.join(work, "matrix.png")
        html = radioplan("--matrix", "--target", "cmcc", "--format", "html").stdout
        self.assertNotIn("http", html, "the page fetches nothing from elsewhere")
        pathlib.Path(page).write_text(html)
        browser = subprocess.run(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--user-data-dir=" + os.path.join(work, "profile"), "--dump-dom",
             "--screenshot=" + shot, "--window-size=1400,1000", "file://" + page],
            capture_output=True, text=True, timeout=120)
        self.assertEqual(0, browser.returncode, browser.stderr[-2000:])
        dom = browser.stdout
        self.assertIn('id="legend"', dom)
        cells = [c for row in plan_json("--matrix", "--target", "cmcc")["cells"] for c in row]
        self.assertEqual([(c["slot0"], c["slot1"], c["master"]) for c in cells], re.findall(
            r'<td class="cell" data-slot0="(.*?)" data-slot1="(.*?)" data-master="(.*?)"', dom))
        # Each standby coloured by its highest generation.
        self.assertEqual(
            [("g" + max(re.findall(r"(\d)G", s["generations"]) or "0"), str(s["actual_rat"]))
             for c in cells for s in c["standbys"]],
            re.findall(r'<div class="sb (g\d)" data-standby="\d" data-rat="(\d+)"', dom))
        self.assertGreater(os.path.getsize(shot), 20000, "coloured cells, not a blank page")

