"""One command-line contract for every program and script: --help prints usage on standard output
("Usage: " first), status 0, and changes nothing; every program's --version prints the one version
of the build; a usage error is one line on standard error naming the argument,
status 2; a file it cannot use (missing, a directory, garbage) is one line naming the file and the
reason, status 1, and nothing is written (the host daemon's root and log format: status 2, as the
host platform contract fixes). Every command runs in a scratch directory, so that the files it
is given are found relative to where it was typed."""
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

from mpharness import REPO, Build

B = Build()
S = lambda *path: os.path.join(REPO, *path)  # noqa: E731
PY = sys.executable
GOOD_LOG = S("tests", "replay", "two_cards.log")
GARBAGE = bytes((i * 131 + 17) % 256 for i in range(1648))  # NUL bytes, no text, 1648 bytes


def na(why):
    return ("n/a", why)


# program: (argv, extra environment); "{F}" is the file under test ("missing", "adir",
# "garbage.bin" in the scratch directory) and "{D}" a root whose property store is that file.
# Then what each case gives: (status, words in the one stderr line) or na(why it does not apply).
FILE_CASES = ("missing", "directory", "garbage")
TABLE = [
    ("modemprep", [B.daemon], {"MODEMPREP_ROOT": "{F}"},
     (2, "No such file"), na("any writable directory is a root"), (2, "not a directory")),
    ("modemsim --scenario", [B.modemsim, "--root", ".", "--scenario", "{F}"], {},
     (1, "No such file"), (1, "is a directory"), (1, "not a scenario")),
    ("modemsim --log", [B.modemsim, "--root", ".", "--log", "{F}"], {},
     (1, "No such file"), (1, "is a directory"), (1, "not a radio log")),
    ("modemsim ctl", [B.modemsim, "ctl", "--root", "{F}", "insert", "1"], {},
     (1, "No such file"), na("a directory is a root: its simulator is asked"),
     (1, "not a directory")),
    ("propctl root", [B.propctl, "--root", "{F}", "list"], {},
     (1, "No such file"), (1, "not a daemon root"), (1, "not a directory")),
    ("propctl store", [B.propctl, "--root", "{D}", "list"], {},
     na("a missing store is an empty one"), (1, "is a directory"),
     na("read as the daemon reads it: test_propctl_lists_what_the_daemon_reads")),
    ("ueventsend", [B.ueventsend, "--root", "{F}", "x"], {},
     (1, "No such file"), na("a directory is a root: its daemon is sent to"),
     (1, "not a directory")),
    ("cardhist", [B.cardhist, "{F}"], {},
     (1, "No such file"), (1, "is a directory"), (1, "not a card history: ")),
    ("radioplan --props", [B.radioplan, "--props", "{F}"], {},
     (1, "No such file"), (1, "is a directory"), (1, "binary data, not the output of getprop")),
    ("radioplan --history", [B.radioplan, "--props", "good.txt", "--history", "{F}"], {},
     (1, "No such file"), (1, "is a directory"), (1, "not a card history: ")),
    ("radioplan --root", [B.radioplan, "--root", "{D}"], {},
     (1, "not a daemon root"), (1, "is a directory"), (1, "line 1 holds a NUL byte")),
    ("daemonlog LOG", [B.daemonlog, "{F}"], {},
     (1, "No such file"), (1, "is a directory"), (1, "not a radio log")),
    ("replay LOG", [S("scripts", "replay.sh"), "{F}"], {},
     (1, "No such file"), (1, "is a directory"), (1, "not a radio log")),
    ("replay --history", [S("scripts", "replay.sh"), GOOD_LOG, "--history", "{F}"], {},
     (1, "No such file"), (1, "is a directory"), (1, "not a card history: ")),
    ("demo", [S("scripts", "demo.sh"), "{F}"], {},
     (1, "No such file"), (1, "is a directory"), (1, "not valid JSON")),
    ("android_check", [PY, "-m", "scripts.android_check", "--aosp", "{F}", "--build", "w"],
     {"PYTHONPATH": REPO},
     *[(1, "no platform policy under")] * 3),
    ("bench.compare", [PY, "-m", "bench.compare", "{F}", "{F}"], {"PYTHONPATH": REPO},
     (1, "No such file"), (1, "is a directory"), (1, "not JSON")),
] + [(script, [S(script)], {}, *[na("takes no input file")] * 3) for script in (
    "bench/run.sh", "scripts/test.sh", "scripts/install-packages.sh", "scripts/ci-arm64.sh",
    "tests/fuzz/run.sh")] + [
    ("scripts.mutants", [PY, "-m", "scripts.mutants"], {"PYTHONPATH": REPO},
     *[na("takes no input file")] * 3),
    ("scripts.layer_check", [PY, "-m", "scripts.layer_check", "--layers", "{F}"],
     {"PYTHONPATH": REPO}, (1, "No such file"), (1, "is a directory"), (1, "not layers.txt")),
] + [
    ("ci-android.sh --aosp", [S("scripts", "ci-android.sh"), "--aosp", "{F}"], {},
     (1, "No such file"), (1, "not a platform tree"), (1, "not a directory")),
]

