#!/usr/bin/env bash
# Regenerates examples/results/: runs ecodyn on the published oyster reef
# network with examples/results/oyster_reef.answers (generic predator
# control, predators cut from 69 to 20, the meiofauna's respiration
# coefficient raised to 1 per day, days 0 to 200 printed every 2, snapshots
# every 50), keeps its report and snapshots, and turns them into CSV tables
# and pictures with ecodyn-csv and ecodyn-plot.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
top=$PWD
out=examples/results
csv=build/tools/csv/ecodyn-csv
plot=build/tools/plot/ecodyn-plot
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp examples/networks/oyster_reef.net "$scratch/fort.7"
(cd "$scratch" && "$top/build/ecodyn" <"$top/$out/oyster_reef.answers" >terminal.txt)
cp "$scratch/fort.8" "$out/oyster_reef.report"
cp "$scratch/fort.18" "$out/oyster_reef.snapshots"
"$csv" "$out/oyster_reef.report" -o "$out/oyster_reef.csv" --events "$out/oyster_reef.extinctions.csv"
"$csv" "$out/oyster_reef.report" --long -o "$out/oyster_reef.long.csv"
"$csv" --snapshots "$out/oyster_reef.snapshots" -o "$out/oyster_reef.snapshots.csv"
"$plot" "$out/oyster_reef.report" -o "$out/oyster_reef.svg"
"$plot" "$out/oyster_reef.report" -o "$out/oyster_reef.png" --script "$out/oyster_reef.gp"
"$plot" "$out/oyster_reef.report" -o "$out/oyster_reef.relative.png" --relative
echo "examples/results regenerated:"
ls "$out"
