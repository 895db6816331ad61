#!/usr/bin/env bash
# Usage: scripts/ci-arm64.sh   (installs its Debian packages as root: g++-aarch64-linux-gnu,
# qemu-user...; a few minutes on two cores; exit status 0 every check passed, 1 one failed)
#
# ARM64 check: cross-builds the daemon, the tools and the tests for aarch64 (the phone's
# architecture) and runs them on this machine under qemu-user:
#   1. googletest from its packaged sources, built with the same toolchain;
#   2. the project, tests on, benchmarks off, into build-arm64/;
#   3. every unit test executable;
#   4. the end-to-end tests, with the ARM64 daemon, simulator and tools;
#   5. the card history written by the ARM64 daemon against the x86-64 one's, byte for byte
#      (the file's layout must not depend on the architecture).
# binfmt need not be active: every ARM64 program is started as qemu-aarch64 -L <target root>.
#
# Environment: MODEMPREP_ARM64_BUILD (default build-arm64), MODEMPREP_HOST_BUILD (the x86-64
# build for step 5, default build; configured and built here if needed), JOBS (default 2),
# MODEMPREP_ARM64_SLOW=1 to run the slow end-to-end fault cases too.
set -euo pipefail
case ${1:-} in
  -h | --help)
    sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//p}' "$0"
    exit 0
    ;;
  "") ;;
  *)
    echo "ci-arm64.sh: unexpected argument \"$1\": it takes none (try --help)" >&2
    exit 2
    ;;
esac
cd "$(dirname "$0")/.."
source_dir=$PWD
build=$(realpath -m "${MODEMPREP_ARM64_BUILD:-build-arm64}")
host_build=$(realpath -m "${MODEMPREP_HOST_BUILD:-build}")
jobs=${JOBS:-2}
target_root=/usr/aarch64-linux-gnu
toolchain=$source_dir/cmake/aarch64-linux-gnu.cmake
deps=$build/deps
start=$SECONDS
step_start=$SECONDS

# Runs a command with its output in $build/logs/NAME.log, shown only when it fails.
quiet() {
  local name=$1
  shift
  mkdir -p "$build/logs"
  if ! "$@" >"$build/logs/$name.log" 2>&1; then
    tail -40 "$build/logs/$name.log" >&2
    echo "ci-arm64: $name failed; full output in $build/logs/$name.log" >&2
    exit 1
  fi
}

step() {
  echo "ci-arm64: $1 ($((SECONDS - step_start)) s)"
  step_start=$SECONDS
}

packages=(g++-aarch64-linux-gnu qemu-user googletest nlohmann-json3-dev cmake make python3)
scripts/install-packages.sh "${packages[@]}"
step "packages ready"

# ---- 1. Target dependencies under $deps -----------------------------------------------------
if [ ! -f "$build/googletest/CMakeCache.txt" ]; then
  quiet googletest-configure cmake -S /usr/src/googletest -B "$build/googletest" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps"
