#!/usr/bin/env bash
# Times code2option on a generated 100 MB catalogue against the I/O floor
# (cat reading the file twice, plus writing a file of the output's size) and
# against the same conversion in mawk; checks that both give the same bytes;
# reports peak memory at 100 MB and 10 MB and the growth of time with size.
#
# usage: bench/run_benchmark.sh      (RUNS=n for n timed rounds, default 11)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-11}
big_bytes=$((100 * 1024 * 1024))
small_bytes=$((10 * 1024 * 1024))
seed=2026

(cd "$root" && cmake --workflow --preset release >/dev/null)
tool=$root/build/release/code2option
# tmpfs, so that disk flushes do not drown the program's own cost.
work=$(mktemp -d /dev/shm/code2option-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
c++ -O2 -std=c++20 -o generate_codes "$root/bench/generate_codes.cpp"
./generate_codes $big_bytes $seed >big.txt
./generate_codes $small_bytes $seed >small.txt
echo "generated: big.txt $(stat -c %s big.txt) bytes, $(wc -l <big.txt) lines;" \
  "small.txt $(stat -c %s small.txt) bytes"

now_us() { echo "${EPOCHREALTIME/./}"; }
echo codes.txt >name.txt

run_tool() { "$tool" <name.txt >/dev/null; }
run_spawn() { /bin/true <name.txt >/dev/null; }
run_mawk() { mawk -f "$root/bench/peer.awk" codes.txt >codes.new && mv codes.new codes.txt; }
run_floor() {
  cat codes.txt >/dev/null
  cat codes.txt >/dev/null
  head -c "$output_bytes" /dev/zero >codes.new
}

# Seconds (as microseconds) of one run of "$2" on a fresh copy of "$1".
time_one() {
  cp "$1" codes.txt
  rm -f codes.new
  local start end
  start=$(now_us)
  "$2"
  end=$(now_us)
  echo $((end - start))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The same output from both, so that speed is never bought with a wrong result.
cp big.txt codes.txt && run_mawk && mv codes.txt expected.txt
cp big.txt codes.txt && run_tool
if ! cmp -s codes.txt expected.txt; then
  echo "code2option and mawk disagree on the generated file" >&2
  exit 1
fi
output_bytes=$(stat -c %s expected.txt)
echo "outputs agree: $output_bytes bytes"

: >empty.txt
: >t_tool; : >t_floor; : >t_mawk; : >t_small; : >t_spawn
for ((i = 1; i <= runs; i++)); do
  time_one big.txt run_tool >>t_tool
  time_one big.txt run_floor >>t_floor
  time_one big.txt run_mawk >>t_mawk
  time_one small.txt run_tool >>t_small
  time_one empty.txt run_spawn >>t_spawn
done

peak_kib() { cp "$1" codes.txt && /usr/bin/time -f %M "$tool" <name.txt 2>&1 >/dev/null | tail -1; }
rss_big=$(peak_kib big.txt)
rss_small=$(peak_kib small.txt)

seconds() { awk -v t="$1" 'BEGIN { printf "%.3f", t / 1e6 }'; }
spawn_us=$(median <t_spawn)
echo "median of $runs runs, seconds: code2option $(seconds "$(median <t_tool)")," \
  "floor $(seconds "$(median <t_floor)"), mawk $(seconds "$(median <t_mawk)")," \
  "code2option at 10 MB $(seconds "$(median <t_small)"), starting /bin/true $(seconds "$spawn_us")"

# Starting a process from this shell costs milliseconds on some machines,
# enough to hide how cost grows at 10 MB: each time is taken less that
# cost, once for every process it starts (code2option 1, the floor 3, mawk
# with mv 2). code2option's own start-up stays in its time.
less_spawns() { awk -v t="$1" -v n="$2" -v s="$spawn_us" 'BEGIN { print t - n * s }'; }
tool_us=$(less_spawns "$(median <t_tool)" 1)
floor_us=$(less_spawns "$(median <t_floor)" 3)
mawk_us=$(less_spawns "$(median <t_mawk)" 2)
small_us=$(less_spawns "$(median <t_small)" 1)
echo "less process starts, seconds: code2option $(seconds "$tool_us"), floor $(seconds "$floor_us")," \
  "mawk $(seconds "$mawk_us"), code2option at 10 MB $(seconds "$small_us")"
awk -v tool="$tool_us" -v floor="$floor_us" -v mawk="$mawk_us" -v small="$small_us" \
  -v rss="$rss_big" -v rss_small="$rss_small" 'BEGIN {
    printf "ratio_floor=%.2f ratio_mawk=%.3f peak_rss_mib=%.1f peak_rss_small_mib=%.1f time_ratio_10x=%.2f\n",
      tool / floor, tool / mawk, rss / 1024, rss_small / 1024, tool / small
  }'
