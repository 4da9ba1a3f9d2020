#!/usr/bin/env bash
# Compares the model equations, literal and fast, on the eight published
# networks under each model type, and the whole 10000-row Lake Oneida run
# under each model type against the program before the fast evaluation.
#
#   bash bench/compare.sh            # before = commit b2c7b6d
#   BASE=<rev> RUNS=5 bash bench/compare.sh
#   CURRENT=build bash bench/compare.sh   # time an existing optimized build
#
# Builds the current tree and the base revision (from `git archive`, the
# repository is not touched) in $WORK, default /tmp/ecodyn-compare. Times
# are the best of RUNS (default 3) CPU times per derivs call from Google
# Benchmark and wall times of whole runs; the run outputs (terminal,
# fort.8, fort.18) of both programs are compared byte for byte.
set -euo pipefail

src=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
base_rev=${BASE:-b2c7b6d}
work=${WORK:-/tmp/ecodyn-compare}
runs=${RUNS:-3}
jobs=${JOBS:-2}
mkdir -p "$work"

if [[ ! -x $work/base-$base_rev/build/ecodyn ]]; then
  rm -rf "$work/base-$base_rev"
  mkdir -p "$work/base-$base_rev/src"
  git -C "$src" archive "$base_rev" | tar -x -C "$work/base-$base_rev/src"
  cmake -S "$work/base-$base_rev/src" -B "$work/base-$base_rev/build" -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$work/base-$base_rev/build" -j"$jobs" --target ecodyn >/dev/null
fi
# One build of the current tree per source folder (a build folder belongs
# to the sources it was configured for), or the optimized build $CURRENT
# of this tree when it is given.
current=${CURRENT:-$work/current-$(printf '%s' "$src" | md5sum | cut -c1-12)}
[[ -n ${CURRENT:-} ]] || cmake -S "$src" -B "$current" -DBUILD_TESTING=OFF >/dev/null
cmake --build "$current" -j"$jobs" --target ecodyn ecodyn_bench >/dev/null
before=$work/base-$base_rev/build/ecodyn
after=$current/ecodyn

echo "derivs, CPU time per call (ns), best of $runs"
printf '%-28s %4s %9s %9s %7s %13s\n' network type literal fast ratio blocks
"$current/bench/ecodyn_bench" --benchmark_filter='^derivs/' --benchmark_min_time=0.1 \
    --benchmark_repetitions="$runs" --benchmark_format=csv 2>/dev/null | grep -v '_mean\|_median\|_stddev\|_cv' |
  awk -F, '
    NR == 1 { for (c = 1; c <= NF; ++c) { gsub(/"/, "", $c); col[$c] = c }; next }
    {
      split($1, part, "/"); gsub(/"/, "", part[1]); gsub(/"/, "", part[4])
      key = part[2] " " substr(part[3], 6)
      if (!(key in seen)) { seen[key] = 1; order[++n] = key }
      # The best of the repetitions: the least disturbed by other work.
      if (!((key, part[4]) in t) || $col["cpu_time"] < t[key, part[4]]) t[key, part[4]] = $col["cpu_time"]
      blocks[key] = $col["blocks"] "/" $col["of"]
    }
    END {
      for (k = 1; k <= n; ++k) {
        split(order[k], kt, " ")
        printf "%-28s %4s %9.0f %9.0f %6.1fx %13s\n", kt[1], kt[2], t[order[k], "literal"],
               t[order[k], "fast"], t[order[k], "literal"] / t[order[k], "fast"], blocks[order[k]]
      }
    }'

# Returns the best wall time in ms of $runs runs of a program on the lake
# network in directory $1 under answers $2; the last run's files stay.
best_ms() {
  local dir=$1 answers=$2 program=$3 best=
  for ((r = 0; r < runs; ++r)); do
    rm -f "$dir/fort.8" "$dir/fort.18"
    local start end
    start=$(date +%s%N)
    (cd "$dir" && "$program" <"$answers" >terminal 2>&1) || true
    end=$(date +%s%N)
    local ms=$(((end - start) / 1000000))
    if [[ -z $best || $ms -lt $best ]]; then best=$ms; fi
  done
  echo "$best"
}

echo "(fast: derivs as a run calls it; up to 8 compartments it keeps the literal chains)"
echo
echo "whole Lake Oneida run, 0 to 34 by 0.0034 (10000 rows), best of $runs (ms)"
printf '%4s %9s %9s %7s  %-10s %s\n' type before after ratio outputs "last line"
lake=$src/examples/networks/lake_oneida_pre_zm
for type in 1 2 3; do
  for which in before after; do
    mkdir -p "$work/lake-$which-$type"
    cp "$lake.net" "$work/lake-$which-$type/fort.7"
    { printf '%s\n0\n34\n0.0034\n0\nN\n' "$type"; tail -n 1 "$lake.answers"; } >"$work/lake-$which-$type/answers"
  done
  b=$(best_ms "$work/lake-before-$type" answers "$before")
  a=$(best_ms "$work/lake-after-$type" answers "$after")
  same=identical
  for f in terminal fort.8 fort.18; do
    [[ -e $work/lake-before-$type/$f || -e $work/lake-after-$type/$f ]] || continue
    cmp -s "$work/lake-before-$type/$f" "$work/lake-after-$type/$f" || same="DIFFER($f)"
  done
  last=$(grep -v '^ *$' "$work/lake-after-$type/terminal" | tail -n 1 | cut -c1-40)
  printf '%4s %9s %9s %6sx  %-10s %s\n' "$type" "$b" "$a" \
    "$(awk -v b="$b" -v a="$a" 'BEGIN { printf "%.1f", b / a }')" "$same" "$last"
done
