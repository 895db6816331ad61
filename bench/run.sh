#!/usr/bin/env bash
# Runs the benchmark (bench/run.py) with the harness package of tests/ importable, after
# installing the measuring tools it needs when the machine lacks them.
# Usage: bench/run.sh [--quick] [--json FILE] [--build DIR] [--runs N]   (--help for more)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
export PYTHONPATH="$repo/tools${PYTHONPATH:+:$PYTHONPATH}"
for arg in "$@"; do
  if [ "$arg" = --help ] || [ "$arg" = -h ]; then exec python3 "$repo/bench/run.py" --help; fi
done
# strace: system calls per exchange; valgrind: instructions; binutils: addr2line and size.
"$repo/scripts/install-packages.sh" strace valgrind binutils python3
exec python3 "$repo/bench/run.py" "$@"
