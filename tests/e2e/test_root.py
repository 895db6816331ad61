"""The host daemon refuses a root it cannot use with one line and exit status 2, touching nothing,
and takes every root it can use. An unset or empty MODEMPREP_ROOT would mean the machine's own /,
so those cases run the daemon in a chroot of its own (/proc mounted in a private mount namespace
for the sanitizer runtimes), compared before and after; a control run with MODEMPREP_ROOT=/ there
shows that a daemon which does write is seen. Cases that need root skip without.
"""
import os
import shutil
import subprocess
import tempfile
import time
import unittest

from mpharness import Build

UNSHARE = ["unshare", "--mount", "--propagation", "private"]
NOT_SET = "MODEMPREP_ROOT is not set (it names the directory that stands for / on the phone)"


def snapshot(directory):
    """Every path below `directory` with its type, size and modification time, but for the counts
    a coverage build's daemon writes at its build's path (in the chroot, a copy of that path)."""
    counts = directory + Build().directory
    stats = {os.path.join(parent, n): os.lstat(os.path.join(parent, n))
             for parent, dirs, files in os.walk(directory) for n in dirs + files}
    return {path: (i.st_mode, i.st_size, i.st_mtime_ns) for path, i in stats.items()
            if not (counts + "/").startswith(path + "/") and not path.startswith(counts + "/")}


def run_daemon(argv, root, store):
    """Runs the daemon (MODEMPREP_ROOT=root, None: unset) until it ends or writes `store`, the
    property store of the root it took, then kills it; (status, None: it ran; stdout; stderr)."""
    env = {k: v for k, v in os.environ.items() if k != "MODEMPREP_ROOT"}
    env.update({} if root is None else {"MODEMPREP_ROOT": root})
    daemon = subprocess.Popen(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              text=True)
    deadline = time.monotonic() + 20
    while daemon.poll() is None and not os.path.exists(store) and time.monotonic() < deadline:
        time.sleep(0.02)
    ran = daemon.poll() is None
    daemon.terminate()  # a coverage build's daemon writes its counts on SIGTERM
    stdout, stderr = daemon.communicate()
    return None if ran else daemon.returncode, stdout, stderr


class RootTest(unittest.TestCase):
    def setUp(self):
        self.build = Build().check()
        self.work = self.enterContext(tempfile.TemporaryDirectory(prefix="mpr", dir="/tmp"))
        os.chmod(self.work, 0o755)

    def need_root(self, namespaces=False):
        if os.geteuid() != 0:
            self.skipTest("needs root")
        probe = subprocess.run(UNSHARE + ["true"], capture_output=True, text=True)
        if namespaces and probe.returncode != 0:
            self.skipTest("no private mount namespace here: %s" % probe.stderr.strip())

    def test_unset_or_empty_root_touches_nothing(self):
        self.need_root(namespaces=True)
        jail = self.work
        ldd = subprocess.run(["ldd", self.build.daemon], capture_output=True, text=True).stdout
        for path in (w for line in ldd.splitlines() for w in line.split() if w.startswith("/")):
            os.makedirs(os.path.dirname(jail + path), exist_ok=True)
            shutil.copy(path, jail + path)
        shutil.copy(self.build.daemon, jail + "/modemprep")
        for sub in ("proc", "dev", "amt", "data/vantorel/radio"):
            os.makedirs(os.path.join(jail, sub))
        before = snapshot(jail)
        jailed = UNSHARE + ["sh", "-c", 'mount -t proc proc "$0/proc" && exec chroot "$0" '
                            "/modemprep", jail]
        for root in (None, ""):
            with self.subTest(root=root):
                result = run_daemon(jailed, root, jail + "/properties")
                self.assertEqual((2, "", 'modemprep: root "": %s\n' % NOT_SET), result)
                self.assertEqual(before, snapshot(jail))
        # Control: the same chroot with "/" as the root is written to at once.
        self.assertIsNone(run_daemon(jailed, "/", jail + "/properties")[0])
        self.assertIn(jail + "/properties", snapshot(jail))

    def test_roots_usable_or_not_and_arguments(self):
        """A daemon that ignored its arguments would boot on the usable root and write there."""
        work = self.work
        # <root>/dev/uevent.sock must fit a Unix socket path: 107 bytes.
        longest = os.path.join(work, "d" * (107 - len("/dev/uevent.sock") - len(work) - 1))
        for directory in (longest, longest + "d", work + "/ro", work + "/user"):
            os.makedirs(directory, mode=0o755)
        read_only = UNSHARE + ["sh", "-c", 'mount --bind "$0" "$0" && mount -o remount,bind,ro '
                               '"$0" && exec "$1"', work + "/ro"]
        as_user = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
        unexpected = 'modemprep: unexpected argument "%s" (try --help)\n'
        # (root, command prefix, arguments, status (None: runs on it), stdout starts with, stderr)
        # (A missing root, a file, --help and an unknown option: the contract, e2e.test_tools.)
        cases = [(root, prefix, [], 2, "", 'modemprep: root "%s": %s\n' % (root, reason))
                 for root, prefix, reason in (
                     (longest + "d", [], "too long: <root>/dev/uevent.sock must fit a Unix socket "
                      "path (107 bytes)"),
                     (work + "/ro", read_only, "Read-only file system"),
                     (work + "/user", as_user, "Permission denied"))] + [
            (longest, [], ["--version"], 0, "modemprep ", ""),
            (longest, [], ["--help", "x"], 2, "", unexpected % "x"),
            (longest, [], [], None, "", None)]
        for root, prefix, args, status, stdout, stderr in cases:
            with self.subTest(root=root[len(work):], args=args):
                if prefix:
                    self.need_root(namespaces=prefix is read_only)
                before = snapshot(work)
                result = run_daemon(prefix + [self.build.daemon] + args, root, root + "/properties")
                if prefix is as_user and "exec" in result[2]:
                    self.skipTest("user 65534 cannot run the build: " + result[2].strip())
                if status is None:
                    self.assertIsNone(result[0], result[2])
                    continue
                self.assertEqual((status, stderr), (result[0], result[2]))
                self.assertTrue(result[1].startswith(stdout) and (stdout == "") == (
                    result[1] == ""), result[1])
                self.assertEqual(before, snapshot(work))
