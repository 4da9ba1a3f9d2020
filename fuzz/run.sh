#!/usr/bin/env bash
# Fuzzes one target with AFL++ for a given time and sums up what it found.
#
#   fuzz/run.sh ecodyn|scor|description|options|report SECONDS [OUTDIR]
#
# ecodyn:      the whole program, one input = network file, a line "%%", answers.
# scor:        the importer's SCOR reader and conversion.
# description: the companion programs' reader of network and snapshot files,
#              with the export round trips (network file, SCOR through import).
# options:     ecodyn-run's options through its scenario code, and the answers
#              it makes given to ecodyn, which must take each at once.
# report:      the report reader with the CSV tables and the plot script fed
#              from it, which must hold nothing from the input that could act.
# Builds the targets with the address and undefined-behaviour sanitizers in
# build-fuzz/ (installing afl++ with apt-get when it is missing), writes the
# seeds into OUTDIR/seeds, and leaves AFL++'s output in OUTDIR/afl
# (OUTDIR defaults to build-fuzz/out-TARGET). Crashes and hangs found are
# in OUTDIR/afl/default/crashes and .../hangs; run one again with
#   build-fuzz/fuzz/ecodyn_target FILE     or     build-fuzz/fuzz/scor_target FILE
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

targets="ecodyn scor description options report"
usage() { echo "usage: fuzz/run.sh ${targets// /|} SECONDS [OUTDIR]" >&2; exit 2; }
(($# >= 2)) || usage
target=$1 seconds=$2
[[ " $targets " == *" $target "* ]] || usage
[[ $seconds =~ ^[0-9]+$ ]] || usage
out=${3:-$root/build-fuzz/out-$target}
mkdir -p "$out"
out=$(cd "$out" && pwd)

if ! command -v afl-fuzz >/dev/null || ! command -v afl-clang-fast++ >/dev/null; then
  echo "installing afl++"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq afl++ >/dev/null
fi
bash scripts/install-deps.sh

# The sanitizer build. AFL++'s clang wrapper instruments for coverage; the
# arithmetic flags of the project's own build stay as they are.
build=$root/build-fuzz
if [[ ! -f $build/CMakeCache.txt ]]; then
  CC=afl-clang-fast CXX=afl-clang-fast++ cmake -S . -B "$build" \
    -DECODYN_FUZZ=ON -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=undefined" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
fi
cmake "$build" >/dev/null  # a target added since the build was configured
AFL_QUIET=1 nice -n 10 cmake --build "$build" -j2 --target "${target}_target" >/dev/null
binary=$build/fuzz/${target}_target

# Under the sanitizers the bundled examples take up to 4 s, and a legitimate
# run of 10000 table rows of a 75-compartment network minutes. An input over
# the timeout is dropped; one that also exceeds AFL_HANG_TMOUT on a second run
# is kept as a hang (fuzz/repro.sh then tells a slow run from a stuck one).
timeout_ms=${FUZZ_TIMEOUT_MS:-2000}
export AFL_HANG_TMOUT=${AFL_HANG_TMOUT:-10000}

# Seeds.
seeds=$out/seeds
rm -rf "$seeds"
mkdir -p "$seeds"
if [[ $target == ecodyn ]]; then
  join() { { cat "$1"; echo '%%'; cat "$2"; } >"$3"; }
  for net in examples/*.net examples/networks/*.net; do
    base=${net%.net}
    for answers in "$base".answers "$base".*.answers; do
      [[ -f $answers && $answers != *.resume.answers ]] || continue
      join "$net" "$answers" "$seeds/$(basename "${answers%.answers}")"
    done
  done
  # A snapshot read back as the network file: the restart path.
  work=$(mktemp -d /dev/shm/ecodyn-seed.XXXXXX)
  ECODYN_FUZZ_WORKDIR=$work "$binary" "$seeds/grazing_chain" >/dev/null 2>&1 || true
  if [[ -s $work/fort.18 ]]; then
    # One set of answers for each snapshot in the file.
    snaps=$(grep -c '^  4  3  [123]' "$work/fort.18" || true)
    for ((k = 0; k < snaps; ++k)); do cat examples/grazing_chain.resume.answers; done >"$work/answers"
    join "$work/fort.18" "$work/answers" "$seeds/grazing_chain.resume"
  fi
  rm -rf "$work"
  # Network only, no answers: the end of the terminal input.
  cp examples/two_compartments.net "$seeds/two_compartments.no_answers"
  dict=fuzz/ecodyn.dict
elif [[ $target == report ]]; then
  for r in examples/expected/*/fort.8 examples/results/*.report; do
    cp "$r" "$seeds/$(echo "${r#examples/}" | tr / _)"
  done
  dict=fuzz/report.dict
elif [[ $target == options ]]; then
  printf '2\n0\n10\n1\n0\n\nbiomass:3=x0.5\n' >"$seeds/one_change"
  printf '1,2,3\n\n50\n5\n25\n\nexchange:1,2=0.2\nexport:predators=x2\n' >"$seeds/three_models"
  printf '1,2\n0\n5\n0.5\n\n1,2,3,4,5,6,7\nrespiration:microphytes=x1.5\n' >"$seeds/crystal_river"
  dict=fuzz/options.dict
elif [[ $target == description ]]; then
  for net in examples/*.net examples/networks/*.net examples/expected/*/fort.18; do
    cp "$net" "$seeds/$(echo "${net#examples/}" | tr / _)"
  done
  dict=fuzz/description.dict
else
  cp examples/networks/scor/*.txt "$seeds/"
  dict=fuzz/scor.dict
fi
# The scor and description targets run in AFL++'s persistent driver, which
# takes its inputs from shared memory; the ecodyn and options targets read a
# file each run.
input_arg=()
[[ $target == ecodyn || $target == options ]] && input_arg=(@@)

# One fixed working directory per fuzzer instance, on tmpfs.
workdir=/dev/shm/ecodyn-fuzz-$target-$$
mkdir -p "$workdir"
trap 'rm -rf "$workdir"' EXIT

# A seed slower than the timeout would stop afl-fuzz; leave it out.
if [[ $target == ecodyn ]]; then
  for s in "$seeds"/*; do
    limit=$(printf %d.%03d $((timeout_ms / 1000)) $((timeout_ms % 1000)))
    rc=$( (ECODYN_FUZZ_WORKDIR=$workdir timeout "$limit" "$binary" "$s" >/dev/null 2>&1 </dev/null
      echo $?) 2>/dev/null)
    if ((rc == 124)); then
      echo "seed $(basename "$s") is slower than $timeout_ms ms; left out"
      rm -f "$s"
    fi
  done
fi

# Sanitizer reports must end the process by a signal for AFL++ to see them.
export ASAN_OPTIONS=abort_on_error=1:symbolize=0:detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1:symbolize=0
export AFL_SKIP_CPUFREQ=1 AFL_NO_AFFINITY=1 AFL_NO_UI=1
export AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_SKIP_CRASHES=1
export ECODYN_FUZZ_WORKDIR=$workdir

resume=-
[[ -d $out/afl/default/queue ]] || resume=$seeds
echo "fuzzing $target for $seconds s (timeout $timeout_ms ms), output in $out/afl"
nice -n 10 afl-fuzz -i "$resume" -o "$out/afl" -x "$dict" -m none -t "$timeout_ms" \
  -V "$seconds" -- "$binary" "${input_arg[@]}" >"$out/afl.log" 2>&1 || {
  echo "afl-fuzz failed; see $out/afl.log" >&2
  tail -20 "$out/afl.log" >&2
  exit 1
}

stats=$out/afl/default/fuzzer_stats
field() { awk -F' *: *' -v k="$1" '$1 == k { print $2 }' "$stats"; }
crashes=$(field saved_crashes)
hangs=$(field saved_hangs)
echo "executions:   $(field execs_done) ($(field execs_per_sec)/s)"
echo "corpus:       $(field corpus_count) inputs, $(field corpus_found) found, edges $(field edges_found)"
echo "crashes:      ${crashes:-$(field unique_crashes)}"
echo "hangs:        ${hangs:-$(field unique_hangs)}"
echo "crash inputs: $out/afl/default/crashes"
echo "hang inputs:  $out/afl/default/hangs"
