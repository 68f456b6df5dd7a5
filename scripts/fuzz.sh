#!/usr/bin/env bash
# Builds the libFuzzer fuzzers (clang, ASan and UBSan) in build-fuzz and runs each for
# SECONDS (default 20) on its seed corpus, one after another, then says per fuzzer how
# many inputs it ran and what it found.
#
#   scripts/fuzz.sh [SECONDS]
#   FERNHOLD_FUZZ_TARGETS="fuzz_script fuzz_bitmaps" scripts/fuzz.sh 300
#
# New interesting inputs go to build-fuzz/corpus/TARGET (the seeds in fuzz/corpus stay as
# they are); crashes, leaks, timeouts and out-of-memory inputs to
# build-fuzz/findings/TARGET, the fuzzer's own output to build-fuzz/logs/TARGET.log.
# Re-run a finding with: build-fuzz/fuzz/TARGET FILE. Everything this script says goes to
# standard error. Exit status: 0 when nothing was found, 1 when something was, 2 when the
# build failed.
set -euo pipefail

seconds="${1:-20}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "fuzz.sh: SECONDS must be a whole number above 0, not '$seconds'" >&2
  exit 2
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${FERNHOLD_FUZZ_BUILD:-$root/build-fuzz}"
read -r -a targets <<<"${FERNHOLD_FUZZ_TARGETS:-fuzz_bitmaps fuzz_script fuzz_command_line fuzz_still_image}"
jobs="${FERNHOLD_JOBS:-2}"

"$root/scripts/setup.sh" fuzz
mkdir -p "$build"
{
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DFERNHOLD_FUZZ=ON -DBUILD_TESTING=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
    cmake --build "$build" -j "$jobs" --target "${targets[@]}"
} >"$build/build.log" 2>&1 || {
  tail -n 40 "$build/build.log" >&2
  echo "fuzz.sh: the build failed; see $build/build.log" >&2
  exit 2
}

found_any=0
summary=()
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  findings="$build/findings/$target"
  log="$build/logs/$target.log"
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  before=$(find "$findings" -type f | wc -l)
  dictionary=()
  [ -f "$root/fuzz/dict/$target.dict" ] && dictionary=("-dict=$root/fuzz/dict/$target.dict")
  echo "fuzz.sh: $target for $seconds s" >&2
  status=0
  # A slow input (a picture that is large but legal) is allowed 25 s before it counts as
  # a hang; 2.5 GB of memory before it counts as out of memory.
  "$build/fuzz/$target" "${dictionary[@]}" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "$root/fuzz/corpus/$target" \
    >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  new=$(($(find "$findings" -type f | wc -l) - before))
  if [ "$status" -ne 0 ] || [ "$new" -gt 0 ]; then
    found_any=1
    grep -m 3 -E '^(==[0-9]+==ERROR|SUMMARY|fuzz_[a-z_]+:)' "$log" >&2 || true
  fi
  summary+=("$(printf '%-18s %10s executions (%s/s), corpus %5d, %d new findings, exit %d' \
    "$target" "${runs:-?}" "${rate:-?}" "$(find "$corpus" -type f | wc -l)" "$new" "$status")")
done

echo "fuzz.sh: results after $seconds s each" >&2
printf '  %s\n' "${summary[@]}" >&2
exit "$found_any"