fi
quiet googletest-build cmake --build "$build/googletest" -j"$jobs"
quiet googletest-install cmake --install "$build/googletest"
# nlohmann-json is header-only: the host's headers, and its package files moved beside them so
# that they point at this prefix.
mkdir -p "$deps/include" "$deps/share/cmake/nlohmann_json"
ln -sfn /usr/include/nlohmann "$deps/include/nlohmann"
cp /usr/share/cmake/nlohmann_json/*.cmake "$deps/share/cmake/nlohmann_json/"
step "googletest built for aarch64 into $deps"

# ---- 2. The project --------------------------------------------------------------------------
# Test discovery waits for ctest (PRE_TEST) so that the build itself runs nothing under qemu.
quiet configure cmake -S "$source_dir" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMODEMPREP_TESTS=ON -DMODEMPREP_BENCH=OFF \
  -DGTest_DIR="$deps/lib/cmake/GTest" -Dnlohmann_json_DIR="$deps/share/cmake/nlohmann_json" \
  -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST
quiet build cmake --build "$build" -j"$jobs"
if ! aarch64-linux-gnu-readelf -h "$build/modemprep" | grep -q 'Machine:.*AArch64'; then
  echo "ci-arm64: $build/modemprep is not an AArch64 executable" >&2
  exit 1
fi
step "project cross-built into $build"

# ---- 3. Unit tests ---------------------------------------------------------------------------
# Each executable runs once, whole, under the emulator: one qemu start per file instead of one
# per test case as ctest would do.
mapfile -t unit_tests < <(find "$build" -path "$build/googletest" -prune -o -path "$deps" -prune \
  -o -type f -name '*_test' -perm -u+x -print | sort)
if [ ${#unit_tests[@]} -eq 0 ]; then
  echo "ci-arm64: no unit test executable in $build" >&2
  exit 1
fi
failed=0
for test in "${unit_tests[@]}"; do
  name=$(basename "$test")
  if (cd "$build" && qemu-aarch64 -L "$target_root" "$test") >"$build/logs/$name.log" 2>&1; then
    echo "ci-arm64: $name: $(grep -E '^\[  PASSED  \]' "$build/logs/$name.log")"
  else
    failed=1
    echo "ci-arm64: $name FAILED; its output:" >&2
    grep -E '^\[  FAILED  \]|Failure|error' "$build/logs/$name.log" | head -40 >&2 || true
    tail -5 "$build/logs/$name.log" >&2
  fi
done
[ $failed -eq 0 ] || exit 1
step "${#unit_tests[@]} unit test executables passed under qemu-aarch64"

# ---- 4. End-to-end tests ---------------------------------------------------------------------
# The harness starts $MODEMPREP_BUILD/modemprep, .../tools/modemsim/modemsim, ... directly; this
# directory mirrors those paths with wrappers that exec the ARM64 programs under the emulator
# (exec: the harness's signals reach qemu, which hands them to the program).
runner=$build/qemu-run
for program in $(cd tools && python3 -c 'import mpharness; print(*mpharness.PROGRAMS)'); do
  [ -x "$build/$program" ] || continue
  mkdir -p "$(dirname "$runner/$program")"
  printf '#!/bin/sh\nexec qemu-aarch64 -L %s %s "$@"\n' "$target_root" "$build/$program" \
    >"$runner/$program"
  chmod +x "$runner/$program"
done
# The modules whose outcome depends on the processor: the daemon's sequences, faults and the
# golden runs byte for byte. The others test the host's processes and tools (crash points, roots,
# command lines, the replay, the browser page) and are the same on any processor.
e2e_tests=(e2e.test_hotplug e2e.test_hardening.ModemBytesTest e2e.test_golden)
[ "${MODEMPREP_ARM64_SLOW:-0}" = 1 ] && e2e_tests+=(e2e.test_faults_slow)
(cd tests && MODEMPREP_BUILD="$runner" PYTHONDONTWRITEBYTECODE=1 PYTHONPATH="$source_dir/tools" \
  python3 -m unittest "${e2e_tests[@]}")
step "end-to-end tests passed with the ARM64 programs (${e2e_tests[*]})"

# ---- 5. Card history: ARM64 against x86-64 --------------------------------------------------
if [ ! -f "$host_build/CMakeCache.txt" ]; then
  quiet host-configure cmake -S "$source_dir" -B "$host_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
quiet host-build cmake --build "$host_build" -j"$jobs" --target modemprep modemsim propctl
# Same scenario on both: first boot with two cards, then a reboot with a new card in slot 1 and
# the first card moved to slot 2, so the file holds three cards and a moved one.
(cd tools && PYTHONDONTWRITEBYTECODE=1 python3 - "$host_build" "$runner" <<'EOF'
import sys

from mpharness import CARD_A, CARD_B, Build, Phone, scenario

CARD_C = {"present": True, "id": "89860311112222333344", "imsi": "460030111122223", "type": 2,
          "lock": "none"}


def histories(build):
    phone = Phone(scenario("two_cards", slots=[CARD_A, CARD_B]), factory=b"221",
                  build=Build(build))
    try:
        first = phone.boot().history_bytes()
        phone.reboot(modem=scenario("two_cards", slots=[CARD_C, CARD_A]))
        return first, phone.boot().history_bytes()
    finally:
        phone.close()


x86, arm = histories(sys.argv[1]), histories(sys.argv[2])
for boot, (a, b) in enumerate(zip(x86, arm), 1):
    if a != b:
        offsets = [i for i in range(min(len(a), len(b))) if a[i] != b[i]]
        print("ci-arm64: card history after boot %d DIFFERS: x86-64 %d bytes, ARM64 %d bytes, "
              "first differing offsets %s" % (boot, len(a), len(b), offsets[:16]))
        sys.exit(1)
    print("ci-arm64: card history after boot %d: ARM64 and x86-64 byte-identical (%d bytes)"
          % (boot, len(a)))
EOF
)
step "card history compared"
echo "ci-arm64: all ARM64 checks passed in $((SECONDS - start)) s"
