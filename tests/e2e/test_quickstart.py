"""What a newcomer runs first: the README's hand-run recipe, line for line, and the demo on every
shipped scenario."""
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


class QuickstartTest(unittest.TestCase):
    def test_readme_recipe(self):
        """The shell block under "### Running the daemon by hand" in README.md, as printed; only
        build/ becomes the build tree under test."""
        build = Build().check()
        recipe = re.search(r"^## Running the daemon by hand\n.*?^```sh\n(.*?)^```$",
                           pathlib.Path(REPO, "README.md").read_text(), re.S | re.M)
        self.assertIsNotNone(recipe, "README.md: no shell block under the hand-run heading")
        script = re.sub(r"(?<![\w/])build/", build.directory + "/", recipe.group(1))
        # timeout kills its whole process group: bash and the jobs it started in the background.
        result = subprocess.run(["timeout", "-s", "KILL", "60", "bash", "-c", script], cwd=REPO,
                                capture_output=True, text=True)
        stdout = result.stdout
        self.assertEqual((0, ""), (result.returncode, result.stderr))
        for expected in ("persist.radio.multisim.config=dsds\n", "init.svc.rild1=running\n",
                         "start rild0\nstart rild1\n", "rild.cardStatus = 0\n",
                         "rild.cardStatus.other = 1\n", "restart rild1\n",
                         "  slot 1: no card\n", "sound: no damage found\n"):
            self.assertIn(expected, stdout)
        # The root is gone, and with it the simulator and the daemon that used it.
        root = re.search(r"^(/tmp/mp\w+)/data/vantorel/radio/radio.cfg: ", stdout, re.M).group(1)
        self.assertFalse(os.path.exists(root))
        self.assertEqual("", subprocess.run(["pgrep", "-f", root], capture_output=True,
                                            text=True).stdout)

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
                rounds = re.findall(r"^  (remove|insert): .*rild1 now sees (.*?);", stdout, re.M)
                first = [("remove", "no card"), ("insert", "card present")]
                self.assertEqual(first if slots[1].get("present") else first[::-1], rounds)
