#!/usr/bin/env bash
# Builds the fuzzers and runs each for SECONDS (default 60), starting from
# the seed corpus in fuzz/corpus and keeping what they find in
# build/fuzz/corpus. A finding stops the run: the fuzzer's report is
# printed and the reproducer is left in build/fuzz as crash-*.
#
# usage: fuzz/run_fuzzers.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
root=$PWD

cmake --workflow --preset fuzz >/dev/null
for target in record_conversion reading run; do
  corpus=$root/build/fuzz/corpus/$target
  log=$root/build/fuzz/fuzz_$target.log
  mkdir -p "$corpus"
  if ! (cd build/fuzz && "./fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
          -artifact_prefix="$root/build/fuzz/crash-$target-" \
          "$corpus" "$root/fuzz/corpus/$target") >"$log" 2>&1; then
    tail -40 "$log"
    echo "fuzz_$target: FOUND A FAILURE (see $log)" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log")
  echo "fuzz_$target: ${seconds} s, $runs runs, peak RSS ${rss} MB, corpus $(ls "$corpus" | wc -l) inputs, nothing found"
done
