#!/usr/bin/env bash
# Builds the default preset and runs every test (unit, end-to-end, slow fault cases).
# Usage: scripts/test.sh [PRESET] [extra ctest arguments...]   PRESET: default (the default) or asan
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
shift || true
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" "$@"
