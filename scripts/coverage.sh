#!/usr/bin/env bash
# Builds the "coverage" preset (gcov counts, -O0) into build-coverage/, runs the whole suite there
# and prints the line and branch coverage of the daemon's sources the host build compiles (src/,
# the Android backend aside; branches the compiler adds for unreachable code or exceptions left
# out) per file, then every line and branch that no test ran. With --check it then fails (exit 1)
# when the totals fall below the floor committed in tests/coverage-floor.txt, less its tolerance.
# Extra arguments go to ctest (e.g. -R unit to iterate; the floor holds for the whole suite only).
# Usage: scripts/coverage.sh [--check] [--report-only] [ctest arguments...]
#   --report-only: report the counts the last run left, without building or running anything.
set -euo pipefail
cd "$(dirname "$0")/.."
check=0
run=1
failed_tests=0
while [ $# -gt 0 ]; do
  case $1 in
    -h | --help)
      sed -n '2,9s/^# \{0,1\}//p' "$0"
      exit 0
      ;;
    --check) check=1 ;;
    --report-only) run=0 ;;
    *) break ;;
  esac
  shift
done
build=build-coverage
floor=tests/coverage-floor.txt

if [ $run -eq 1 ]; then
  scripts/install-packages.sh --build gcovr
  cmake --preset coverage >/dev/null
  cmake --build --preset coverage
  # Counts of an earlier run would add to this one's. Each count file starts empty and writable
  # by anyone: the tests run some programs as another user.
  find "$build" -name '*.gcda' -delete
  find "$build" -name '*.gcno' -exec sh -c 'for n; do : >"${n%.gcno}.gcda"; done' sh {} +
  find "$build" -name '*.gcda' -exec chmod 666 {} +
  # A failing test is reported by ctest; the coverage of what ran is still worth printing.
  # The README's blocks and the installed package are checked on the default build (test.sh).
  if ! ctest --preset coverage -E '^e2e_test_(quickstart|install)$' "$@"; then
    failed_tests=1
    echo "coverage: some tests failed; the figures below count what ran" >&2
  fi
fi

report=$build/coverage.json
gcovr --root . --object-directory "$build" --filter 'src/' --exclude 'src/platform/android/' \
  --exclude-directories "$build/CMakeFiles/[0-9.]+" \
  --exclude-unreachable-branches --exclude-throw-branches --json "$report"
python3 - "$report" "$floor" "$check" <<'PY'
import json, re, sys

report, floor_path, check = sys.argv[1], sys.argv[2], sys.argv[3] == "1"
# A header is seen once through src/ and once through each folder's include root (links to
# src/ folders): one file, its counts added.
files = {}
for f in json.load(open(report))["files"]:
    name = re.sub(r"^.*/include-roots/[^/]+/", "src/", f["file"])
    for line in f["lines"]:
        if line.get("gcovr/noncode"):
            continue
        count, branches = files.setdefault(name, {}).get(line["line_number"], (0, []))
        taken = [b["count"] for b in line["branches"]]
        branches = [a + b for a, b in zip(branches, taken)] if branches else taken
        files[name][line["line_number"]] = (count + line["count"], branches)
rows, missed = [], []
totals = [0, 0, 0, 0]  # lines run, lines, branches taken, branches
for name in sorted(files):
    source = open(name, errors="replace").read().splitlines()
    counts = [0, 0, 0, 0]
    for n, (count, branches) in sorted(files[name].items()):
        text = source[n - 1].strip()
        counts[0] += count > 0
        counts[1] += 1
        if count == 0:
            missed.append("%s:%d: line not run: %s" % (name, n, text))
        taken = [b > 0 for b in branches]
        counts[2] += sum(taken)
        counts[3] += len(taken)
        if count > 0 and not all(taken):
            missed.append("%s:%d: branch %s of %d not taken: %s" % (
                name, n, ",".join(str(i) for i, t in enumerate(taken) if not t),
                len(taken), text))
    totals = [a + b for a, b in zip(totals, counts)]
    rows.append((name, counts))

pct = lambda run, all: 100.0 * run / all if all else 100.0
print("%-44s %15s %17s" % ("file", "lines", "branches"))
for name, (lr, lt, br, bt) in rows + [("TOTAL", totals)]:
    print("%-44s %5d/%-5d%5.1f%% %6d/%-5d%5.1f%%" % (name, lr, lt, pct(lr, lt), br, bt, pct(br, bt)))
print("\nNot run (a line) or not taken (a branch of a line that ran):")
print("\n".join(missed) if missed else "nothing")

if check:
    # "lines P", "branches P" (percent) and "tolerance N" (branches or lines a run may miss
    # besides, for timing).
    floor = {k: float(v) for k, v in (l.split() for l in open(floor_path) if l.strip() and
                                      not l.startswith("#"))}
    failed = False
    for what, run, all in (("lines", totals[0], totals[1]), ("branches", totals[2], totals[3])):
        needed = floor[what] * all / 100.0 - floor["tolerance"]
        if run < needed:
            print("coverage: %s at %.2f%% (%d of %d), below the floor of %.2f%% in %s less %d"
                  % (what, pct(run, all), run, all, floor[what], floor_path, floor["tolerance"]),
                  file=sys.stderr)
            failed = True
    sys.exit(1 if failed else 0)
PY
# Under --check a failing test fails the run as well.
[ $check -eq 0 ] || [ $failed_tests -eq 0 ]
