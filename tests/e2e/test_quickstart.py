"""What a newcomer runs first: every shell block of README.md and docs/*.md as printed (the build
tree `build` becomes the one under test; a block whose first line says "# needs: ..." is skipped;
the CI scripts run with --help only), a text block right after a shell block compared with its
output; the demo on every shipped scenario; the phone-state sample radioplan ships is what the
daemon makes now."""
import glob
import json
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import unittest

from mpharness import REPO, SCENARIOS, Build

# Scripts that run the whole suite, install tool chains or take minutes: shown, run with --help.
CI_SCRIPTS = ("scripts/test.sh", "scripts/ci-android.sh", "scripts/ci-arm64.sh", "bench/run.sh",
              "tests/fuzz/run.sh", "python3 -m scripts.mutants")
# What a block must print besides ending with status 0, by a command it holds.
EXPECTED = {
    "modemsim ctl remove 1": (
        "persist.radio.multisim.config=dsds\n", "init.svc.rild1=running\n",
        "start rild0\nstart rild1\n", "rild.cardStatus = 0\n", "rild.cardStatus.other = 1\n",
        "restart rild1\n", "  slot 1: no card\n", "sound: no damage found\n"),
    "--props $S/getprop.txt": ("Against what the state holds\n  agrees on all 10 values",),
    "scenarios/no_cards.json": ("no init request: after an NVRAM swap the daemon restarts no",),
    "--msms 121": ("Standbys: standby 0 on SIM slot 0, standby 1 on SIM slot 0\n",
                   "rild.cfg1's card fields still describe slot 1, which this phone lacks"),
    "modemprep-replay": ("same: ",),
}
# Read in a terminal: the README fits a few screens; prose and tables of the README and of the
# manuals it sends to keep to 100 columns (a matrix generated for HTML, with <br> cells, may not).
README_LINES, COLUMNS = 250, 100
TERMINAL_DOCS = ("README.md", "docs/radioplan.md", "docs/replay.md", "docs/architecture.md")
BLOCK = re.compile(r"^```sh\n(.*?)^```\n(?:\n```text\n(.*?)^```\n)?", re.S | re.M)


def shell_blocks():
    """(file, block, the text block shown as its output or None) of README.md and docs/."""
    for path in [os.path.join(REPO, "README.md")] + sorted(glob.glob(os.path.join(REPO, "docs",
                                                                                   "*.md"))):
        for match in BLOCK.finditer(pathlib.Path(path).read_text()):
            yield os.path.relpath(path, REPO), match.group(1), match.group(2)


def as_run(block, build):
    """The block with the build tree under test for `build`, and the CI scripts asked --help."""
    lines = []
    for line in block.splitlines():
        script = next((s for s in CI_SCRIPTS if line.startswith(s)), None)
        lines.append(script + " --help" if script else line)
    return re.sub(r"(?<![\w/.-])build(?=/|\s)", build.directory, "\n".join(lines) + "\n")


class QuickstartTest(unittest.TestCase):
    def test_every_shell_block_of_the_readme_and_docs_runs(self):
        build = Build().check()
        blocks = list(shell_blocks())
        self.assertGreaterEqual(len(blocks), 8)
        for path, block, output in blocks:
            with self.subTest(path, block=block.splitlines()[0]):
                if block.startswith("# needs:"):
                    self.skipTest(block.splitlines()[0][2:])
                # timeout kills its whole process group: bash and what it left in the background.
                result = subprocess.run(
                    ["timeout", "-s", "KILL", "300", "bash", "-e", "-c", as_run(block, build)],
                    cwd=REPO, capture_output=True, text=True,
                    env=dict(os.environ, MODEMPREP_BUILD=build.directory))
                self.assertEqual(0, result.returncode, result.stdout[-2000:] + result.stderr)
                self.assertNotIn("Traceback", result.stderr)
                if output is not None:
                    self.assertEqual(output, result.stdout)
                for command, texts in EXPECTED.items():
                    for text in texts if command in block else ():
                        self.assertIn(text, result.stdout)
                root = re.search(r"^(/tmp/mp\w+)/data/vantorel/radio/radio.cfg: ", result.stdout,
                                 re.M)
                if root:  # the hand-run recipe's root is gone, and with it its processes
                    self.assertFalse(os.path.exists(root.group(1)))
                    self.assertEqual("", subprocess.run(["pgrep", "-f", root.group(1)],
                                                        capture_output=True, text=True).stdout)

    def test_the_readme_and_its_manuals_read_in_a_terminal(self):
        readme = pathlib.Path(REPO, "README.md").read_text().splitlines()
        self.assertLessEqual(len(readme), README_LINES)
        for path in TERMINAL_DOCS:
            text = re.sub(r"^```.*?^```$", "", pathlib.Path(REPO, path).read_text(),
                          flags=re.S | re.M)
            wide = [line for part in text.split("\n\n") if "<br>" not in part
                    for line in part.splitlines() if len(line) > COLUMNS]
            self.assertEqual([], wide, path)

    def test_demo_runs_every_shipped_scenario(self):
        """Side by side, each into its own output directory; and an unsupported slot/standby
        pair, where slot 1's card comes from the card history."""
        Build().check()
        out = self.enterContext(tempfile.TemporaryDirectory(prefix="mpd", dir="/tmp"))
        runs = {os.path.basename(p): [p] for p in glob.glob(os.path.join(SCENARIOS, "*.json"))}
        self.assertGreaterEqual(len(runs), 5)
        runs["211"] = ["--msms", "211"]
        demos = {name: subprocess.Popen(
            [sys.executable, "scripts/demo.py", "--out", os.path.join(out, name)] + args, cwd=REPO,
            env=dict(os.environ, PYTHONPATH=os.path.join(REPO, "tools")), stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, text=True) for name, args in runs.items()}
        for name, demo in sorted(demos.items()):
            with self.subTest(name):
                stdout, stderr = demo.communicate(timeout=180)
                self.assertEqual((0, ""), (demo.returncode, stderr))
                self.assertTrue(os.path.exists(os.path.join(out, name, "modemprep.log")))
                if name == "211":
                    self.assertIn('logs "Invalid (U)SIM(2) and standby(1)."', stdout)
                    self.assertIn("  slot 1: SIM, other domestic operator (46001); identity "
                                  "89860198765432109876", stdout)
                    continue
                slots = json.loads(pathlib.Path(runs[name][0]).read_text()).get("slots", [])
                self.assertIn('Factory file "%s"' % ("221" if len(slots) >= 2 else "111"), stdout)
                if len(slots) < 2:
                    self.assertIn("Hot-plug: not shown", stdout)
                    continue
                # Slot 1's card goes out and comes back, or in and out when it starts empty.
                rounds = [(action, seen == "no card") for action, seen in re.findall(
                    r"^  (remove|insert): .*rild1 now sees (.*?);", stdout, re.M)]
                first = [("remove", True), ("insert", False)]
                self.assertEqual(first if slots[1].get("present") else first[::-1], rounds)

    def test_the_phone_state_sample_is_what_the_daemon_makes(self):
        Build().check()
        result = subprocess.run([sys.executable, "tools/radioplan/sample/make_sample.py",
                                 "--check"], cwd=REPO, capture_output=True, text=True,
                                env=dict(os.environ, PYTHONPATH=os.path.join(REPO, "tools")))
        self.assertEqual((0, ""), (result.returncode, result.stderr))
