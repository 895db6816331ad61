#!/usr/bin/env bash
# Replays one start of the daemon from a field radio log against the current build and compares
# the runs (tools/replay/replay.py). Builds what it needs first.
# Usage: scripts/replay.sh LOG [--history radio.cfg] [--boot N] [--fast] [--keep]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
cmake --preset default >/dev/null
# Every program the harness checks for, not only those the replay runs.
cmake --build --preset default --target modemprep modemsim ueventsend propctl cardhist radioplan \
  >/dev/null
export PYTHONPATH="$repo/tests${PYTHONPATH:+:$PYTHONPATH}"
exec python3 "$repo/tools/replay/replay.py" "$@"
