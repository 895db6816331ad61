"""The tools' command lines: --help on stdout with status 0, usage errors naming the bad argument
with status 2, runtime errors naming the file or property and the reason with status 1, and never
a traceback or an abort."""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from mpharness import SCENARIOS, Build
from mpharness.build import REPO

TESTS = os.path.join(REPO, "tests")


class ToolsTest(unittest.TestCase):
    def setUp(self):
        self.build = Build().check()
        self.root = tempfile.mkdtemp(prefix="mpt", dir="/tmp")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)

    def run_tool(self, argv, stdin="", env=None):
        environment = {k: v for k, v in os.environ.items() if k != "MODEMPREP_ROOT"}
        environment.update(PYTHONPATH=TESTS, **(env or {}))
        return subprocess.run(argv, input=stdin, capture_output=True, text=True, timeout=60,
                              env=environment, cwd=REPO)

    def check(self, cases):
        """cases: (argv, status, text expected in stdout when 0, else in the one stderr line)."""
        for argv, status, text in cases:
            with self.subTest(argv=argv):
                result = self.run_tool(argv)
                self.assertEqual(status, result.returncode, result.stderr)
                self.assertNotIn("Traceback", result.stderr)
                if status == 0:
                    self.assertIn(text, result.stdout)
                else:
                    self.assertIn(text, result.stderr.splitlines()[-1])

    def test_help_and_usage_errors(self):
        tools = {"propctl": [self.build.propctl, "list"],
                 "ueventsend": [self.build.ueventsend, "x"],
                 "cardhist": [self.build.cardhist, "f"],
                 "demo": [sys.executable, "scripts/demo.py"],
                 "bench": [sys.executable, "bench/run.py"],
                 "compare": [sys.executable, "bench/compare.py", "a", "b"]}
        cases = []
        for name, argv in tools.items():
            cases += [(argv + ["--help"], 0, "usage: "), (argv[:1] + ["--help"] + argv[1:], 0,
                                                           "usage: "),
                      (argv + ["--bogus"], 2, "--bogus")]
        cases += [
            ([self.build.propctl, "--root"], 2, "option --root needs a value"),
            ([self.build.propctl, "--help=1"], 2, "option --help takes no value"),
            ([self.build.propctl, "list", "-z"], 2, "unknown option -z"),
            ([self.build.propctl, "frob"], 2, 'unknown command "frob"'),
            ([self.build.propctl, "get"], 2, "too few arguments for get"),
            ([self.build.propctl, "list"], 2, "no root: give --root DIR"),
            ([self.build.ueventsend, "--count", "0", "x"], 2, '--count "0"'),
            ([self.build.ueventsend, "--raw", "a", "b"], 2, "--raw and fields exclude"),
            ([self.build.ueventsend, "x"], 2, "no root"),
            ([self.build.cardhist], 2, "no file given"),
            ([self.build.cardhist, "a", "b"], 2, "one file only: b"),
            ([self.build.cardhist, "--json", "--encode", "f"], 2, "exclude each other"),
            ([sys.executable, "scripts/demo.py", "--msms", "2"], 2,
             "'2': expected the factory file's three digits: the number of SIM slots"),
            ([sys.executable, "scripts/demo.py", "--msms", "abc"], 2, "'abc': expected"),
            ([sys.executable, "scripts/demo.py", "--msms=999"], 2,
             "the first two digits count SIM slots and standbys, 0 to 5 each"),
            ([sys.executable, "bench/run.py", "--runs", "0"], 2, "'0' is not a whole number"),
            (["scripts/install-packages.sh", "--x"], 2, "unknown option --x"),
            (["scripts/test.sh", "nopreset"], 2, 'unknown preset "nopreset"'),
            (["tests/fuzz/run.sh", "abc"], 2, '"abc" is not a positive number'),
        ]
        self.check(cases)

    def test_root_options(self):
        """--root anywhere, as --root=DIR, or from MODEMPREP_ROOT; a root that is not there is
        an error, not an empty store."""
        root = self.root
        propctl = self.build.propctl
        for argv in ([propctl, "--root", root, "set", "a", "1"], [propctl, "set", "b", "2",
                                                                  "--root=" + root]):
            self.assertEqual(0, self.run_tool(argv).returncode)
        result = self.run_tool([propctl, "list"], env={"MODEMPREP_ROOT": root})
        self.assertEqual("a=1\nb=2\n", result.stdout)
        self.assertEqual("1\n", self.run_tool([propctl, "get", "a", "--root", root]).stdout)
        missing = os.path.join(root, "missing")
        self.check([
            ([propctl, "--root", missing, "list"], 1,
             'root "%s": No such file or directory' % missing),
            ([propctl, "--root", missing, "get", "a"], 1, "No such file or directory"),
            ([self.build.ueventsend, "--root=" + missing, "x"], 1,
             'root "%s": No such file or directory' % missing),
        ])

    def test_propctl_says_why_a_write_is_refused(self):
        root = self.root
        with open(os.path.join(root, "properties.refuse"), "w") as f:
            f.write("refused.name\n")
        set_ = [self.build.propctl, "--root", root, "set"]
        self.assertEqual(0, self.run_tool(set_ + ["ro.once", "1"]).returncode)
        cases = [
            (set_ + ["x", "v" * 92], 1, 'set "x": value longer than 91 bytes'),
            (set_ + ["n" * 1100, "1"], 1, '..." (1100 bytes): name longer than 256 bytes'),
            (set_ + ["a=b", "1"], 1, 'set "a=b": name holds \'=\' or a line break'),
            (set_ + ["", "1"], 1, 'set "": empty name'),
            (set_ + ["x", "a\nb"], 1, 'set "x": value holds a line break'),
            (set_ + ["ro.once", "2"], 1, 'set "ro.once": read-only property already set'),
            (set_ + ["refused.name", "1"], 1, 'set "refused.name": listed in properties.refuse'),
            (set_ + ["ctl.bogus", "x"], 1, "not a known control command with a service"),
            (set_ + ["x", "-1"], 2, "unknown option -1 (a value that starts with '-' follows"),
            (set_ + ["x", "--", "-1"], 0, ""),
        ]
        self.check(cases)
        # Names and values at the limits are taken, and survive the next write.
        self.check([(set_ + ["n" * 256, "v" * 91], 0, ""), (set_ + ["y", "1"], 0, "")])
        listing = self.run_tool([self.build.propctl, "--root", root, "list"]).stdout
        self.assertIn("n" * 256 + "=" + "v" * 91 + "\n", listing)

    def test_propctl_names_an_unreadable_store(self):
        """A store that cannot be read is not shown as an empty one (root reads any file: then
        propctl runs as user 65534)."""
        path = os.path.join(self.root, "properties")
        with open(path, "w") as f:
            f.write("a=1\n")
        os.chmod(path, 0)
        os.chmod(self.root, 0o755)
        as_user = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
        prefix = as_user if os.geteuid() == 0 else []
        for command in (["list"], ["get", "a"]):
            with self.subTest(command=command):
                result = self.run_tool(prefix + [self.build.propctl, "--root", self.root] +
                                       command)
                if "setpriv" in result.stderr:
                    self.skipTest("cannot run as user 65534: " + result.stderr.strip())
                self.assertEqual(1, result.returncode)
                self.assertEqual('propctl: "%s": Permission denied\n' % path, result.stderr)
                self.assertEqual("", result.stdout)

    def test_cardhist_inputs(self):
        cardhist = self.build.cardhist
        empty = os.path.join(self.root, "empty")
        open(empty, "w").close()
        noise = os.path.join(self.root, "noise")
        with open(noise, "wb") as f:
            f.write(bytes((i * 131 + 17) % 256 for i in range(1648)))
        missing = os.path.join(self.root, "missing")
        self.check([
            ([cardhist, self.root], 1, "%s: is a directory" % self.root),
            ([cardhist, missing], 1, "%s: No such file or directory" % missing),
        ])
        for path, damage in ((empty, "short file: 0 of 1648 bytes"),
                             (noise, "ID not terminated")):
            with self.subTest(path=path):
                text = self.run_tool([cardhist, path])
                self.assertEqual(1, text.returncode)
                self.assertIn("DAMAGED", text.stdout)
                self.assertIn(damage, text.stdout)
                decoded = json.loads(self.run_tool([cardhist, "--json", path]).stdout)
                self.assertTrue(any(damage in d for d in decoded["damage"]), decoded["damage"])
        result = self.run_tool([cardhist, "--encode", os.path.join(missing, "f")], stdin="{}")
        self.assertEqual(1, result.returncode)
        self.assertIn("No such file or directory", result.stderr)

    def test_demo_names_the_users_scenario(self):
        bad_key = os.path.join(self.root, "typo.json")
        with open(bad_key, "w") as f:
            json.dump({"slotz": []}, f)
        broken = os.path.join(self.root, "broken.json")
        with open(broken, "w") as f:
            f.write('{"slots": [')
        missing = os.path.join(self.root, "missing.json")
        demo = [sys.executable, "scripts/demo.py", "--out", self.root]
        self.check([
            (demo + [missing], 1, "demo: scenario %s: No such file or directory" % missing),
            (demo + [broken], 1, "demo: scenario %s: not valid JSON: " % broken),
            (demo + [bad_key], 1, "bad scenario: %s: scenario: unknown key 'slotz'" % bad_key),
            (demo + [self.root], 1, "demo: scenario %s: Is a directory" % self.root),
        ])
        self.assertTrue(os.path.isdir(SCENARIOS))


if __name__ == "__main__":
    unittest.main()
