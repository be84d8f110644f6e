#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for FUZZ_SECONDS (default 60) from a
# copy of its seed corpus in fuzz/corpus; the repository's corpus is left as it is.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAPEWREN_FUZZ=ON -DTAPEWREN_TESTS=OFF
       -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
[ -n "${CI:-}" ] && flags+=(-DTAPEWREN_WERROR=ON)
command -v ninja >/dev/null && flags+=(-G Ninja)
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" "${flags[@]}"
targets=(fuzz_feed fuzz_options fuzz_capture fuzz_decoder)
cmake --build "$build" -j 2 --target "${targets[@]}"
work=$(mktemp -d /tmp/tapewren-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT
for target in "${targets[@]}"; do
  corpus="$work/${target#fuzz_}"
  cp -r "fuzz/corpus/${target#fuzz_}" "$corpus"
  echo "== $target, $seconds s"
  # Findings are written to the scratch folder; any crash fails the run.
  "$build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$work/" "$corpus" 2>&1 |
    grep -E "^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss|ERROR|SUMMARY|==[0-9]+==" || true
  test "${PIPESTATUS[0]}" -eq 0
done
