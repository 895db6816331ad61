#!/usr/bin/env bash
# Checks of the Android build against the platform's own sources (docs/android.md, "Checks"):
#   1. the Android backend, with each integration's map, against bionic's sys/system_properties.h
#      and libcutils' cutils/uevent.h of each release the sources hold, and against Debian's
#      liblog and libcutils headers;
#   2. Android.bp formatted as bpfmt formats it;
#   3. each release's platform policy built as a device build builds it, alone and with each
#      integration, and the device build's own checks run on the result (sepolicy_tests.py,
#      property_info_checker, check_prop_prefix.py, the vendor policy from the public policy
#      alone, the user build's permissive refusal); the daemon's rights, at least and at most what
#      it uses; its init scripts as init parses them; every planted mistake refused
#      (scripts/android_check.py);
#   4. tests/android: the names each integration's map gives, against its init script;
#   5. the unit tests composed as Android.bp's host cc_test composes them (one executable over
#      the in-memory backend, clang, no exceptions, no RTTI), built and run.
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: scripts/ci-android.sh [--aosp DIR]
Checks the Android backend, the integrations' policy, contexts and init scripts against the
platform's own sources, and builds and runs the unit tests as Android.bp composes them.
  --aosp DIR  a platform tree: DIR/system/sepolicy (with build/soong/policy.go), DIR/system/core,
              DIR/bionic. Without it: ../shared/aosp beside the repository (one folder per
              release, see its README.md) when present; otherwise the checks that need platform
              sources are skipped, each named with the reason.
Environment: MODEMPREP_ANDROID_BUILD (work files, default build-android), JOBS (default 2).
EOF
}

aosp=
tree=
while [ $# -gt 0 ]; do
  case $1 in
    -h | --help)
      usage
      exit 0
      ;;
    --aosp)
      [ $# -ge 2 ] || {
        echo "ci-android: --aosp needs a directory (try --help)" >&2
        exit 2
      }
      aosp=$2
      tree=1
      shift 2
      ;;
    *)
      echo "ci-android: unknown argument $1 (try --help)" >&2
      exit 2
      ;;
  esac
done

# The tree is a file it reads, checked once every argument is known to be usable: what is wrong
# with it is a runtime error, not a usage one.
if [ -n "$tree" ]; then
  if [ ! -e "$aosp" ]; then
    echo "ci-android: $aosp: No such file or directory" >&2
    exit 1
  elif [ ! -d "$aosp" ]; then
    echo "ci-android: $aosp: not a directory" >&2
    exit 1
  elif [ ! -d "$aosp/system/sepolicy" ]; then
    echo "ci-android: $aosp: not a platform tree: no system/sepolicy in it" >&2
    exit 1
  fi
  aosp=$(cd "$aosp" && pwd)
fi

cd "$(dirname "$0")/.."
start=$SECONDS
build=${MODEMPREP_ANDROID_BUILD:-build-android}
jobs=${JOBS:-2}
if [ -z "$aosp" ] && [ -d ../shared/aosp/sepolicy ]; then
  aosp=../shared/aosp
fi
skip() { echo "ci-android: SKIPPED $*"; }

# libsepol-dev and android-libbase-dev: the platform's libsepolwrap.so and property_info_checker,
# built from its sources.
packages=(android-liblog-dev android-libcutils-dev clang g++ libgtest-dev libgmock-dev python3
          blueprint-tools checkpolicy policycoreutils setools m4 libsepol-dev android-libbase-dev)
scripts/install-packages.sh "${packages[@]}"
rm -rf "$build/policy"
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
# bionic's own attribute and availability macros, which glibc's sys/cdefs.h lacks.
bionic_macros=(-D'__INTRODUCED_IN(level)=' -D'__BIONIC_AVAILABILITY_GUARD(level)=1'
               -D'__unused=__attribute__((__unused__))')
backend=(src/platform/android/backend.cc src/platform/posix.cc src/main/main.cc)

# compile_backend NAME INCLUDE_DIR...: the backend with each map, against those headers first.
compile_backend() {
  local name=$1 integration dir includes=()
  shift
  for dir in "$@"; do includes+=(-isystem "$dir"); done
  for integration in platform vendor; do
    clang++ "${flags[@]}" "${bionic_macros[@]}" -fsyntax-only "${includes[@]}" "${backend[@]}" \
      "src/platform/android/map_$integration.cc"
  done
  echo "ci-android: the backend with the platform and the vendor map compiles against $name"
}

# (release, bionic include, libcutils include) of the platform sources.
releases=()
if [ -n "$tree" ]; then
  releases+=("$(basename "$aosp") $aosp/bionic/libc/include $aosp/system/core/libcutils/include")
elif [ -n "$aosp" ]; then
  for dir in "$aosp"/bionic/android*/; do
    release=$(basename "$dir")
    releases+=("$release ${dir}libc/include $aosp/system-core/$release/libcutils/include")
  done
fi
for entry in "${releases[@]}"; do
  read -r release bionic cutils <<<"$entry"
  compile_backend "$release's bionic and libcutils headers" "$bionic" "$cutils" "$log_dir"
done
# Debian packages liblog and libcutils but not bionic: its system_properties.h comes from the
# platform sources, the newest release's.
if [ ${#releases[@]} -gt 0 ]; then
  read -r release bionic _ <<<"${releases[-1]}"
  compile_backend "Debian's liblog and libcutils headers (bionic's from $release)" \
    "$log_dir" "$cutils_dir" "$bionic"
else
  skip "the backend against bionic and libcutils headers: no platform sources" \
    "(../shared/aosp or --aosp DIR), and Debian has no bionic sys/system_properties.h"
fi

# ---- 2. Android.bp ---------------------------------------------------------------------------
diff=$(bpfmt -d Android.bp)
if [ -n "$diff" ]; then
  printf 'ci-android: Android.bp is not formatted as bpfmt formats it:\n%s\n' "$diff" >&2
  exit 1
fi
echo "ci-android: bpfmt -d Android.bp: no difference"

# ---- 3. Policy, contexts, names, init scripts against each release -------------------------------
# Each map's answers for every name the daemon uses, from the code (tests/android/map_probe.cc).
for integration in platform vendor; do
  clang++ "${flags[@]}" "src/platform/android/map_$integration.cc" \
    tests/android/map_probe.cc -o "$build/map_probe_$integration"
  "$build/map_probe_$integration" >"$build/names_$integration.json"
done
if [ -n "$aosp" ]; then
  # Debian's python3: setools is a library of Debian's Python.
  /usr/bin/python3 -m scripts.android_check --aosp "$aosp" ${tree:+--tree} --build "$build/policy" \
    --jobs "$jobs" --names "$build/names_platform.json" "$build/names_vendor.json"
else
  skip "the policy builds, contexts, property rights, vendor init triggers and planted rules:" \
    "no platform sources (../shared/aosp or --aosp DIR)"
fi

# ---- 4. tests/android --------------------------------------------------------------------------
MODEMPREP_ANDROID_NAMES=$build PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 -m unittest discover \
  -s tests/android -t tests/android >"$build/android_tests.log" 2>&1 || {
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
