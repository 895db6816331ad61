"""The command-line contract of the project's Python programs, as the C++ tools keep it: --help on
standard output with status 0; a bad command line is one line on standard error naming the
argument, status 2; a file that cannot be used is one line naming it and the reason, status 1."""
import argparse
import os
import stat
import subprocess
import sys

USAGE_STATUS, RUNTIME_STATUS = 2, 1


class HelpFormatter(argparse.HelpFormatter):
    """"Usage:" as the C++ tools write it (and help2man reads it)."""

    def add_usage(self, usage, actions, groups, prefix=None):
        super().add_usage(usage, actions, groups, "Usage: " if prefix is None else prefix)


class ArgumentParser(argparse.ArgumentParser):
    """argparse with the usage error on one line (argparse prints the usage before it)."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, formatter_class=HelpFormatter, **kwargs)

    def error(self, message):
        self.exit(USAGE_STATUS, "%s: %s (try --help)\n" % (self.prog, message))


class _Version(argparse.Action):
    """--version: the package's version, as every program prints it (`version`), else the one
    the build tree's daemon prints."""

    def __init__(self, option_strings, dest, version=None, **kwargs):
        super().__init__(option_strings, dest, nargs=0, help="print the version and exit",
                         **kwargs)
        self.version = version

    def __call__(self, parser, namespace, values, option_string=None):
        version = self.version
        if version is None:
            from mpharness import Build  # the harness imports this module's callers only
            daemon = Build().daemon
            try:
                said = subprocess.run([daemon, "--version"], capture_output=True, text=True,
                                      timeout=10).stdout
            except OSError:
                said = ""
            if not said.startswith("modemprep "):
                parser.exit(RUNTIME_STATUS, "%s: no version without a build: %s is not built\n"
                            % (parser.prog, daemon))
            version = said.split(" ", 1)[1].strip()
        print("%s %s" % (parser.prog, version))
        parser.exit(0)


def add_version(parser, version=None):
    """Gives `parser` the --version of every program."""
    parser.add_argument("--version", action=_Version, version=version)


class InputError(Exception):
    """A named file that cannot be used: str() is "PATH: reason"."""


def check_input(path, what=None, folder=False):
    """Raises InputError unless path is a file that can be read (a pipe given on purpose is one),
    or, with folder, a folder; what, e.g. "scenario", goes before the path in the message."""
    where = "%s %s" % (what, path) if what else path
    try:
        mode = os.stat(path).st_mode
        if stat.S_ISDIR(mode):
            if folder:
                return path
            raise InputError("%s: is a directory" % where)
        with open(path, "rb"):
            pass
    except OSError as error:
        raise InputError("%s: %s" % (where, error.strerror))
    return path


def fail(tool, message, status=RUNTIME_STATUS):
    """Ends the program with one line on standard error."""
    print("%s: %s" % (tool, message), file=sys.stderr)
    sys.exit(status)
