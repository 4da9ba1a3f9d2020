#!/usr/bin/env bash
# Installs what is missing, builds the programs it runs, and runs ecodyn on
# a bundled example network in a scratch directory, answering the dialogue
# from a file; then draws the table with ecodyn-plot.
#
#   scripts/demo.sh [--keep] [NETWORK [ANSWERS]]
#
# By default the grazing chain runs under generic predator control with its
# predators cut from 8 to 2: grazers and predators then swing against each
# other for a hundred time units before they settle. NETWORK and ANSWERS name
# files in examples/ without their endings (ANSWERS defaults to NETWORK).
# The scratch directory is removed at the end unless --keep is given.
set -euo pipefail
cd "$(dirname "$0")/.."
keep=false
[[ ${1:-} == --keep ]] && { keep=true; shift; }
top=$PWD
echo "== checking the Debian packages the build needs"
bash scripts/install-deps.sh
bash scripts/install-r.sh
if [[ ! -f build/CMakeCache.txt ]]; then
  echo "== configuring build/"
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
echo "== building ecodyn and ecodyn-plot in build/ with $(nproc) jobs"
cmake --build build -j"$(nproc)" --target ecodyn ecodyn-plot

example=${1:-grazing_chain}
scratch=$(mktemp -d)
$keep || trap 'rm -rf "$scratch"' EXIT
cp "examples/$example.net" "$scratch/fort.7"
if (($# > 0)); then
  cp "examples/${2:-$example}.answers" "$scratch/answers"
  told="examples/${2:-$example}.answers"
else
  # Model 1, from 0 to 100, a row every 2, a snapshot at the end; biomass of
  # compartment 3 (the predators) set to 2.
  printf '1\n0\n100\n2\n0\nY\n1\n3\n2\nN\n' >"$scratch/answers"
  told="model 1, 0 to 100 by 2, predators (3) cut to a biomass of 2"
fi
cd "$scratch"
echo "== ecodyn on examples/$example.net in $scratch; answers: $told"
status=0
"$top/build/ecodyn" <answers || status=$?
echo "== exit status $status"
echo "== report file fort.8"
cat fort.8
echo "== snapshot file fort.18"
cat fort.18
if [[ $status == 0 ]] && grep -q '^    TIME' fort.8; then
  "$top/build/tools/plot/ecodyn-plot" fort.8 -o fort.8.svg
  echo "== the table drawn by ecodyn-plot: $scratch/fort.8.svg"
fi
if $keep; then
  echo "== kept $scratch"
else
  echo "== $scratch removed (scripts/demo.sh --keep keeps it, with the picture)"
fi
exit "$status"
