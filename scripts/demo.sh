#!/usr/bin/env bash
# Boots the host daemon against the modem simulator in a fresh root and reports what it did
# (scripts/demo.py). Without a build tree named (--build DIR or $MODEMPREP_BUILD) it first
# installs what a fresh Debian machine lacks and builds the programs into build/.
# Usage: scripts/demo.sh [SCENARIO.json] [--msms DIGITS] [--keep] [--files]   (--help for more)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
export PYTHONPATH="$repo/tools${PYTHONPATH:+:$PYTHONPATH}"
exec python3 "$repo/scripts/demo.py" "$@"
