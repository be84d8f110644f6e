#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages that the build and the tests need (rsvg-convert renders
# the pictures the tests read back; python3-jsonschema validates the JSON reports; cc1541 and
# cbmconvert read the disk and tape images back), when any is missing.
set -euo pipefail
packages=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev librsvg2-bin python3 python3-jsonschema
          cc1541 cbmconvert)
# --build: what building the programs alone needs (make demo).
[ "${1:-}" = "--build" ] && packages=(cmake g++ make)
# --windows: what the cross build and its tests under Wine need (about 1.5 GB).
[ "${1:-}" = "--windows" ] && packages=(g++-mingw-w64-x86-64 wine64 wine googletest)
# --package: what building and checking the Debian package needs.
[ "${1:-}" = "--package" ] && packages=(dpkg-dev file)
# --analysis: clang with its fuzzer and sanitizer runtimes, and clang-tidy.
[ "${1:-}" = "--analysis" ] && packages=(clang libclang-rt-14-dev clang-tidy git)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if ! command -v apt-get >/dev/null; then
  echo "Missing packages: ${missing[*]}; install them with your package manager." >&2
  exit 1
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
