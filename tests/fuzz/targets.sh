# Sourced by run.sh and campaign.sh: the fuzz targets, the longest input worth trying for each, and
# the build of them into build-fuzz/ (preset "fuzz"). Expects $root, the repository.

fuzz_here="$root/tests/fuzz"
# A target per source file.
mapfile -t fuzz_targets < <(cd "$fuzz_here" && ls fuzz_*.cc | sed 's/\.cc$//')

# A few dozen modem chunks, a history file with its cards, a line per property, one uevent receive
# buffer, two old rild files, a start or two of a radio log, a bug report's main text with its logs.
declare -A fuzz_max_len=([fuzz_at_exchange]=4096 [fuzz_card_history]=2048
                         [fuzz_profile_inputs]=1024 [fuzz_uevent]=1024 [fuzz_rild_file]=4096
                         [fuzz_radio_log]=3072 [fuzz_bugreport]=6144)

fuzz_bin="$root/build-fuzz/tests/fuzz"
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# Installs what the build needs and builds the named targets; 2 (with the build's tail) on failure.
fuzz_build() {
  # clang's libFuzzer and sanitizer runtimes come with libclang-rt.
  "$root/scripts/install-packages.sh" --build clang libclang-rt-14-dev || return 2
  mkdir -p "$root/build-fuzz"
  local log="$root/build-fuzz/build.log"
  echo "fuzz: building the targets in build-fuzz/ (a few minutes the first time)..."
  if ! { cmake --preset fuzz && cmake --build --preset fuzz --target "$@"; } >"$log" 2>&1; then
    tail -30 "$log" >&2
    echo "fuzz: the build failed; its whole output is in $log" >&2
    return 2
  fi
}

# Sets fuzz_opts to the libFuzzer options every run of target $1 shares; findings go to
# build-fuzz/findings/$1/.
fuzz_options() {
  mkdir -p "$root/build-fuzz/findings/$1"
  fuzz_opts=(-max_len="${fuzz_max_len[$1]}" -timeout=10 -rss_limit_mb=2048
             -artifact_prefix="$root/build-fuzz/findings/$1/")
  if [ -f "$fuzz_here/$1.dict" ]; then fuzz_opts+=(-dict="$fuzz_here/$1.dict"); fi
}

# Replays the inputs kept under regressions/$1/ (known findings must stay fixed), output to $2;
# 1 when one of them fails.
fuzz_regressions() {
  compgen -G "$fuzz_here/regressions/$1/*" >/dev/null || return 0
  fuzz_options "$1"
  "$fuzz_bin/$1" "${fuzz_opts[@]}" "$fuzz_here/regressions/$1/"* >"$2" 2>&1
}

# Names a target, or says it is none (exit 2).
fuzz_check_target() {
  [ -n "${fuzz_max_len[$1]:-}" ] && return 0
  echo "fuzz: no target \"$1\"; the targets: ${fuzz_targets[*]}" >&2
  exit 2
}
