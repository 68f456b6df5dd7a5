#!/usr/bin/env bash
# Builds (when needed) and runs every benchmark program of the build in BUILD_DIR; any
# further arguments go to each program (for instance --benchmark_filter=GPU).
#   scripts/run-benchmarks.sh BUILD_DIR [benchmark options...]
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [benchmark options...]" >&2
  exit 2
fi
build=$1
shift
root=$(cd "$(dirname "$0")/.." && pwd)

cmake -S "$root" -B "$build" -DFERNHOLD_BENCH=ON >/dev/null
cmake --build "$build" --target benchmarks -j"${JOBS:-2}" >&2

status=0
for program in "$build"/bench/*_bench; do
  [ -x "$program" ] || continue
  echo "== $(basename "$program")" >&2
  "$program" "$@" || status=1
done
exit $status
