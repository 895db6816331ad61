#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz") and runs each one in turn for SECONDS_PER_TARGET
# seconds (default 30) on a temporary copy of its checked-in corpus; the checked-in corpus is
# never changed. Inputs under regressions/<target>/ are replayed first. Prints, per target, the
# executions and whether anything was found; exits 1 when any target found something (its
# inputs are kept under build-fuzz/findings/<target>/). campaign.sh runs them long, on all cores.
set -u

case ${1:-} in
  -h | --help)
    echo "Usage: tests/fuzz/run.sh [SECONDS_PER_TARGET]"
    sed -n '2,7s/^# \{0,1\}//p' "$0"
    exit 0
    ;;
  "" | *[!0-9]* | 0)
    if [ -n "${1:-}" ]; then
      echo "run.sh: \"$1\" is not a positive number of seconds (try --help)" >&2
      exit 2
    fi
    ;;
esac
seconds=${1:-30}
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=targets.sh
. "$root/tests/fuzz/targets.sh"

cd "$root" || exit 2
fuzz_build "${fuzz_targets[@]}" || exit 2

work=$(mktemp -d /tmp/modemprep-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT

status=0
for t in "${fuzz_targets[@]}"; do
  findings="$root/build-fuzz/findings/$t"
  mkdir -p "$work/$t.corpus"
  cp "$fuzz_here/corpus/$t/"* "$work/$t.corpus/"
  log="$work/$t.log"
  regress="ok"
  fuzz_regressions "$t" "$work/$t.regress.log" || regress="FAILED"

  echo "$t: fuzzing for $seconds s..."
  fuzz_options "$t"
  "$fuzz_bin/$t" "${fuzz_opts[@]}" -max_total_time="$seconds" -print_final_stats=1 \
    "$work/$t.corpus" >"$log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ $rc -ne 0 ] || [ "$regress" != ok ]; then
    status=1
    cp "$log" "$findings/fuzz.log"
    [ "$regress" = ok ] || cp "$work/$t.regress.log" "$findings/regressions.log"
    echo "$t: ${execs:-?} executions, FOUND SOMETHING (exit $rc, regressions $regress); see $findings/"
    grep -m1 -E "ERROR: |FUZZ_CHECK failed|runtime error" "$log" "$work/$t.regress.log" 2>/dev/null |
      sed 's/^/    /'
  else
    echo "$t: ${execs:-?} executions, nothing found"
  fi
done
exit $status
