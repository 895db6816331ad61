#!/usr/bin/env bash
# Runs the benchmark (bench/run.py) with the harness package of tests/ importable.
# Usage: bench/run.sh [--quick] [--json FILE] [--build DIR] [--runs N]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
export PYTHONPATH="$repo/tests${PYTHONPATH:+:$PYTHONPATH}"
exec python3 "$repo/bench/run.py" "$@"
