#!/usr/bin/env bash
# Runs inputs found by fuzz/run.sh once more, with symbolized sanitizer
# reports, and says how each ended.
#
#   fuzz/repro.sh TARGET FILE... [--timeout SECONDS]
#
# Prints per input: exit status (or signal), wall time, and the sanitizer's
# first report line or the program's last line on standard error. An input
# still running after the timeout (default 120 s) is reported as stuck.
set -uo pipefail
cd "$(dirname "$0")/.."
(($# >= 2)) || { echo "usage: fuzz/repro.sh TARGET FILE... [--timeout SECONDS]" >&2; exit 2; }
target=$1
shift
limit=120
files=()
while (($#)); do
  if [[ $1 == --timeout ]]; then limit=$2; shift 2; else files+=("$1"); shift; fi
done
binary=build-fuzz/fuzz/${target}_target
[[ -x $binary ]] || { echo "no $binary: run fuzz/run.sh first" >&2; exit 2; }
# One working directory for all runs, removed at the end even when a run
# aborts (the harness removes its own only on a normal exit).
workdir=$(mktemp -d /dev/shm/ecodyn-repro.XXXXXX)
trap 'rm -rf "$workdir"' EXIT
export ECODYN_FUZZ_WORKDIR=$workdir
export ASAN_OPTIONS=symbolize=1:detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:symbolize=1
for f in "${files[@]}"; do
  [[ $(basename "$f") == README.txt ]] && continue
  err=$(mktemp)
  start=$(date +%s.%N)
  timeout -s KILL "$limit" "$binary" "$f" >/dev/null 2>"$err" </dev/null
  rc=$?
  secs=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
  if ((rc == 137)); then
    outcome="stuck (killed after $limit s)"
  elif ((rc > 128)); then
    outcome="signal $((rc - 128))"
  else
    outcome="exit $rc"
  fi
  report=$(grep -m1 -E 'ERROR: (Address|Leak)Sanitizer|runtime error:|SUMMARY:' "$err" || tail -n1 "$err")
  printf '%s: %s, %s s: %s\n' "$f" "$outcome" "$secs" "$report"
  rm -f "$err"
done
