#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz") and runs each one in turn for SECONDS_PER_TARGET
# seconds (default 30) on a temporary copy of its checked-in corpus; the checked-in corpus is
# never changed. Inputs under regressions/<target>/ are replayed first. Prints, per target, the
# executions and whether anything was found; exits 1 when any target found something (its
# inputs are kept under build-fuzz/findings/<target>/).
set -u

case ${1:-} in
  -h | --help)
    echo "Usage: tests/fuzz/run.sh [SECONDS_PER_TARGET]"
    sed -n '2,6s/^# \{0,1\}//p' "$0"
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
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin="$root/build-fuzz/tests/fuzz"
targets=(fuzz_at_exchange fuzz_card_history fuzz_profile_inputs fuzz_uevent fuzz_rild_file)

# Longest input worth trying per target: a few dozen modem chunks, a history file with its cards,
# a line per property, one uevent receive buffer, two old rild files.
declare -A max_len=([fuzz_at_exchange]=4096 [fuzz_card_history]=2048 [fuzz_profile_inputs]=1024
                    [fuzz_uevent]=1024 [fuzz_rild_file]=4096)

cd "$root" || exit 2
# clang's libFuzzer and sanitizer runtimes come with libclang-rt.
scripts/install-packages.sh cmake make clang libclang-rt-14-dev || exit 2
mkdir -p build-fuzz
build_log=build-fuzz/build.log
echo "fuzz: building the targets in build-fuzz/ (a few minutes the first time)..."
if ! { cmake --preset fuzz && cmake --build --preset fuzz --target "${targets[@]}"; } \
    >"$build_log" 2>&1; then
  tail -30 "$build_log" >&2
  echo "fuzz: the build failed; its whole output is in $build_log" >&2
  exit 2
fi

work=$(mktemp -d /tmp/modemprep-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

status=0
for t in "${targets[@]}"; do
  findings="$root/build-fuzz/findings/$t"
  mkdir -p "$findings" "$work/$t.corpus"
  cp "$here/corpus/$t/"* "$work/$t.corpus/"
  dict=()
  [ -f "$here/$t.dict" ] && dict=(-dict="$here/$t.dict")
  log="$work/$t.log"
  common=(-max_len="${max_len[$t]}" -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$findings/")

  # Known crashers must stay fixed.
  regress="ok"
  if compgen -G "$here/regressions/$t/*" >/dev/null; then
    if ! "$bin/$t" "${common[@]}" "$here/regressions/$t/"* >"$work/$t.regress.log" 2>&1; then
      regress="FAILED"
      cp "$work/$t.regress.log" "$findings/regressions.log"
    fi
  fi

  echo "$t: fuzzing for $seconds s..."
  "$bin/$t" "${common[@]}" "${dict[@]}" -max_total_time="$seconds" -print_final_stats=1 \
    "$work/$t.corpus" >"$log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ $rc -ne 0 ] || [ "$regress" != ok ]; then
    status=1
    cp "$log" "$findings/fuzz.log"
    echo "$t: ${execs:-?} executions, FOUND SOMETHING (exit $rc, regressions $regress); see $findings/"
    grep -m1 -E "ERROR: |FUZZ_CHECK failed|runtime error" "$log" "$work/$t.regress.log" 2>/dev/null |
      sed 's/^/    /'
  else
    echo "$t: ${execs:-?} executions, nothing found"
  fi
done
exit $status
