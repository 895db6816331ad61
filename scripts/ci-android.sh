#!/usr/bin/env bash
# Checks of the Android build that need no platform tree:
#   1. src/platform/android/backend.cc, with each integration's map (platform and vendor), against
#      the liblog and libcutils headers that Debian packages from the platform sources (syntax and
#      types only: bionic is not there to link);
#   2. Android.bp formatted as bpfmt formats it;
#   3. each integration's sample policy compiled with checkpolicy against a stand-in of the
#      platform's types, macros and neverallow rules (android/ci), with rules that the platform
#      rejects rejected too; its file and property contexts checked against the result (setfiles);
#   4. tests/android: every property, service and path the daemon's sources use, through each
#      integration's map, property contexts, policy and init script; Android.bp's modules;
#   5. the unit tests composed as Android.bp's host cc_test composes them (one executable over
#      the in-memory backend, clang, no exceptions, no RTTI), built and run.
# Environment: MODEMPREP_ANDROID_BUILD (work files, default build-android), JOBS.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
build=${MODEMPREP_ANDROID_BUILD:-build-android}
jobs=${JOBS:-2}

packages=(android-liblog-dev android-libcutils-dev clang g++ libgtest-dev libgmock-dev python3
          blueprint-tools checkpolicy policycoreutils m4)
scripts/install-packages.sh "${packages[@]}"
mkdir -p "$build"

# ---- 1. The Android backend with each integration's map --------------------------------------
# The directory that holds HEADER (e.g. log/log.h) among the files a package installed.
include_dir() {
  local package=$1 header=$2 file
  file=$(dpkg -L "$package" | grep -m1 "/$header\$") || {
    echo "ci-android: $package ships no $header" >&2
    exit 1
  }
  echo "${file%/"$header"}"
}
log_dir=$(include_dir android-liblog-dev log/log.h)
cutils_dir=$(include_dir android-libcutils-dev cutils/uevent.h)

# The platform's compiler and the flags of Android.bp's modemprep_defaults.
flags=(-std=c++17 -Wall -Wextra -Werror -fno-exceptions -fno-rtti -Isrc)

# Everything the backend needs comes from the packages above or from bionic, whose two
# property calls the backend declares itself; -isystem as for any exported library header.
for integration in platform vendor; do
  clang++ "${flags[@]}" -fsyntax-only -isystem "$log_dir" -isystem "$cutils_dir" \
    src/platform/android/backend.cc "src/platform/android/map_$integration.cc" \
    src/platform/posix.cc src/main/main.cc
done
echo "ci-android: android/backend.cc with the platform and the vendor map, and main.cc," \
  "compile against $log_dir and $cutils_dir"

# ---- 2. Android.bp ---------------------------------------------------------------------------
diff=$(bpfmt -d Android.bp)
if [ -n "$diff" ]; then
  printf 'ci-android: Android.bp is not formatted as bpfmt formats it:\n%s\n' "$diff" >&2
  exit 1
fi
echo "ci-android: bpfmt -d Android.bp: no difference"

# ---- 3. Sample policies ----------------------------------------------------------------------
standin=android/ci
platform_policy=("$standin/public.te" "$standin/private.te"
                 android/platform/sepolicy/public/modemprep.te
                 android/platform/sepolicy/private/modemprep.te)
# A vendor policy sees the platform's public types only.
vendor_policy=("$standin/public.te" android/vendor/sepolicy/modemprep.te)

# compile_policy OUTPUT TE... : m4 and checkpolicy as a tree runs them; the binary policy in
# OUTPUT, the compiler's messages in OUTPUT.log.
compile_policy() {
  local output=$1
  shift
  m4 --fatal-warnings -s "$standin/security_classes.conf" "$standin/te_macros" "$@" \
    "$standin/users.conf" >"$output.conf" &&
    checkpolicy -M -c 30 -o "$output" "$output.conf" >"$output.log" 2>&1
}

