#!/usr/bin/env bash
# Builds the daemon and its tools, then boots the host daemon against the modem simulator in a
# fresh root and reports what it did. Usage: scripts/demo.sh [SCENARIO.json] [--keep]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default --target modemprep modemsim ueventsend propctl cardhist >/dev/null
export PYTHONPATH="$PWD/tests${PYTHONPATH:+:$PYTHONPATH}"
exec python3 scripts/demo.py "$@"
