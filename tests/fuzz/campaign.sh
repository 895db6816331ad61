#!/usr/bin/env bash
# A long fuzzing session: each target in turn (all, or the ones named) for SECONDS on every core
# (libFuzzer workers sharing one corpus), after replaying its regressions/ inputs. The corpus grows
# across sessions in build-fuzz/campaign/<target>/corpus (seeded from the checked-in one); each
# session's executions are added to build-fuzz/campaign/<target>/sessions. Prints per target the
# executions of this session and of all sessions, the coverage the corpus reaches (edges and
# features, as libFuzzer counts them) and what was found; exits 1 when anything was found (kept
# under build-fuzz/findings/<target>/). Run it under `nice` on a shared machine.
set -u

usage="Usage: tests/fuzz/campaign.sh [--jobs N] SECONDS [TARGET...]   (N: default all cores)"
jobs=$(nproc)
case ${1:-} in
  -h | --help)
    sed -n '2,8s/^# \{0,1\}//p' "$0"
    echo "$usage"
    exit 0
    ;;
  --jobs)
    jobs=${2:-}
    shift 2 || true
    ;;
esac
for number in "$jobs" "${1:-}"; do
  case $number in
    "" | *[!0-9]* | 0)
      echo "campaign.sh: \"$number\" is not a positive number (try --help)" >&2
      exit 2
      ;;
  esac
done
seconds=$1
shift
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=targets.sh
. "$root/tests/fuzz/targets.sh"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${fuzz_targets[@]}")
for t in "${targets[@]}"; do fuzz_check_target "$t"; done

cd "$root" || exit 2
fuzz_build "${targets[@]}" || exit 2

# Sum of a libFuzzer statistic over the workers' logs in directory $1.
sum_stat() {
  sed -n "s/^stat::$2: *//p" "$1"/fuzz-*.log | awk '{s += $1} END {print s + 0}'
}

status=0
for t in "${targets[@]}"; do
  home="$root/build-fuzz/campaign/$t"
  findings="$root/build-fuzz/findings/$t"
  logs="$home/logs.$(date +%Y%m%d-%H%M%S)"
  mkdir -p "$home/corpus" "$logs" "$findings"
  compgen -G "$home/corpus/*" >/dev/null || cp "$fuzz_here/corpus/$t/"* "$home/corpus/"
  regress=ok
  fuzz_regressions "$t" "$logs/regressions.log" || regress=FAILED
  before=$(find "$findings" -type f | wc -l)

  echo "$t: fuzzing for $seconds s on $jobs cores..."
  fuzz_options "$t"
  # A niced worker on a busy machine can wait seconds for a core: a hang is 60 s here.
  (cd "$logs" && "$fuzz_bin/$t" "${fuzz_opts[@]}" -timeout=60 -max_total_time="$seconds" \
    -print_final_stats=1 -jobs="$jobs" -workers="$jobs" -reload=1 "$home/corpus" \
    >"$logs/jobs.log" 2>&1)
  execs=$(sum_stat "$logs" number_of_executed_units)
  echo "$(date -u +%FT%TZ) $seconds $jobs $execs" >>"$home/sessions"
  total=$(awk '{s += $4} END {print s + 0}' "$home/sessions")
  sessions=$(wc -l <"$home/sessions")
  # The coverage of the whole corpus, as one pass over it counts it.
  cov=$("$fuzz_bin/$t" "${fuzz_opts[@]}" -runs=0 "$home/corpus" 2>&1 |
    sed -n 's/.*INITED cov: \([0-9]*\) ft: \([0-9]*\) corp: \([0-9]*\).*/\1 edges, \2 features, \3 inputs/p')
  found=$(($(find "$findings" -type f | wc -l) - before))
  echo "$t: $execs executions in $seconds s ($((execs / seconds))/s); $total over $sessions" \
    "session(s); corpus coverage: ${cov:-?}"
  if [ "$found" -gt 0 ] || [ "$regress" != ok ] ||
    grep -qE "ERROR: |FUZZ_CHECK failed|runtime error" "$logs"/fuzz-*.log; then
    status=1
    echo "$t: FOUND SOMETHING ($found new file(s) in $findings/, regressions $regress); logs in $logs/"
    grep -h -m1 -E "ERROR: |FUZZ_CHECK failed|runtime error" "$logs"/*.log | sort -u | sed 's/^/    /'
  else
    echo "$t: nothing found"
  fi
done
exit $status
