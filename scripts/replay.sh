#!/usr/bin/env bash
# Replays one start of the daemon from a field radio log, or the radio log of a bug report, against
# the current build and compares the runs (tools/replay/replay.py). Without a build tree named
# (--build DIR or $MODEMPREP_BUILD) it first builds the programs into build/. Paths are taken
# relative to where it was typed.
# Usage: scripts/replay.sh LOG | --bugreport FILE [--history radio.cfg] [--boot N] [--fast] [--keep]
#        (--help)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
export PYTHONPATH="$repo/tools${PYTHONPATH:+:$PYTHONPATH}"
exec python3 "$repo/tools/replay/replay.py" "$@"
