#!/usr/bin/env bash
# Installs, from Debian, those of the named packages that this machine lacks. As root it runs
# apt-get; otherwise it prints the one apt-get line to run and exits 2. On a machine without
# dpkg it cannot tell what is installed: it says so and carries on (the build names what it
# does not find).
# Usage: scripts/install-packages.sh [--build] [--package] [PACKAGE...]
#   --build: what the default and asan presets need to build and run their tests, man pages
#   included (demo.sh and test.sh ask for these); --package: what cpack -G DEB needs besides
#   (test.sh asks for it).
set -euo pipefail
build=(cmake make g++ googletest libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
       libzip-dev pkgconf python3 help2man)
package=(dpkg-dev)
packages=()
for arg in "$@"; do
  case $arg in
    --build) packages+=("${build[@]}") ;;
    --package) packages+=("${package[@]}") ;;
    -h | --help)
      echo "Usage: scripts/install-packages.sh [--build] [--package] [PACKAGE...]"
      echo "Installs the named Debian packages this machine lacks (as root; otherwise prints"
      echo "the apt-get line to run and exits 2). --build: the packages the build and its tests"
      echo "need: ${build[*]}. --package: what cpack -G DEB needs besides: ${package[*]}."
      exit 0
      ;;
    -*)
      echo "install-packages: unknown option $arg (try --help)" >&2
      exit 2
      ;;
    *) packages+=("$arg") ;;
  esac
done
if [ ${#packages[@]} -eq 0 ]; then
  echo "install-packages: no package named (try --help)" >&2
  exit 2
fi
set -- "${packages[@]}"
if ! command -v dpkg-query >/dev/null; then
  echo "install-packages: no dpkg here; make sure these (Debian names) are installed: $*" >&2
  exit 0
fi
missing=()
for package in "$@"; do
  # "install ok installed" only: a removed package leaves its configuration files behind.
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null) || true
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "install-packages: missing Debian packages: ${missing[*]}; install them with:" >&2
  echo "  sudo apt-get install ${missing[*]}" >&2
  exit 2
fi
echo "install-packages: installing ${missing[*]}"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" \
  >/dev/null
