#!/usr/bin/env bash
# Records the simulator's built-in tape (or the TAP or dump file given) with tapewren-record,
# as a user would with a device.
set -euo pipefail
build=${1:-build}
tape=${2:-}
dump="$build/demo.dmp"
rm -f "$dump"  # the recorder never overwrites a file, and this one is the demo's own
out=$(mktemp)
"$build/tapewren-sim" ${tape:+--play "$tape"} >"$out" 2>/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null || true; rm -f "$out"' EXIT
for _ in $(seq 100); do
  [ -s "$out" ] && break
  sleep 0.1
done
port=$(head -n 1 "$out")
if [ -z "$port" ]; then
  echo "The simulator did not start${tape:+ (can it play $tape?)}" >&2
  exit 1
fi
"$build/tapewren-record" -m 0 "$port" "$dump"
wait $sim || true
echo "The recording is in $dump ($(wc -c <"$dump") bytes)."
