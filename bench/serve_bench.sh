#!/usr/bin/env bash
# What watching from browsers costs the program, measured on the real program with
# headless Chromium on loopback: the program's CPU share (its user and system time over a
# window, as a share of one core) with no viewer, one and three, at SIZE (1280x720 unless
# given) and 30 fps on the virtual camera; then the delay from the camera to the browser
# (the page's latency mode: a filter change requested, to the first decoded frame showing
# it; this includes up to a frame's wait for the camera).
#   bench/serve_bench.sh BINARY [SIZE]
set -euo pipefail
binary=${1:?usage: bench/serve_bench.sh BINARY [SIZE]}
size=${2:-1280x720}
root=$(cd "$(dirname "$0")/.." && pwd)
harness=$root/tests/e2e/browser/watch_page.py
work=$(mktemp -d)
trap 'kill "$program" 2>/dev/null; rm -rf "$work"' EXIT

"$binary" --headless --camera virtual --size "$size" --serve 0 --serve-control --serve-viewers 4 \
  --stats 2>"$work/err" >/dev/null &
program=$!
until grep -q "control at" "$work/err" 2>/dev/null; do sleep 0.2; done
view=$(sed -n 's/^fernhold: watch at //p' "$work/err")
control=$(sed -n 's/^fernhold: watch and control at //p' "$work/err")

ticks() { awk '{ print $14 + $15 }' "/proc/$program/stat"; }
hz=$(getconf CLK_TCK)
# The share over WINDOW seconds, after SETTLE seconds with VIEWERS watching.
share() {
  local viewers=$1 settle=5 window=10 harness_pid=""
  if [ "$viewers" -gt 0 ]; then
    "$harness" "$view" --viewers "$viewers" --seconds $((settle + window + 5)) --grid 1x1 >"$work/watch" 2>&1 &
    harness_pid=$!
    sleep 8 # the browsers start and connect
  fi
  sleep "$settle"
  local before after fps
  before=$(ticks)
  sleep "$window"
  after=$(ticks)
  fps=$(grep "^stats: produced" "$work/err" | tail -1 | grep -o "[0-9.]* fps")
  printf 'viewers %d: CPU %.0f %% of a core, %s\n' "$viewers" "$(echo "($after - $before) * 100 / $hz / $window" | bc -l)" "$fps"
  if [ -n "$harness_pid" ]; then wait "$harness_pid"; fi
}
echo "serve_bench: $size, $(nproc) cores" >&2
share 0
share 1
share 3
"$harness" "$control" --latency 10 | sed 's/^/latency (ms): /'
