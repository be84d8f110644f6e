#!/usr/bin/env bash
# Cross-compiles the Windows programs and runs their tests under Wine: the unit tests as
# .exe files, and the end-to-end tests with COM5 backed by a pseudo-terminal.
set -euo pipefail
build=${1:-build}
wbuild=${2:-build-windows}
flags=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo)
[ -n "${CI:-}" ] && flags+=(-DTAPEWREN_WERROR=ON)
command -v ninja >/dev/null && flags+=(-G Ninja)
[ -f "$wbuild/CMakeCache.txt" ] || cmake -S . -B "$wbuild" "${flags[@]}"
cmake --build "$wbuild" -j 2
cmake --build "$build" --target wine_e2e_tests -j 2

# A private Wine prefix, booted quietly: Wine's helpers would otherwise hold our output open.
WINEPREFIX=$(mktemp -d /tmp/tapewren-wine.XXXXXX)
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
wineserver -p >/dev/null 2>&1 </dev/null
wineboot -i >/dev/null 2>&1 </dev/null

ctest --test-dir "$wbuild" --output-on-failure
TAPEWREN_WINDOWS_BUILD=$(cd "$wbuild" && pwd) ctest --test-dir "$build" --output-on-failure -L wine
