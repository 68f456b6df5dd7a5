#!/usr/bin/env bash
# Runs the soak test by hand for FRAMES frames (default 20000): the program headless on
# the unthrottled virtual camera, worked by a seeded random script, watched for hangs,
# crashes, memory growth and lost frames. Builds the program and the test first.
#
#   scripts/soak.sh [FRAMES] [SEED]
#   BUILD=build-rel scripts/soak.sh 50000 7
#
# Everything goes to standard error; the last line is the run's summary. Exit status: the
# test's (0 when it passed), 2 when FRAMES or SEED is not a number or the build failed.
set -euo pipefail

frames="${1:-20000}"
seed="${2:-1}"
for value in "$frames" "$seed"; do
  if ! [[ "$value" =~ ^[1-9][0-9]*$ ]]; then
    echo "soak.sh: FRAMES and SEED must be whole numbers above 0, not '$value'" >&2
    exit 2
  fi
done
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac

"$root/scripts/setup.sh"
{
  [ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$build" -j "${FERNHOLD_JOBS:-2}" --target fernhold Soak_soaktest
} >&2 || {
  echo "soak.sh: the build failed" >&2
  exit 2
}

echo "soak.sh: $frames frames, seed $seed" >&2
FERNHOLD_SOAK_FRAMES="$frames" FERNHOLD_SOAK_SEED="$seed" "$build/tests/Soak_soaktest" 1>&2
