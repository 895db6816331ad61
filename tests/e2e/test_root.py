"""The host daemon refuses a root it cannot use with one line and exit status 2, touching nothing.

An unset or empty MODEMPREP_ROOT would mean the machine's own /, so those cases run the daemon
in a chroot of its own (its binary and libraries copied in, /proc mounted in a private mount
namespace for the sanitizer runtimes): whatever it did would land there, and the test compares
the chroot before and after. A control run with MODEMPREP_ROOT=/ in the same chroot shows that a
daemon which does write is seen. These cases need root (chroot, mount); without it they skip.
"""
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from mpharness import Build

UNSHARE = ["unshare", "--mount", "--propagation", "private"]


def snapshot(directory):
    """Every path below `directory` with its type, size and modification time."""
    out = {}
    for parent, dirs, files in os.walk(directory):
        for name in dirs + files:
            path = os.path.join(parent, name)
            info = os.lstat(path)
            out[os.path.relpath(path, directory)] = (info.st_mode, info.st_size, info.st_mtime_ns)
    return out


def libraries(binary):
    """The shared libraries the dynamic loader maps for `binary`, the loader included."""
    listing = subprocess.run(["ldd", binary], capture_output=True, text=True, check=True).stdout
    paths = []
    for line in listing.splitlines():
        words = line.split()
        if "=>" in words and len(words) > words.index("=>") + 1:
            paths.append(words[words.index("=>") + 1])
        elif words and words[0].startswith("/"):
            paths.append(words[0])
    return [p for p in paths if p.startswith("/")]


def finish(process, timeout=10):
    """The process's result; one still running after `timeout` s is killed first."""
    try:
        stdout, stderr = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        stdout, stderr = process.communicate()
    return subprocess.CompletedProcess(process.args, process.returncode, stdout, stderr)


def need_root_namespaces(test):
    if os.geteuid() != 0:
        test.skipTest("chroot and mount namespaces need root")
    probe = subprocess.run(UNSHARE + ["true"], capture_output=True, text=True)
    if probe.returncode != 0:
        test.skipTest("private mount namespaces are not permitted here: %s" % probe.stderr.strip())


