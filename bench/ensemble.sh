#!/usr/bin/env bash
# Times an ensemble of Lake Oneida: 1000 members of type 2, 0 to 5 by 0.05,
# every biomass drawn within 20%, every compartment recorded: ecodyn-ensemble
# with one worker and with two, beside a shell loop running the members'
# ecodyn-run commands (as `ecodyn-ensemble member DB K` prints them). Tells
# the peak memory of the whole run (every process of it, sampled), the
# database size per member, and from ensemble_bench the cost of one
# member's run and of its insertion.
#
#   bash bench/ensemble.sh
#   MEMBERS=200 RUNS=1 bash bench/ensemble.sh
#   CURRENT=build bash bench/ensemble.sh   # time an existing optimized build
#
# Builds the tree in $WORK (default /tmp/ecodyn-ensemble-bench) unless
# CURRENT names a build. Times are wall times, the best of RUNS (default 3)
# runs of the program and one run of the loop. RUNS=1 (a check that the
# benchmark runs) takes 100 members unless MEMBERS says otherwise.
set -euo pipefail

src=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
work=${WORK:-/tmp/ecodyn-ensemble-bench}
runs=${RUNS:-3}
members=${MEMBERS:-$([[ $runs == 1 ]] && echo 100 || echo 1000)}
jobs=${JOBS:-2}
mkdir -p "$work"
current=${CURRENT:-$work/build}
if [[ -z ${CURRENT:-} ]]; then
  cmake -S "$src" -B "$current" -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$current" -j"$jobs" --target ecodyn ecodyn-run ecodyn-ensemble >/dev/null
cmake --build "$current" -j"$jobs" --target ensemble_bench >/dev/null 2>&1 || true
ensemble=$(readlink -f "$current/tools/ensemble/ecodyn-ensemble")
runner=$(readlink -f "$current/tools/run/ecodyn-run")
network=$src/examples/networks/lake_oneida_pre_zm.net
options=(--model 2 --start 0 --end 5 --print 0.05 --vary "biomass:all=uniform:20%" --record all
         --draws "$members")

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# Returns the best wall time (ms) of $runs runs of the ensemble with $1 jobs.
best_ms() {
  local best= start ms
  for ((r = 0; r < runs; ++r)); do
    start=$(now_ms)
    "$ensemble" "$network" -o "$work/ens-$1.sqlite" --force --jobs "$1" "${options[@]}" >/dev/null 2>&1
    ms=$(($(now_ms) - start))
    if [[ -z $best || $ms -lt $best ]]; then best=$ms; fi
  done
  echo "$best"
}

# Returns the peak of the resident memory (KB) of the ensemble with $1 jobs,
# its processes added up, sampled every 20 ms.
peak_kb() {
  "$ensemble" "$network" -o "$work/peak-$1.sqlite" --force --jobs "$1" "${options[@]}" >/dev/null 2>&1 &
  local pid=$! peak=0 sum
  while [[ -e /proc/$pid ]] && ! grep -q '^State:.*Z' "/proc/$pid/status" 2>/dev/null; do
    sum=$(ps -o rss= --pid "$pid" --ppid "$pid" 2>/dev/null | awk '{ s += $1 } END { print s + 0 }')
    ((sum > peak)) && peak=$sum
    sleep 0.02
  done
  wait "$pid"
  echo "$peak"
}

echo "Lake Oneida, type 2, 0 to 5 by 0.05 (101 rows), biomass:all=uniform:20%, --record all,"
echo "$members members; wall times, best of $runs"
one=$(best_ms 1)
two=$(best_ms 2)
peak1=$(peak_kb 1)
peak2=$(peak_kb 2)
if ! cmp -s <(sqlite3 "$work/ens-1.sqlite" .dump) <(sqlite3 "$work/ens-2.sqlite" .dump); then
  echo "the databases of --jobs 1 and --jobs 2 differ"
  exit 1
fi
size=$(stat -c %s "$work/ens-2.sqlite")

