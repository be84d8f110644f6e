#!/usr/bin/env bash
# Installs the Debian package into a scratch root and checks what it holds.
set -euo pipefail
build=${1:-build}
deb=$(ls -t "$build"/tapewren_*.deb | head -n 1)
root=$(mktemp -d /tmp/tapewren-root.XXXXXX)
trap 'rm -rf "$root"' EXIT
# The package's own control data, then its files unpacked as dpkg would place them.
dpkg-deb -f "$deb" Package Version Architecture Maintainer Depends Section
dpkg-deb -x "$deb" "$root"
status=0
for program in tapewren-record tapewren-sim tapewren-scan tapewren-convert; do
  [ -x "$root/usr/bin/$program" ] || { echo "missing /usr/bin/$program" >&2; status=1; }
  [ -f "$root/usr/share/man/man1/$program.1" ] || { echo "missing man page $program.1" >&2; status=1; }
done
copyright="$root/usr/share/doc/tapewren/copyright"
if [ ! -f "$copyright" ]; then
  echo "missing /usr/share/doc/tapewren/copyright" >&2; status=1
else
  for field in "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" \
    "Files: \*" "License: MIT"; do
    grep -q "^$field\$" "$copyright" || { echo "copyright lacks '$field'" >&2; status=1; }
  done
fi
depends=$(dpkg-deb -f "$deb" Depends)
case "$depends" in
  *libc6*) ;;
  *) echo "Depends is not computed: '$depends'" >&2; status=1 ;;
esac
# sed reads the whole help, so the program never meets a closed pipe.
"$root/usr/bin/tapewren-scan" --help | sed -n 1p
[ "$status" -eq 0 ] && echo "package ok: $(basename "$deb")"
exit "$status"
