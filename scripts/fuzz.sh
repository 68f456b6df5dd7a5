#!/usr/bin/env bash
# Builds the libFuzzer fuzzers (clang, ASan and UBSan) in build-fuzz and runs each for
# SECONDS (default 20) on its seed corpus, one after another, then says per fuzzer how
# many inputs it ran and what it found.
#
#   scripts/fuzz.sh [SECONDS]
#   FERNHOLD_FUZZ_TARGETS="fuzz_script fuzz_bitmaps" scripts/fuzz.sh 300
#   FERNHOLD_FUZZ_KEEP_GOING=0 scripts/fuzz.sh 300   # stop at the first finding
#
# Each fuzzer runs in a child process that is restarted after each crash, hang or
# out-of-memory input (libFuzzer's fork mode), so a known fault does not keep the rest of
# the code from being fuzzed; the summary names each distinct fault once (by its sanitizer
# summary line). FERNHOLD_FUZZ_KEEP_GOING=0 runs one process that stops at its first
# finding instead.
#
# Inputs that once found a fault are kept in fuzz/regressions/TARGET; each run starts by
# running them (a fixed fault runs clean), by hand: build-fuzz/fuzz/TARGET fuzz/regressions/TARGET/*
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
read -r -a targets <<<"${FERNHOLD_FUZZ_TARGETS:-fuzz_bitmaps fuzz_script fuzz_command_line fuzz_still_image fuzz_camera_frame}"
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
  # Inputs that once found a fault must keep running clean.
  regressions="$root/fuzz/regressions/$target"
  if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
    if "$build/fuzz/$target" "$regressions"/* >"$build/regressions-$target.log" 2>&1; then
      echo "fuzz.sh: $target: $(ls "$regressions" | wc -l) earlier finding(s) run clean" >&2
    else
      found_any=1
      tail -n 20 "$build/regressions-$target.log" >&2
      echo "fuzz.sh: $target: an earlier finding is back; see $build/regressions-$target.log" >&2
    fi
  fi
  corpus="$build/corpus/$target"
  findings="$build/findings/$target"
  log="$build/logs/$target.log"
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  dictionary=()
  [ -f "$root/fuzz/dict/$target.dict" ] && dictionary=("-dict=$root/fuzz/dict/$target.dict")
  keep_going=()
  [ "${FERNHOLD_FUZZ_KEEP_GOING:-1}" = 1 ] &&
    keep_going=(-fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1)
  echo "fuzz.sh: $target for $seconds s" >&2
  touch "$log.start"
  status=0
  # A slow input (a picture that is large but legal) is allowed 25 s before it counts as
  # a hang; 2.5 GB of memory before it counts as out of memory.
  "$build/fuzz/$target" "${dictionary[@]}" "${keep_going[@]}" -max_total_time="$seconds" -timeout=25 \
    -rss_limit_mb=2560 -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" \
    "$root/fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  # One process prints its totals at the end; in fork mode the last progress line has them.
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  if [ -z "$runs" ]; then
    runs=$(sed -n 's/^#\([0-9]*\): cov.*/\1/p' "$log" | tail -n 1)
    rate=$((${runs:-0} / seconds))
  fi
  new=$(find "$findings" -type f -newer "$log.start" | wc -l)
  # What each new finding is: crashes and leaks are run again for their sanitizer summary
  # (or the fuzzer's own complaint); timeouts and out-of-memory inputs are what they say.
  distinct=$(
    set +o pipefail # a finding that stops at its first line closes the pipe early
    find "$findings" -type f -newer "$log.start" | head -n 50 | while read -r finding; do
      case "$(basename "$finding")" in
        timeout-*) echo "timeout" ;;
        oom-*) echo "out of memory" ;;
        *) timeout 120 "$build/fuzz/$target" "$finding" 2>&1 | grep -m 1 -E '^SUMMARY: |^fuzz_[a-z_]+: ' |
          sed 's/ in .*//' ;;
      esac
    done | sort -u || true
  )
  if [ "$status" -ne 0 ] || [ "$new" -gt 0 ]; then
    found_any=1
    [ -n "$distinct" ] && sed 's/^/  /' <<<"$distinct" >&2
  fi
  summary+=("$(printf '%-18s %10s executions (%s/s), corpus %5d, %d findings (%d distinct), exit %d' \
    "$target" "${runs:-?}" "${rate:-?}" "$(find "$corpus" -type f | wc -l)" "$new" \
    "$(printf '%s' "$distinct" | grep -c . || true)" "$status")")
done

echo "fuzz.sh: results after $seconds s each" >&2
printf '  %s\n' "${summary[@]}" >&2
exit "$found_any"