# The programs (installed ones and the demo): --version, each the same version as the daemon's.
VERSIONED = {"modemprep", "modemsim --scenario", "modemsim --log", "modemsim ctl", "propctl root",
             "propctl store", "ueventsend", "cardhist", "radioplan --props",
             "radioplan --history", "radioplan --root", "daemonlog LOG", "replay LOG",
             "replay --history", "demo"}

# Usage and runtime errors particular to one program: (argv, environment, standard input, status,
# words in the one stderr line). The store's refusals are worded here only.
SET = [B.propctl, "--root", ".", "set"]
PARTICULAR = [
    ([B.daemon], {"MODEMPREP_ROOT": ".", "MODEMPREP_LOG_FORMAT": "json"}, "", 2,
     'MODEMPREP_LOG_FORMAT "json": not a log format'),
    ([B.modemsim, "ctl", "--root", ".", "frob", "1"], {}, "", 2, 'unknown command "frob"'),
    ([B.modemsim, "ctl", "--root", ".", "insert"], {}, "", 2, "takes one slot number"),
    ([B.modemsim, "--root", ".", "--scenario", "x", "--boot", "1"], {}, "", 2, "go with --log"),
    ([B.modemsim, "--scenario", "two_cards"], {"MODEMPREP_ROOT": "adir"}, "", 1,
     'root "adir": no dev folder for the node (mkdir -p adir/dev)'),
    ([B.modemsim, "ctl", "insert", "1"], {"MODEMPREP_ROOT": "adir"}, "", 1,
     "no simulator runs on adir (start one: modemsim --root adir --scenario two_cards)"),
    ([B.propctl, "--root", "nodir", "--create", "set", "a", "1"], {}, "", 1,
     "nodir: No such file or directory"),
    ([B.propctl, "--root"], {}, "", 2, "option --root needs a value"),
    ([B.propctl, "frob"], {}, "", 2, 'unknown command "frob"'),
    ([B.propctl, "get"], {}, "", 2, "too few arguments for get"),
    ([B.propctl, "list"], {}, "", 2, "no root: give --root DIR"),
    (SET + ["x", "v" * 92], {}, "", 1, 'set "x": value longer than 91 bytes'),
    (SET + ["n" * 1100, "1"], {}, "", 1, '..." (1100 bytes): name longer than 256 bytes'),
    (SET + ["a=b", "1"], {}, "", 1, 'set "a=b": name holds \'=\' or a line break'),
    (SET + ["", "1"], {}, "", 1, 'set "": empty name'),
    (SET + ["x", "a\nb"], {}, "", 1, 'set "x": value holds a line break'),
    (SET + ["ro.once", "2"], {}, "", 1, 'set "ro.once": read-only property already set'),
    (SET + ["refused.name", "1"], {}, "", 1, 'set "refused.name": listed in properties.refuse'),
    (SET + ["ctl.bogus", "x"], {}, "", 1, "not a known control command with a service"),
    (SET + ["x", "-1"], {}, "", 2, "unknown option -1 (a value that starts with '-' follows"),
    ([B.ueventsend, "--count", "0", "x"], {}, "", 2, '--count "0"'),
    ([B.ueventsend, "--raw", "a", "b"], {}, "", 2, "--raw and fields exclude"),
    ([B.cardhist], {}, "", 2, "no file given"),
    ([B.cardhist, "a", "b"], {}, "", 2, "one file only: b"),
    ([B.cardhist, "--encode", "new.cfg"], {}, '{"x": 1}', 1, 'JSON on stdin: unknown key "x"'),
    ([B.cardhist, "--encode", "adir"], {}, "{}", 1, "adir: is a directory"),
    ([B.cardhist, "fifo.cfg"], {}, "", 1, "fifo.cfg: not a regular file"),
    ([B.cardhist, "/dev/zero"], {}, "", 1, "/dev/zero: not a regular file"),
    ([B.radioplan, "--target", "foo"], {}, "", 2, '--target "foo": open, cmcc, cucc or ctc'),
    ([B.radioplan, "--props", "cut.txt"], {}, "", 1, "cut.txt: line 2 is cut short"),
    ([B.radioplan, "--props", "eq.txt"], {}, "", 1, "eq.txt: line 1 is not"),
    ([B.radioplan, "--props", "r-missing/x"], {}, "", 1, "x: empty file"),
    ([B.radioplan, "--props", "good.txt", "--history", "r-missing/x"], {}, "", 1, "empty file"),
    ([B.radioplan, "--props", "good.txt", "--history", "short.cfg"], {}, "", 1, "truncated"),
    ([B.radioplan, "--props", "good.txt", "--rild", "rild.cfg0"], {}, "", 1, "rild.simSlot"),
    ([B.daemonlog, "--boot", "0", GOOD_LOG], {}, "", 2, "--boot 0: not a start"),
    ([B.daemonlog, "--all", "--bugreport", "x"], {}, "", 2, "--all reads a LOG, without --boot"),
    ([S("scripts", "demo.sh"), "--msms", "2"], {}, "", 2, "'2': expected the factory file's"),
    ([S("scripts", "demo.sh"), "--msms=999"], {}, "", 2, "the first two digits count SIM slots"),
    ([S("scripts", "replay.sh"), GOOD_LOG, "--boot", "-1"], {}, "", 2, "--boot: must be 1"),
    ([S("scripts", "replay.sh"), "foreign.log"], {}, "", 1, "no line of the daemon"),
    ([S("scripts", "replay.sh"), "nostart.log"], {}, "", 1, "no start of the daemon"),
    ([S("bench", "run.sh"), "--runs", "0"], {}, "", 2, "'0' is not a whole number"),
    ([S("scripts", "test.sh"), "nopreset"], {}, "", 2, 'unknown preset "nopreset"'),
    ([PY, "-m", "scripts.mutants", "nomutant"], {"PYTHONPATH": REPO}, "", 2,
     "unknown mutant nomutant"),
    ([S("tests", "fuzz", "run.sh"), "abc"], {}, "", 2, '"abc" is not a positive number'),
]


