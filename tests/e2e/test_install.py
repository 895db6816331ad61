"""cmake --install into a temporary prefix gives working programs: each installed program answers
--help and has a man page of its installed self (gzipped, the daemon in section 8, with the
version it prints) and bash completion; installed radioplan explains a what-if and the shipped
phone-state sample (the installed replay against the installed daemon: the README's install
block, e2e.test_quickstart); cpack from the checkout packs the same files, with the copyright
file, into a .deb in the build tree and leaves the checkout as it was."""
import glob
import gzip
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
                version = run([self.path("bin", program), "--version"]).stdout.split(" ", 1)[1]
                section = "8" if program == "modemprep" else "1"
                page = gzip.decompress(pathlib.Path(self.path(
                    "share", "man", "man" + section, "%s.%s.gz" % (program, section))).read_bytes(
                )).decode()
                self.assertIn(".SH NAME\n%s \\- " % program, page)
                self.assertIn(".SH SYNOPSIS\n.B %s\n" % program, page)
                self.assertIn('"%s %s"' % (program, version.strip()), page)
                self.assertTrue(os.path.isfile(
                    self.path("share", "bash-completion", "completions", program)))
        replay_page = gzip.decompress(pathlib.Path(self.path(
            "share", "man", "man1", "modemprep-replay.1.gz")).read_bytes()).decode()
        self.assertIn("installed beside it", replay_page)
        self.assertTrue(os.path.isfile(self.path("share", "doc", "modemprep-tools", "copyright")))
        # Options and subcommands from the program's own --help, values from the program itself.
        for program, words, offered in (
                ("radioplan", "--ta", "--target"), ("radioplan", "--target c", "cmcc cucc ctc"),
                ("radioplan", "--slot1 usim-", "usim-home usim-domestic usim-foreign"),
                ("propctl", "--root /tmp ", "get set list reboot"),
                ("modemsim", "ctl remove", "remove remove-quiet")):
            with self.subTest(program, completing=words):
                completion = run(["bash", "-c", 'source "$0"; read -ra words <<<"$2"; '
                                  'COMP_WORDS=("$1" "${words[@]}"); [[ $2 == *" " ]] && '
                                  'COMP_WORDS+=(""); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); '
                                  '_modemprep_tools; echo "${COMPREPLY[*]}"', self.path(
                                      "share", "bash-completion", "completions", program),
                                  self.path("bin", program), words])
                self.assertEqual(offered + "\n", completion.stdout)

    def test_installed_programs_work_together(self):
        """radioplan on what-if cards and on the shipped sample; the replay against the installed
        daemon, or the build tree --build names (a missing one refused)."""
        sample = self.path("share", "modemprep", "sample")
        log = os.path.join(os.path.dirname(os.path.dirname(__file__)), "replay", "two_cards.log")
        environment = {k: v for k, v in os.environ.items() if k != "MODEMPREP_BUILD"}
        for program, args, status, says in (
                ("radioplan", ["--target", "cucc", "--slot0", "usim-home", "--brief"], 0,
                 "code 10"),
                ("radioplan", ["--props", "getprop.txt", "--history", "radio.cfg", "--rild",
                               "rild.cfg0", "--rild", "rild.cfg1"], 0,
                 "agrees on all 10 values compared"),
                ("modemprep-replay", ["--fast", "--boot", "1", log], 0, "same: "),
                ("modemprep-replay", ["--build", "/nonexist", "--fast", "--boot", "1", log], 1,
                 "replay: missing /nonexist/modemprep: build the default preset first\n")):
            with self.subTest(program, args=args):
                result = run([self.path("bin", program), *args], cwd=sample, env=environment)
                self.assertEqual(status, result.returncode, result.stderr)
                self.assertIn(says, result.stderr if status else result.stdout)

    @unittest.skipUnless(shutil.which("dpkg-shlibdeps"), "dpkg-dev is not installed "
                         "(scripts/install-packages.sh --package)")
    def test_cpack_makes_a_deb_of_the_same_files(self):
        out = self.build.path("package")
        shutil.rmtree(out, ignore_errors=True)
        self.addCleanup(shutil.rmtree, out, True)
        checkout = os.path.dirname(os.path.dirname(os.path.dirname(__file__)))
        before = sorted(os.listdir(checkout))
        packed = run(["cpack", "-G", "DEB", "--config", self.build.path("CPackConfig.cmake")],
                     cwd=checkout)
        self.assertEqual(0, packed.returncode, packed.stdout + packed.stderr)
        self.assertEqual(before, sorted(os.listdir(checkout)))
        listing = run(["dpkg-deb", "--contents", *glob.glob(os.path.join(out, "*.deb"))]).stdout
        self.assertEqual(sorted(os.path.relpath(os.path.join(parent, name), self.prefix)
                                for parent, _, names in os.walk(self.prefix) for name in names),
                         sorted(line.split()[-1][len("./usr/"):] for line in listing.splitlines()
                                if not line.startswith("d")))