class RootRefusedTest(unittest.TestCase):
    def setUp(self):
        self.build = Build().check()

    def scratch(self):
        directory = tempfile.mkdtemp(prefix="mpr", dir="/tmp")
        self.addCleanup(shutil.rmtree, directory, ignore_errors=True)
        return directory

    def assertRefused(self, result, root_shown, reason):
        self.assertEqual(2, result.returncode, result.stderr)
        self.assertEqual("", result.stdout)
        self.assertEqual(['modemprep: root "%s": %s' % (root_shown, reason)],
                         result.stderr.splitlines())

    def jail(self):
        """A directory holding the daemon as /modemprep with its libraries, and the phone's
        directories, so that a daemon which ran on "/" would find where to write."""
        jail = self.scratch()
        for path in libraries(self.build.daemon):
            os.makedirs(os.path.dirname(jail + path), exist_ok=True)
            shutil.copy(path, jail + path)
        shutil.copy(self.build.daemon, os.path.join(jail, "modemprep"))
        for sub in ("proc", "dev", "amt", "data/vantorel/radio"):
            os.makedirs(os.path.join(jail, sub))
        return jail

    def run_jailed(self, jail, root):
        """The daemon in the chroot; root None: MODEMPREP_ROOT unset."""
        env = {k: v for k, v in os.environ.items() if k != "MODEMPREP_ROOT"}
        if root is not None:
            env["MODEMPREP_ROOT"] = root
        script = 'mount -t proc proc "$1/proc" && exec chroot "$1" /modemprep'
        return subprocess.Popen(UNSHARE + ["sh", "-c", script, "sh", jail], env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def test_unset_or_empty_root_touches_nothing(self):
        need_root_namespaces(self)
        jail = self.jail()
        before = snapshot(jail)
        for root in (None, ""):
            with self.subTest(root=root):
                self.assertRefused(finish(self.run_jailed(jail, root)), "",
                                   "MODEMPREP_ROOT is not set (it names the directory that "
                                   "stands for / on the phone)")
                self.assertEqual(before, snapshot(jail))
        # Control: the same chroot with "/" as the root is written to at once.
        daemon = self.run_jailed(jail, "/")
        deadline = time.monotonic() + 20
        while not os.path.exists(os.path.join(jail, "properties")) and daemon.poll() is None \
                and time.monotonic() < deadline:
            time.sleep(0.05)
        daemon.send_signal(signal.SIGKILL)
        finish(daemon)
        self.assertIn("properties", snapshot(jail))

    def test_unusable_roots(self):
        work = self.scratch()
        a_file = os.path.join(work, "file")
        open(a_file, "w").close()
        # 107 bytes is the most a Unix socket path holds, "/dev/uevent.sock" included.
        long_root = os.path.join(work, "d" * (108 - len(work) - len("/dev/uevent.sock")))
        os.makedirs(long_root)
        cases = [  # (name, root, reason)
            ("missing", os.path.join(work, "missing"), "No such file or directory"),
            ("a file", a_file, "not a directory"),
            ("too long for the uevent socket", long_root,
             "too long: <root>/dev/uevent.sock must fit a Unix socket path (107 bytes)"),
        ]
        for name, root, reason in cases:
            with self.subTest(name):
                before = snapshot(work)
                result = subprocess.run([self.build.daemon], env=dict(os.environ,
                                                                      MODEMPREP_ROOT=root),
                                        capture_output=True, text=True, timeout=20)
                self.assertRefused(result, root, reason)
                self.assertEqual(before, snapshot(work))

    def test_read_only_root(self):
        """A root mounted read-only, which access() reports for root too."""
        need_root_namespaces(self)
        root = self.scratch()
        os.makedirs(os.path.join(root, "dev"))
        before = snapshot(root)
        script = ('mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" && '
                  'MODEMPREP_ROOT="$1" exec "$2"')
        result = subprocess.run(UNSHARE + ["sh", "-c", script, "sh", root, self.build.daemon],
                                capture_output=True, text=True, timeout=20)
        self.assertRefused(result, root, "Read-only file system")
        self.assertEqual(before, snapshot(root))

    def test_root_not_writable_for_the_user(self):
        if os.geteuid() != 0:
            self.skipTest("switching to another user needs root")
        root = self.scratch()  # 0700, owned by root
        os.chmod(root, 0o755)
        before = snapshot(root)
        result = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                 self.build.daemon], env=dict(os.environ, MODEMPREP_ROOT=root),
                                capture_output=True, text=True, timeout=20)
        if "Permission denied" in result.stderr and "exec" in result.stderr:
            self.skipTest("the build tree is not readable by user 65534")
        self.assertRefused(result, root, "Permission denied")
        self.assertEqual(before, snapshot(root))


class CommandLineTest(unittest.TestCase):
    """--help and --version print and exit 0; anything else is a usage error. A usable root is
    set, so a daemon that ignored its arguments would boot there, not on the machine's /."""

    def test_arguments(self):
        build = Build().check()
        root = tempfile.mkdtemp(prefix="mpa", dir="/tmp")
        self.addCleanup(shutil.rmtree, root, ignore_errors=True)
        cases = [  # (arguments, status, stdout starts with, stderr)
            (["--help"], 0, "usage: MODEMPREP_ROOT=DIR modemprep\n", ""),
            (["--version"], 0, "modemprep ", ""),
            (["--bogus"], 2, "", 'modemprep: unexpected argument "--bogus" (try --help)\n'),
            (["--help", "x"], 2, "", 'modemprep: unexpected argument "x" (try --help)\n'),
            (["run"], 2, "", 'modemprep: unexpected argument "run" (try --help)\n'),
        ]
        for argv, status, stdout, stderr in cases:
            with self.subTest(argv=argv):
                result = subprocess.run([build.daemon] + argv, capture_output=True, text=True,
                                        env=dict(os.environ, MODEMPREP_ROOT=root), timeout=20)
                self.assertEqual(status, result.returncode)
                self.assertTrue(result.stdout.startswith(stdout), result.stdout)
                self.assertEqual(stdout == "", result.stdout == "")
                self.assertEqual(stderr, result.stderr)
                self.assertEqual([], os.listdir(root))


if __name__ == "__main__":
    unittest.main()
