"""What a newcomer runs first: the README's hand-run recipe, line for line, and the demo on every
shipped scenario."""
import glob
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

from mpharness import SCENARIOS, Build
from mpharness.build import REPO


def readme_recipe():
    """The shell block under "### Running the daemon by hand" in README.md."""
    with open(os.path.join(REPO, "README.md")) as f:
        text = f.read()
    match = re.search(r"^### Running the daemon by hand\n.*?^```sh\n(.*?)^```$", text,
                      re.S | re.M)
    if match is None:
        raise AssertionError("README.md has no shell block under ### Running the daemon by hand")
    return match.group(1)


class QuickstartTest(unittest.TestCase):
    def test_readme_recipe(self):
        """The commands as printed; only build/ becomes the build tree under test."""
        build = Build().check()
        script = re.sub(r"(?<![\w/])build/", build.directory + "/", readme_recipe())
        process = subprocess.Popen(["bash", "-c", script], cwd=REPO, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True, start_new_session=True)
        try:
            stdout, stderr = process.communicate(timeout=60)
        finally:
            if process.poll() is None:
                os.killpg(process.pid, signal.SIGKILL)
                process.communicate()
        self.assertEqual(0, process.returncode, stderr)
        self.assertEqual("", stderr)
        for expected in ("persist.radio.multisim.config=dsds\n", "init.svc.rild1=running\n",
                         "start rild0\nstart rild1\n", "rild.cardStatus = 0\n",
                         "rild.cardStatus.other = 1\n", "restart rild1\n",
                         "  slot 1: no card\n", "sound: no damage found\n"):
            self.assertIn(expected, stdout)
        # The root is gone, and with it the simulator and the daemon that used it.
        root = re.search(r"^(/tmp/mp\w+)/data/vantorel/radio/radio.cfg: ", stdout, re.M).group(1)
        self.assertFalse(os.path.exists(root))
        running = subprocess.run(["pgrep", "-f", root], capture_output=True, text=True).stdout
        self.assertEqual("", running)

    def test_demo_runs_every_shipped_scenario(self):
        """Side by side, each into its own output directory."""
        Build().check()
        out = tempfile.mkdtemp(prefix="mpd", dir="/tmp")
        self.addCleanup(shutil.rmtree, out, ignore_errors=True)
        env = dict(os.environ, PYTHONPATH=os.path.join(REPO, "tests"))
        demos = {}
        for path in sorted(glob.glob(os.path.join(SCENARIOS, "*.json"))):
            name = os.path.basename(path)
            demos[name] = (path, subprocess.Popen(
                [sys.executable, "scripts/demo.py", path, "--out", os.path.join(out, name)],
                cwd=REPO, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True))
        self.assertGreaterEqual(len(demos), 5)
        # An unsupported slot/standby pair: a warning, and slot 1's card from the history.
        odd = subprocess.Popen(
            [sys.executable, "scripts/demo.py", "--msms", "211", "--out", os.path.join(out, "211")],
            cwd=REPO, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        for name, (path, demo) in demos.items():
            with self.subTest(name):
                stdout, stderr = demo.communicate(timeout=180)
                self.assertEqual(0, demo.returncode, stderr)
                self.assertEqual("", stderr)
                with open(path) as f:
                    slots = json.load(f).get("slots", [])
                self.assertIn("Factory file \"%s\"" % ("221" if len(slots) >= 2 else "111"),
                              stdout)
                self.assertTrue(os.path.exists(os.path.join(out, name, "modemprep.log")))
                if len(slots) < 2:
                    self.assertIn("Hot-plug: not shown", stdout)
                    continue
                removed = re.search(r"^  remove: .*rild1 now sees (.*?);", stdout, re.M)
                inserted = re.search(r"^  insert: .*rild1 now sees (.*?);", stdout, re.M)
                self.assertEqual("no card", removed.group(1), stdout)
                self.assertEqual("card present", inserted.group(1), stdout)
                first = "remove" if slots[1].get("present") else "insert"
                self.assertLess(stdout.index("  %s: " % first),
                                stdout.index("  %s: " % ({"remove", "insert"} - {first}).pop()))
        stdout, stderr = odd.communicate(timeout=180)
        self.assertEqual(0, odd.returncode, stderr)
        self.assertIn('logs "Invalid (U)SIM(2) and standby(1)."', stdout)
        # Slot 1 has no standby of its own: its card comes from the card history.
        self.assertIn("  slot 1: SIM, other domestic operator (46001); identity "
                      "89860198765432109876", stdout)
        self.assertIn("  standby 0 (no SIM slot in this mode): ", stdout)


if __name__ == "__main__":
    unittest.main()
