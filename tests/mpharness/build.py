"""Where the programs under test are: a build tree of the default preset, and the scenarios."""
import json
import os

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCENARIOS = os.path.join(REPO, "tools", "modemsim", "scenarios")


class HarnessError(RuntimeError):
    """A tool the harness drives is missing or failed: the rig is broken, not the daemon."""


class Build:
    """The programs of one build tree. Without a directory: $MODEMPREP_BUILD, else <repo>/build."""

    def __init__(self, directory=None):
        directory = directory or os.environ.get("MODEMPREP_BUILD") or os.path.join(REPO, "build")
        self.directory = os.path.abspath(directory)
        self.daemon = self.path("modemprep")
        self.modemsim = self.path("tools", "modemsim", "modemsim")
        self.ueventsend = self.path("tools", "ueventsend", "ueventsend")
        self.propctl = self.path("tools", "propctl", "propctl")
        self.cardhist = self.path("tools", "cardhist", "cardhist")

    def path(self, *parts):
        return os.path.join(self.directory, *parts)

    def check(self):
        """Raises HarnessError naming the first program that is not built."""
        for program in (self.daemon, self.modemsim, self.ueventsend, self.propctl, self.cardhist):
            if not os.access(program, os.X_OK):
                raise HarnessError("missing %s: build the default preset first" % program)
        return self


def scenario(name, **changes):
    """A scenario of tools/modemsim/scenarios (name without .json), top-level keys replaced."""
    with open(os.path.join(SCENARIOS, name + ".json")) as f:
        data = json.load(f)
    data.update(changes)
    return data
