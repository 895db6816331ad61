#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, builds the daemon and its tools, then boots the
# host daemon against the modem simulator in a fresh root and reports what it did.
# Usage: scripts/demo.sh [SCENARIO.json] [--msms DIGITS] [--keep]   (--help for more)
set -euo pipefail
cd "$(dirname "$0")/.."
export PYTHONPATH="$PWD/tools${PYTHONPATH:+:$PYTHONPATH}"
for arg in "$@"; do
  # Help needs no build.
  if [ "$arg" = --help ] || [ "$arg" = -h ]; then exec python3 scripts/demo.py --help; fi
done
scripts/install-packages.sh --build
log=build/demo-build.log
mkdir -p build
echo "demo: building the daemon and its tools in build/ (about a minute the first time)..."
# The programs the harness checks for.
targets=$(python3 -c 'import mpharness; print(*mpharness.TARGETS)')
if ! { cmake --preset default && cmake --build --preset default --target $targets; } >"$log" 2>&1; then
  tail -30 "$log" >&2
  echo "demo: the build failed; its whole output is in $log" >&2
  exit 1
fi
exec python3 scripts/demo.py "$@"
