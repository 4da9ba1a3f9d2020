#!/usr/bin/env bash
# Times the merge of four shards of the Lake Oneida ensemble of
# bench/ensemble.sh (1000 members of type 2, 0 to 5 by 0.05, every biomass
# drawn within 20%, every compartment recorded): its wall time, peak memory
# and rate (trajectory rows and long-shape values a second), the size of the
# merged database, and the peak memory of a shard beside a single run's. The
# merged database is compared with the single run's (sqlite3 .dump).
#
#   bash bench/shards.sh
#   MEMBERS=100 RUNS=1 bash bench/shards.sh
#   CURRENT=build bash bench/shards.sh   # time an existing optimized build
#
# Builds the tree in $WORK (default /tmp/ecodyn-shards-bench) unless CURRENT
# names a build. The merge time is the best of RUNS (default 3).
set -euo pipefail

src=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
work=${WORK:-/tmp/ecodyn-shards-bench}
runs=${RUNS:-3}
members=${MEMBERS:-$([[ $runs == 1 ]] && echo 100 || echo 1000)}
jobs=${JOBS:-2}
mkdir -p "$work"
current=${CURRENT:-$work/build}
if [[ -z ${CURRENT:-} ]]; then
  cmake -S "$src" -B "$current" -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$current" -j"$jobs" --target ecodyn-ensemble >/dev/null
ensemble=$(readlink -f "$current/tools/ensemble/ecodyn-ensemble")
network=$src/examples/networks/lake_oneida_pre_zm.net
options=(--model 2 --start 0 --end 5 --print 0.05 --vary "biomass:all=uniform:20%" --record all
         --draws "$members")

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# Returns the peak of the resident memory (KB) of a command, its processes
# added up, sampled every 20 ms.
peak_kb() {
  "$@" >/dev/null 2>&1 &
  local pid=$! peak=0 sum
  while [[ -e /proc/$pid ]] && ! grep -q '^State:.*Z' "/proc/$pid/status" 2>/dev/null; do
    sum=$(ps -o rss= --pid "$pid" --ppid "$pid" 2>/dev/null | awk '{ s += $1 } END { print s + 0 }')
    ((sum > peak)) && peak=$sum
    sleep 0.02
  done
  wait "$pid"
  echo "$peak"
}

cd "$work"
rm -f single.sqlite part[1-4].sqlite all.sqlite
single_kb=$(peak_kb "$ensemble" "$network" -o single.sqlite --jobs 1 "${options[@]}")
shard_kb=0
for i in 1 2 3 4; do
  kb=$(peak_kb "$ensemble" "$network" -o "part$i.sqlite" --jobs 1 --shard "$i/4" "${options[@]}")
  ((kb > shard_kb)) && shard_kb=$kb
done

# The merge: the best time of RUNS, and the peak memory of its processes.
best=
for ((r = 0; r < runs; ++r)); do
  start=$(now_ms)
  "$ensemble" merge --force -o all.sqlite part1.sqlite part2.sqlite part3.sqlite part4.sqlite \
    >/dev/null
  ms=$(($(now_ms) - start))
  if [[ -z $best || $ms -lt $best ]]; then best=$ms; fi
done
merge_kb=$(peak_kb "$ensemble" merge --force -o all.sqlite part1.sqlite part2.sqlite \
  part3.sqlite part4.sqlite)
if ! cmp -s <(sqlite3 single.sqlite .dump) <(sqlite3 all.sqlite .dump); then
  echo "the merged database differs from the single run's"
  exit 1
fi
rows=$(sqlite3 all.sqlite "SELECT count(*) FROM trajectory_row")
values=$(sqlite3 all.sqlite "SELECT count(*) * (SELECT count(*) FROM recorded) FROM trajectory_row")
size=$(stat -c %s all.sqlite)
mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
echo "Lake Oneida, type 2, 0 to 5 by 0.05, biomass:all=uniform:20%, --record all, $members members"
echo "merge of 4 shards: $best ms (best of $runs), peak $(mb "$merge_kb") MB (every process)"
echo "  $rows trajectory rows: $(awk -v n="$rows" -v t="$best" 'BEGIN { printf "%.0f", n / t * 1000 }') rows/s;" \
  "$values long-shape values: $(awk -v n="$values" -v t="$best" 'BEGIN { printf "%.0f", n / t * 1000 }') values/s"
echo "merged database: $(awk -v s="$size" 'BEGIN { printf "%.1f", s / 1048576 }') MB, the same as the single run's"
echo "peak memory (--jobs 1, every process): a shard $(mb "$shard_kb") MB, the single run $(mb "$single_kb") MB"