def snapshot(directory):
    """Every path below `directory` with its size and modification time."""
    found = {}
    for parent, dirs, files in os.walk(directory):
        for name in dirs + files:
            info = os.lstat(os.path.join(parent, name))
            found[os.path.join(parent, name)] = (info.st_mode, info.st_size, info.st_mtime_ns)
    return found


def repository_state():
    """What a command could leave in the repository: changed files, new top-level folders."""
    status = subprocess.run(["git", "status", "--porcelain"], cwd=REPO, capture_output=True,
                            text=True).stdout
    return status, sorted(os.listdir(REPO))


class ContractTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.version = subprocess.run([B.daemon, "--version"], capture_output=True,
                                     text=True).stdout.split(" ", 1)[1]

    def setUp(self):
        B.check()
        self.work = self.enterContext(tempfile.TemporaryDirectory(prefix="mpt", dir="/tmp"))
        files = {"garbage.bin": GARBAGE, "r-garbage/properties": GARBAGE, "r-missing/x": b"",
                 "good.txt": b"[persist.sys.vx.proj.target]: [cmcc]\n",
                 "cut.txt": b"[ro.vx.msms]: [221]\n[persist.sys.vx.pro",
                 "eq.txt": b"ro.vx.msms=221\n[a]: [b]\n", "short.cfg": bytes(100),
                 "rild.cfg0": b"rild.count = 2\n",
                 "foreign.log": b"12-06 04:20:37.123  1234  1250 I RILJ    : hi\n",
                 "nostart.log": b"12-06 04:20:37.123  1234  1234 D modemprep: [0]>> AT<CR>\n",
                 "properties.refuse": b"refused.name\n", "properties": b"ro.once=1\n",
                 "properties.lock": b"", "huge.cfg": b""}
        for name, content in files.items():
            os.makedirs(os.path.dirname(os.path.join(self.work, name)), exist_ok=True)
            pathlib.Path(self.work, name).write_bytes(content)
        os.chmod(os.path.join(self.work, "properties.lock"), 0o600)  # as the store leaves it
        os.truncate(os.path.join(self.work, "huge.cfg"), 1 << 32)  # sparse, all zeros
        os.mkfifo(os.path.join(self.work, "fifo.cfg"))
        os.makedirs(os.path.join(self.work, "adir"))
        os.makedirs(os.path.join(self.work, "r-adir", "properties"))
        self.repository = repository_state()

    def run_case(self, argv, env, stdin=""):
        environment = {k: v for k, v in os.environ.items() if k != "MODEMPREP_ROOT"}
        environment.update(MODEMPREP_BUILD=B.directory, **env)
        before = snapshot(self.work)
        result = subprocess.run(argv, input=stdin, capture_output=True, text=True, timeout=60,
                                env=environment, cwd=self.work)
        self.assertEqual(before, snapshot(self.work), "it wrote into the scratch directory")
        self.assertEqual(self.repository, repository_state(), "it changed the repository")
        self.assertNotIn("Traceback", result.stderr)
        return result

    def check_error(self, result, status, words):
        self.assertEqual(status, result.returncode, result.stderr)
        if status == 2:
            self.assertEqual("", result.stdout)
        self.assertEqual(1, len(result.stderr.splitlines()), result.stderr)
        self.assertIn(words, result.stderr)

    def test_every_program_keeps_the_contract(self):
        for name, argv, env, *files in TABLE:
            fill = lambda items, f: [x.replace("{F}", f).replace("{D}", "r-" + f.split(".")[0])
                                     for x in items]  # noqa: E731
            plain = fill(argv, "missing")
            env_of = lambda f: {k: fill([v], f)[0] for k, v in env.items()}  # noqa: E731
            with self.subTest(name, case="--help"):
                result = self.run_case(plain + ["--help"], env_of("missing"))
                self.assertEqual((0, ""), (result.returncode, result.stderr))
                self.assertTrue(result.stdout.startswith("Usage: "), result.stdout[:80])
            if name in VERSIONED:
                with self.subTest(name, case="--version"):
                    result = self.run_case(plain + ["--version"], env_of("missing"))
                    self.assertEqual((0, "", self.version), (result.returncode, result.stderr,
                                                             result.stdout.split(" ", 1)[-1]))
            with self.subTest(name, case="unknown option"):
                self.check_error(self.run_case(plain + ["--bogus"], env_of("missing")), 2,
                                 "--bogus")
            for case, file, expected in zip(FILE_CASES, ("missing", "adir", "garbage.bin"),
                                            files):
                if expected[0] == "n/a":
                    continue
                with self.subTest(name, case=case):
                    result = self.run_case(fill(argv, file), env_of(file))
                    path = fill(["{D}" if "{D}" in " ".join(argv) else "{F}"], file)[0]
                    self.check_error(result, *expected)
                    self.assertIn(path, result.stderr)

    def test_particular_errors(self):
        for argv, env, stdin, status, words in PARTICULAR:
            with self.subTest(argv=argv[1:] if argv[0].startswith("/") else argv):
                self.check_error(self.run_case(argv, env, stdin), status, words)

    def test_propctl_lists_what_the_daemon_reads(self):
        """set at the limits and with "--", then list: the lines the store's own reader sees, a
        NUL byte shown escaped, a line past the store's buffer kept whole and listed to it (said
        on stderr); a line without '=' is named before the write that drops it."""
        store = pathlib.Path(self.work, "properties")
        long_line = "l.long=" + "l" * 2000
        store.write_bytes(b"a.nul=x\0y\n%s\nno equals sign\nro.once=1\n" % long_line.encode())
        named = ("propctl: ./properties: line 3 \"no equals sign\" has no '=': not a property, "
                 "dropped by the store's next write\n")
        for args in (["b", "2"], ["x", "--", "-1"], ["n" * 256, "v" * 91]):
            result = subprocess.run(SET + args, cwd=self.work, capture_output=True, text=True)
            self.assertEqual((0, named if args[0] == "b" else ""),
                             (result.returncode, result.stderr))
        listing = subprocess.run([B.propctl, "list"], capture_output=True, text=True,
                                 env=dict(os.environ, MODEMPREP_ROOT=self.work))
        self.assertEqual("a.nul=x\\x00y\nb=2\n%s\n%s=%s\nro.once=1\nx=-1\n"
                         % (long_line[:1024], "n" * 256, "v" * 91), listing.stdout)
        self.assertEqual("propctl: %s/properties: line 3 holds 2007 bytes: listed to its first "
                         "1024 (kept whole)\n" % self.work, listing.stderr)
        self.assertIn(long_line.encode() + b"\n", store.read_bytes())

    def test_cardhist_reads_only_the_history_of_a_file(self):
        """A 4 GiB file is decoded from its first 1648 bytes, its size told, nothing more read."""
        result = subprocess.run([B.cardhist, "--json", "huge.cfg"], cwd=self.work,
                                capture_output=True, text=True, timeout=10)
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertIn("%d bytes past the 1648 of the history" % ((1 << 32) - 1648), result.stdout)

    def test_propctl_names_an_unreadable_store(self):
        """Not shown as an empty store (root reads any file: then propctl runs as user 65534)."""
        path = os.path.join(self.work, "properties")
        os.chmod(path, 0)
        os.chmod(self.work, 0o755)
        prefix = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
        for command in (["list"], ["get", "a"]):
            with self.subTest(command=command):
                result = subprocess.run((prefix if os.geteuid() == 0 else []) +
                                        [B.propctl, "--root", self.work] + command,
                                        capture_output=True, text=True)
                if "setpriv" in result.stderr:
                    self.skipTest("cannot run as user 65534: " + result.stderr.strip())
                self.assertEqual((1, "", "propctl: %s: Permission denied\n" % path),
                                 (result.returncode, result.stdout, result.stderr))
