#!/usr/bin/env bash
# Checks of the Android build that need no platform tree:
#   1. src/platform/backend_android.cc against the liblog and libcutils headers that Debian
#      packages from the platform sources (syntax and types only: bionic is not there to link);
#   2. the unit tests composed as Android.bp's host cc_test composes them (one executable over
#      the fake backend, clang, no exceptions, no RTTI), built and run.
# Environment: MODEMPREP_ANDROID_BUILD (objects of step 2, default build-android), JOBS.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
build=${MODEMPREP_ANDROID_BUILD:-build-android}
jobs=${JOBS:-2}

packages=(android-liblog-dev android-libcutils-dev clang libgtest-dev libgmock-dev)
scripts/install-packages.sh "${packages[@]}"

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
clang++ "${flags[@]}" -fsyntax-only -isystem "$log_dir" -isystem "$cutils_dir" \
  src/platform/backend_android.cc src/platform/backend_posix.cc src/main/main.cc
echo "ci-android: backend_android.cc and main.cc compile against $log_dir and $cutils_dir"

# modemprep_unit_tests: the same globs and exclusions as Android.bp, one executable.
mapfile -t sources < <(ls src/*/*.cc tests/unit/*_test.cc | grep -v -e '^src/main/main\.cc$' \
  -e '^src/platform/backend_' -e '^tests/unit/host_.*_test\.cc$' -e '^tests/unit/modemsim_test\.cc$')
sources+=(src/platform/backend_fake.cc)
mkdir -p "$build"
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
