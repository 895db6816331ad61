#!/usr/bin/env bash
# Usage: scripts/test.sh [PRESET] [extra ctest arguments...]   PRESET: default (the default) or asan
# Installs what a fresh Debian machine lacks, builds a preset and runs every test under CTest
# (unit, end-to-end, slow fault cases). Exit status: 0 every test passed, 2 a bad command line,
# otherwise the build's or CTest's.
set -euo pipefail
cd "$(dirname "$0")/.."
case ${1:-} in
  -h | --help)
    sed -n '2,5s/^# \{0,1\}//p' "$0"
    exit 0
    ;;
esac
preset=${1:-default}
shift || true
if [ "$preset" != default ] && [ "$preset" != asan ]; then
  echo "test.sh: unknown preset \"$preset\": default or asan (try --help)" >&2
  exit 2
fi
scripts/install-packages.sh --build --package
# The radio-plan page is checked in a headless browser when there is one; as root it is installed.
# A browser that cannot be fetched only skips that check (the test says so), never the suite.
if [ "$(id -u)" -eq 0 ] && ! scripts/install-packages.sh chromium; then
  echo "test.sh: chromium could not be installed; the radio-plan page check will be skipped" >&2
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" "$@"