# check_contexts POLICY FILE_CONTEXTS PROPERTY_CONTEXTS: every context is valid in POLICY and
# every file regular expression compiles. Property contexts go through setfiles as well, one
# made-up path per line, since only their contexts are checked here.
check_contexts() {
  local policy=$1 file_contexts=$2 property_contexts=$3
  setfiles -c "$policy" "$file_contexts"
  awk '!/^[ \t]*(#|$)/ { printf "/property/%d %s\n", NR, $2 }' "$property_contexts" \
    >"$policy.property_contexts"
  setfiles -c "$policy" "$policy.property_contexts"
}

for integration in platform vendor; do
  declare -n policy="${integration}_policy"
  output="$build/sepolicy.$integration"
  compile_policy "$output" "${policy[@]}" || {
    cat "$output.log" >&2
    echo "ci-android: the $integration policy does not compile" >&2
    exit 1
  }
  contexts=android/$integration/sepolicy
  [ "$integration" = platform ] && contexts=$contexts/private
  check_contexts "$output" "$contexts/file_contexts" "$contexts/property_contexts"
  unset -n policy
done
echo "ci-android: both sample policies compile against the stand-in; their contexts are valid"

# What a tree rejects, the check rejects: each rule below, added to a sample, must fail with the
# message given.
rejected=(
  "vendor|set_prop(modemprep, system_prop)|neverallow"
  "vendor|set_prop(modemprep, radio_prop)|neverallow"
  "vendor|get_prop(modemprep, init_service_status_private_prop)|unknown type"
  "platform|allow rild modemprep_data_file:file r_file_perms;|neverallow"
  "platform|allow modemprep radio_vendor_data_file:file create_file_perms;|neverallow"
)
for case in "${rejected[@]}"; do
  IFS='|' read -r integration rule message <<<"$case"
  declare -n policy="${integration}_policy"
  echo "$rule" >"$build/rejected.te"
  if compile_policy "$build/sepolicy.rejected" "${policy[@]}" "$build/rejected.te"; then
    echo "ci-android: the $integration policy accepts '$rule'" >&2
    exit 1
  fi
  grep -q "$message" "$build/sepolicy.rejected.log" || {
    cat "$build/sepolicy.rejected.log" >&2
    echo "ci-android: '$rule' failed otherwise than with '$message'" >&2
    exit 1
  }
  unset -n policy
done
echo "ci-android: ${#rejected[@]} rules the platform rejects are rejected"

# ---- 4. Names, contexts, init scripts, Android.bp -----------------------------------------------
PYTHONDONTWRITEBYTECODE=1 python3 -m unittest discover -s tests/android -t tests/android \
  >"$build/android_tests.log" 2>&1 || {
  cat "$build/android_tests.log" >&2
  exit 1
}
echo "ci-android: tests/android: $(grep -E '^Ran ' "$build/android_tests.log")," \
  "$(tail -n 1 "$build/android_tests.log")"

# ---- 5. modemprep_unit_tests -----------------------------------------------------------------
# The same globs and exclusions as Android.bp, one executable.
mapfile -t sources < <(ls src/*/*.cc tests/unit/*_test.cc | grep -v -e '^src/main/main\.cc$' \
  -e '^src/platform/posix\.cc$' -e '^tests/unit/host_test\.cc$' -e '^tests/unit/modemsim_')
sources+=(src/platform/memory/memory_platform.cc)
flags+=(-Itests/support)
objects=()
for source in "${sources[@]}"; do objects+=("$build/${source//\//_}.o"); done
# Two compilers at a time: source and object paths alternate on xargs' input.
for i in "${!sources[@]}"; do printf '%s\n%s\n' "${sources[$i]}" "${objects[$i]}"; done |
  xargs -d '\n' -n 2 -P "$jobs" sh -c 'exec clang++ '"${flags[*]}"' -c "$1" -o "$2"' sh
clang++ "${objects[@]}" -lgmock -lgtest_main -lgtest -pthread -o "$build/modemprep_unit_tests"
"$build/modemprep_unit_tests" --gtest_brief=1 >"$build/unit_tests.log" 2>&1 || {
  cat "$build/unit_tests.log" >&2
  exit 1
}
echo "ci-android: modemprep_unit_tests (${#sources[@]} sources, one executable):" \
  "$(grep -E '^\[  PASSED  \]' "$build/unit_tests.log")"
echo "ci-android: done in $((SECONDS - start)) s"
