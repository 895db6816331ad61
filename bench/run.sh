#!/usr/bin/env bash
# Runs the benchmark (bench/run.py) with the harness package of tools/ importable; it installs
# the measuring tools it needs when the machine lacks them.
# Usage: bench/run.sh [--quick] [--json FILE] [--build DIR] [--runs N]   (--help for more)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
export PYTHONPATH="$repo/tools${PYTHONPATH:+:$PYTHONPATH}"
# The command line is checked, and --help answered, before anything is installed.
exec python3 "$repo/bench/run.py" "$@"
