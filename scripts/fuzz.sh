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
  # Findings are written to the scratch folder; any crash fails the run (its status is taken
  # from the fuzzer itself: under pipefail a pipe's would be the filter's).
  status=0
  "$build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$work/" "$corpus" > "$work/$target.log" 2>&1 || status=$?
  grep -E "^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss|ERROR|SUMMARY|==[0-9]+==|runtime error" \
    "$work/$target.log" || true
  if [ "$status" -ne 0 ]; then
    echo "$target failed (exit $status); the input that failed:" >&2
    for f in "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*; do
      [ -f "$f" ] && { echo "$f" >&2; od -A x -t x1z "$f" | head -n 20 >&2; }
    done
    exit 1
  fi
done