# The loop: every member's command, each run in a directory of its own.
rm -rf "$work/loop" && mkdir -p "$work/loop"
for ((k = 1; k <= members; ++k)); do
  line=$("$ensemble" member "$work/ens-2.sqlite" "$k")
  line=${line%%$'\n'*}  # the command, without the answers
  printf '%s --dir m%d >/dev/null 2>&1\n' "'$runner'${line#ecodyn-run}" "$k"
done >"$work/loop/commands.sh"
start=$(now_ms)
(cd "$work/loop" && bash -e commands.sh)
loop=$(($(now_ms) - start))
rm -rf "$work/loop"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", a / b }'; }
per() { awk -v a="$1" -v n="$members" 'BEGIN { printf "%.2f", a / n }'; }
printf '%-34s %9s %12s %10s\n' "" "ms" "ms/member" "peak MB"
printf '%-34s %9s %12s %10s\n' "shell loop of ecodyn-run" "$loop" "$(per "$loop")" "-"
printf '%-34s %9s %12s %10s\n' "ecodyn-ensemble --jobs 1" "$one" "$(per "$one")" \
  "$(awk -v k="$peak1" 'BEGIN { printf "%.1f", k / 1024 }')"
printf '%-34s %9s %12s %10s\n' "ecodyn-ensemble --jobs 2" "$two" "$(per "$two")" \
  "$(awk -v k="$peak2" 'BEGIN { printf "%.1f", k / 1024 }')"
echo
echo "--jobs 2 against the loop: $(ratio "$loop" "$two")x (target 5x)"
echo "--jobs 2 against --jobs 1: $(ratio "$one" "$two")x (target 1.7x)"
echo "peak memory, every process added up: $(awk -v k="$peak2" 'BEGIN { printf "%.1f", k / 1024 }') MB (target under 64 MB)"
echo "database: $(awk -v s="$size" -v n="$members" 'BEGIN { printf "%.1f", s / n / 1024 }') KB per member; the same content for 1 and 2 jobs"
if [[ -x $current/bench/ensemble_bench ]]; then
  bench=$current/bench/ensemble_bench
  # CPU time (ms) of one member's run, passage, insertion and share of the
  # summary.
  cost() {
    "$bench" --benchmark_filter="^$1" --benchmark_min_time=0.2 --benchmark_format=csv 2>/dev/null |
      awk -F, -v name="$1" 'index($1, "\"" name) == 1 {
        t = $4 / ($5 == "us" ? 1000 : 1); if (name == "summarize_members") t /= 300; printf "%.3g\n", t }'
  }
  run_member=$(cost run_member)
  pass_member=$(cost pass_member)
  insert_member=$(cost insert_member)
  summarize_members=$(cost summarize_members)
  # How many cores the machine gives two busy processes now: two runs of
  # members at once against one alone.
  wall() { "$bench" --benchmark_filter='^run_member$' --benchmark_min_time=1 --benchmark_format=csv \
    2>/dev/null | awk -F, '/^"run_member"/ { print $3 }'; }
  alone=$(wall)
  wall >"$work/other" &
  both=$(wall)
  wait
  cores=$(awk -v a="$alone" -v b="$both" -v c="$(cat "$work/other")" 'BEGIN { printf "%.2f", 2 * a / ((b + c) / 2) }')
  echo
  echo "one member (ensemble_bench, CPU ms): run $run_member, passage $pass_member,"
  echo "  insertion $insert_member, summary $summarize_members (of 300 members, per member)"
  echo "cores the machine gives two busy processes now: $cores of 2"
  awk -v c="$run_member" -v w="$insert_member" -v p="$pass_member" -v s="$summarize_members" \
      -v n="$members" -v loop="$loop" 'BEGIN {
    one = n * (c + s); two = n * (c + w + 2 * p) / 2 + n * s / 2
    printf "on two idle cores (from these costs): --jobs 1 %.1f s, --jobs 2 %.1f s: %.1fx; the loop %.1fx\n",
      one / 1000, two / 1000, one / two, loop / two }'
fi
