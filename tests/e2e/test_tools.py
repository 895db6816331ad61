"""The tools' command lines: --help on stdout with status 0, usage errors naming the bad argument
with status 2, runtime errors naming the file or property and the reason with status 1, and never
a traceback or an abort."""
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

from mpharness import REPO, Build


class ToolsTest(unittest.TestCase):
    def setUp(self):
        self.build = Build().check()
        self.root = self.enterContext(tempfile.TemporaryDirectory(prefix="mpt", dir="/tmp"))

    def run_tool(self, argv, env=None):
        environment = {k: v for k, v in os.environ.items() if k != "MODEMPREP_ROOT"}
        environment.update(PYTHONPATH=os.path.join(REPO, "tools"), **(env or {}))
        return subprocess.run(argv, input="{}", capture_output=True, text=True, timeout=60,
                              env=environment, cwd=REPO)

    def check(self, cases):
        """cases: (argv, status, text expected in stdout when 0, else in the last stderr line);
        stdin holds "{}" (JSON for cardhist --encode)."""
        for argv, status, text in cases:
            with self.subTest(argv=argv):
                result = self.run_tool(argv)
                self.assertEqual(status, result.returncode, result.stderr)
                self.assertNotIn("Traceback", result.stderr)
                self.assertIn(text, result.stdout if status == 0 else
                              result.stderr.splitlines()[-1])

    def test_command_lines(self):
        propctl, ueventsend, cardhist, root = (self.build.propctl, self.build.ueventsend,
                                               self.build.cardhist, self.root)
        demo, bench = [sys.executable, "scripts/demo.py"], [sys.executable, "bench/run.py"]
        missing, noise = os.path.join(root, "missing"), os.path.join(root, "noise")
        pathlib.Path(noise).write_bytes(bytes((i * 131 + 17) % 256 for i in range(1648)))
        pathlib.Path(root, "broken.json").write_text('{"slots": [')
        pathlib.Path(root, "typo.json").write_text('{"slotz": []}')
        pathlib.Path(root, "properties.refuse").write_text("refused.name\n")
        cases = []
        for program, args in (([propctl], ["list"]), ([ueventsend], ["x"]), ([cardhist], ["f"]),
                              (demo, []), (bench, []),
                              ([sys.executable, "bench/compare.py"], ["a", "b"])):
            cases += [(program + args + ["--help"], 0, "usage: "),
                      (program + ["--help"] + args, 0, "usage: "),
                      (program + args + ["--bogus"], 2, "--bogus")]
        set_ = [propctl, "--root", root, "set"]
        out = demo + ["--out", root]
        self.check(cases + [
            # usage errors
            ([propctl, "--root"], 2, "option --root needs a value"),
            ([propctl, "frob"], 2, 'unknown command "frob"'),
            ([propctl, "get"], 2, "too few arguments for get"),
            ([propctl, "list"], 2, "no root: give --root DIR"),
            ([ueventsend, "--count", "0", "x"], 2, '--count "0"'),
            ([ueventsend, "--raw", "a", "b"], 2, "--raw and fields exclude"),
            ([ueventsend, "x"], 2, "no root"),
            ([cardhist], 2, "no file given"),
            ([cardhist, "a", "b"], 2, "one file only: b"),
            ([cardhist, "--json", "--encode", "f"], 2, "exclude each other"),
            (demo + ["--msms", "2"], 2,
             "'2': expected the factory file's three digits: the number of SIM slots"),
            (demo + ["--msms=999"], 2, "the first two digits count SIM slots and standbys, 0 to 5"),
            (bench + ["--runs", "0"], 2, "'0' is not a whole number"),
            (["scripts/install-packages.sh", "--x"], 2, "unknown option --x"),
            (["scripts/test.sh", "nopreset"], 2, 'unknown preset "nopreset"'),
            (["tests/fuzz/run.sh", "abc"], 2, '"abc" is not a positive number'),
            # propctl: --root anywhere or as --root=DIR (or MODEMPREP_ROOT: below); a root that is
            # not there is an error, not an empty store; each refused write says why
            (set_ + ["ro.once", "1"], 0, ""),
            ([propctl, "set", "b", "2", "--root=" + root], 0, ""),
            ([propctl, "--root", missing, "list"], 1,
             'root "%s": No such file or directory' % missing),
            ([ueventsend, "--root=" + missing, "x"], 1,
             'root "%s": No such file or directory' % missing),
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
            (set_ + ["n" * 256, "v" * 91], 0, ""),  # at the limits: taken
            # cardhist and the demo name the file
            ([cardhist, root], 1, "%s: is a directory" % root),
            ([cardhist, missing], 1, "%s: No such file or directory" % missing),
            ([cardhist, "--encode", missing + "/f"], 1, "cardhist: %s/f: No such" % missing),
            (out + [missing], 1, "demo: scenario %s: No such file or directory" % missing),
            (out + [root + "/broken.json"], 1, "demo: scenario %s/broken.json: not valid JSON: "
             % root),
            (out + [root + "/typo.json"], 1, "bad scenario: %s/typo.json: scenario: unknown key "
             "'slotz'" % root),
            (out + [root], 1, "demo: scenario %s: Is a directory" % root),
        ])
        listing = self.run_tool([propctl, "list"], env={"MODEMPREP_ROOT": root})
        self.assertEqual("b=2\n%s=%s\nro.once=1\nx=-1\n" % ("n" * 256, "v" * 91), listing.stdout)
        damaged = self.run_tool([cardhist, noise])
        self.assertEqual(1, damaged.returncode)
        self.assertRegex(damaged.stdout, r"\nDAMAGED, .*\n  slot 1: ID not terminated\n")
        decoded = json.loads(self.run_tool([cardhist, "--json", noise]).stdout)
        self.assertIn("slot 1: ID not terminated", decoded["damage"])

    def test_propctl_names_an_unreadable_store(self):
        """Not shown as an empty store (root reads any file: then propctl runs as user 65534)."""
        path = os.path.join(self.root, "properties")
        pathlib.Path(path).write_text("a=1\n")
        os.chmod(path, 0)
        os.chmod(self.root, 0o755)
        prefix = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
        for command in (["list"], ["get", "a"]):
            with self.subTest(command=command):
                result = self.run_tool((prefix if os.geteuid() == 0 else []) +
                                       [self.build.propctl, "--root", self.root] + command)
                if "setpriv" in result.stderr:
                    self.skipTest("cannot run as user 65534: " + result.stderr.strip())
                self.assertEqual((1, "", 'propctl: "%s": Permission denied\n' % path),
                                 (result.returncode, result.stdout, result.stderr))
