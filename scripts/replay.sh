#!/usr/bin/env bash
# Replays one start of the daemon from a field radio log, or the radio log of a bug report, against
# the current build and compares the runs (tools/replay/replay.py). Builds what it needs first.
# Usage: scripts/replay.sh LOG | --bugreport FILE [--history radio.cfg] [--boot N] [--fast] [--keep]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
export PYTHONPATH="$repo/tools${PYTHONPATH:+:$PYTHONPATH}"
cmake --preset default >/dev/null
# Every program the harness checks for, not only those the replay runs.
cmake --build --preset default --target $(python3 -c 'import mpharness; print(*mpharness.TARGETS)') \
  >/dev/null
exec python3 "$repo/tools/replay/replay.py" "$@"
