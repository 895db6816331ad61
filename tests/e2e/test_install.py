"""cmake --install into a temporary prefix gives working programs: each installed program answers
--help and has a man page and bash completion; installed radioplan explains a what-if and the
shipped phone-state sample (the installed replay against the installed daemon: the README's
install block, e2e.test_quickstart); cpack packs the same files into a .deb."""
import glob
import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest

from mpharness import Build

PROGRAMS = ("modemprep", "radioplan", "modemsim", "propctl", "cardhist", "ueventsend",
            "modemprep-replay")


def run(argv, **kwargs):
    return subprocess.run(argv, capture_output=True, text=True, timeout=300, **kwargs)


class InstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.build = Build().check()
        cls.prefix = tempfile.mkdtemp(prefix="mpinstall")
        installed = run(["cmake", "--install", cls.build.directory, "--prefix", cls.prefix])
        assert installed.returncode == 0, installed.stderr

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.prefix, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.prefix, *parts)

    def test_every_program_answers_help_with_a_man_page_and_completion(self):
        for program in PROGRAMS:
            with self.subTest(program):
                result = run([self.path("bin", program), "--help"], cwd=self.prefix)
                self.assertEqual((0, ""), (result.returncode, result.stderr))
                self.assertTrue(result.stdout.startswith("Usage: "), result.stdout[:80])
                page = pathlib.Path(self.path("share", "man", "man1", program + ".1")).read_text()
                self.assertIn(".SH NAME\n%s \\- " % program, page)
                self.assertIn(".SH SYNOPSIS\n.B %s\n" % program, page)
                self.assertTrue(os.path.isfile(
                    self.path("share", "bash-completion", "completions", program)))
        # Options from the program's own --help, values from the program itself.
        completion = run(["bash", "-c", 'source "$0"; for words in "--ta" "--target c"; do '
                          'COMP_WORDS=("$1" $words); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); '
                          '_modemprep_tools; echo "${COMPREPLY[*]}"; done',
                          self.path("share", "bash-completion", "completions", "radioplan"),
                          self.path("bin", "radioplan")])
        self.assertEqual("--target\ncmcc cucc ctc\n", completion.stdout)

    def test_installed_programs_work_together(self):
        sample = self.path("share", "modemprep", "sample")
        radioplan = self.path("bin", "radioplan")
        for args, says in (
                (["--target", "cucc", "--slot0", "usim-home", "--brief"], "code 10"),
                (["--props", "getprop.txt", "--history", "radio.cfg", "--rild", "rild.cfg0",
                  "--rild", "rild.cfg1"], "agrees on all 10 values compared")):
            with self.subTest(args=args):
                result = run([radioplan, *args], cwd=sample)
                self.assertEqual((0, ""), (result.returncode, result.stderr))
                self.assertIn(says, result.stdout)

    @unittest.skipUnless(shutil.which("dpkg-shlibdeps"), "dpkg-dev is not installed "
                         "(scripts/install-packages.sh --package)")
    def test_cpack_makes_a_deb_of_the_same_files(self):
        out = self.enterContext(tempfile.TemporaryDirectory(prefix="mpdeb"))
        packed = run(["cpack", "-G", "DEB", "-B", out, "--config",
                      self.build.path("CPackConfig.cmake")])
        self.assertEqual(0, packed.returncode, packed.stdout + packed.stderr)
        listing = run(["dpkg-deb", "--contents", *glob.glob(os.path.join(out, "*.deb"))]).stdout
        self.assertEqual(sorted(os.path.relpath(os.path.join(parent, name), self.prefix)
                                for parent, _, names in os.walk(self.prefix) for name in names),
                         sorted(line.split()[-1][len("./usr/"):] for line in listing.splitlines()
                                if not line.startswith("d")))
