#!/usr/bin/env bash
# Cross-compiles the Windows programs and packs them with README-windows.txt into a zip.
set -euo pipefail
wbuild=${1:-build-windows}
flags=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo)
command -v ninja >/dev/null && flags+=(-G Ninja)
[ -f "$wbuild/CMakeCache.txt" ] || cmake -S . -B "$wbuild" "${flags[@]}"
cmake --build "$wbuild" -j 2
(cd "$wbuild" && cpack -G ZIP)
zip=$(ls -t "$wbuild"/tapewren-*-windows-x64.zip | head -n 1)
listing=$(cmake -E tar tf "$zip")
echo "$listing"
for f in tapewren-record.exe tapewren-scan.exe tapewren-convert.exe README-windows.txt LICENSE; do
  grep -q "/$f\$" <<<"$listing" || { echo "missing $f in $zip" >&2; exit 1; }
done
echo "zip ok: $zip"
