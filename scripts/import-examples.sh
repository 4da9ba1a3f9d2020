#!/usr/bin/env bash
# Regenerates examples/networks/ from the published networks in SCOR format
# (default: ../shared/networks where it exists, else the copies kept in
# examples/networks/scor): for each network NAME.net, converted with
# ecodyn-import; NAME.about.txt, its source and units with the choices made
# in converting it; and NAME.answers, the answers for a short run of ecodyn.
#
#   bash scripts/import-examples.sh [SOURCE_DIR]
#
# The importer is built in build/ unless ECODYN_IMPORT names one.
set -euo pipefail
cd "$(dirname "$0")/.."
default_source=../shared/networks
[[ -d $default_source ]] || default_source=examples/networks/scor
source_dir=${1:-$default_source}
out=examples/networks

if [[ -z ${ECODYN_IMPORT:-} ]]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build --target ecodyn-import -j"$(nproc)" >/dev/null
  importer=build/tools/import/ecodyn-import
else
  importer=$ECODYN_IMPORT
fi

# Per network: balance_digits (- for blank, the default tolerance 0.001), why,
# the time unit, end time and print interval of the run, and for more than
# seven compartments the seven compartments to follow.
declare -A digits why unit end print follow
names=(cone_spring silver_springs oyster_reef crystal_river_creek_control
       baltic_sea_aggregated chesapeake_bay_mesohaline cypress_wetland_wet_season
       lake_oneida_pre_zm)

digits[cone_spring]=-
why[cone_spring]="every compartment balances exactly, so the default tolerance stands."
unit[cone_spring]=y; end[cone_spring]=2.5; print[cone_spring]=0.25

digits[silver_springs]=-
why[silver_springs]="every compartment balances exactly, so the default tolerance stands."
unit[silver_springs]=y; end[silver_springs]=0.5; print[silver_springs]=0.05

digits[oyster_reef]=-
why[oyster_reef]="the largest imbalance in single precision is 0.0005 (filter feeders and deposited detritus, rounding of the published figures), half the default tolerance."
unit[oyster_reef]=d; end[oyster_reef]=1000; print[oyster_reef]=100

digits[crystal_river_creek_control]=-
why[crystal_river_creek_control]="the largest imbalance in single precision is 0.00049 (benthic invertebrates, a rounding of the sums), half the default tolerance."
unit[crystal_river_creek_control]=d; end[crystal_river_creek_control]=1000; print[crystal_river_creek_control]=100
follow[crystal_river_creek_control]="1 4 12 18 19 20 21"

digits[baltic_sea_aggregated]=3
why[baltic_sea_aggregated]="the largest imbalance in single precision is 0.0008 (benthic suspension feeders, rounding of the published figures), too close to the default 0.001; 0.01 leaves a factor of twelve and is 0.4% of the smallest throughput (2.5)."
unit[baltic_sea_aggregated]=d; end[baltic_sea_aggregated]=10000; print[baltic_sea_aggregated]=1000
follow[baltic_sea_aggregated]="1 3 6 7 12 13 15"

digits[chesapeake_bay_mesohaline]=1
why[chesapeake_bay_mesohaline]="throughputs run up to 620000 mg C m-2 y-1, where the published rounding and single precision leave imbalances up to 0.45 (Macoma: 48089.1 in, 48089.5 out); a tolerance of 1 passes them (10 cannot be written: balance_digits 0 means 0.001)."
unit[chesapeake_bay_mesohaline]=y; end[chesapeake_bay_mesohaline]=5; print[chesapeake_bay_mesohaline]=0.5
follow[chesapeake_bay_mesohaline]="1 8 13 19 23 33 36"

digits[cypress_wetland_wet_season]=1
why[cypress_wetland_wet_season]="the network is balanced only approximately as published: imbalances up to 0.45 g C m-2 y-1 (understory: 122.0 in, 122.5 out); a tolerance of 1 accepts them."
unit[cypress_wetland_wet_season]=y; end[cypress_wetland_wet_season]=10; print[cypress_wetland_wet_season]=1
follow[cypress_wetland_wet_season]="38 43 37 21 19 62 64"

digits[lake_oneida_pre_zm]=1
why[lake_oneida_pre_zm]="the same tolerance as the cypress wetland, in the same units (g C m-2 y-1) and of similar total throughflow; the network is unbalanced as published, and 12 compartments are off by more than 1 (worst Daphnia pulicaria: 48.2 in, 21.8 out)."
unit[lake_oneida_pre_zm]=y; end[lake_oneida_pre_zm]=3; print[lake_oneida_pre_zm]=0.25
follow[lake_oneida_pre_zm]="63 48 47 53 2 1 72"

declare -A unit_name=([y]=years [d]=days)
version=$("$importer" --version)
warnings=$(mktemp)
trap 'rm -f "$warnings"' EXIT
mkdir -p "$out"

for name in "${names[@]}"; do
  src=$source_dir/$name.txt
  options=()
  if [[ ${digits[$name]} != - ]]; then options=(--balance-digits "${digits[$name]}"); fi
  # Every warning of a value, one line each; the balance, which ecodyn
  # reports itself, is not an import warning.
  "$importer" --verbose "${options[@]}" "$src" -o "$out/$name.net" 2>&1 >/dev/null |
    grep -v 'warning: the largest imbalance' >"$warnings" || true

  if [[ ${digits[$name]} == - ]]; then
    tolerance="balance_digits blank: the default tolerance 0.001"
  else
    tolerance="balance_digits ${digits[$name]}: tolerance $(awk -v d="${digits[$name]}" 'BEGIN { print 10 ^ (1 - d) }')"
  fi
  count=$(wc -l <"$warnings")
  {
    # The source's own header, without its comment marks.
    sed -n '/^# /{s/^# //; s/ *$//; /^Strip the lines/d; p}' "$src"
    echo
    echo "Converted by $version:"
    echo "  ecodyn-import ${options[*]}${options[*]:+ }$src -o $name.net"
    echo "$tolerance, in the flow units of the network; ${why[$name]}"
    if ((count == 0)); then
      echo "Import warnings: none."
    else
      echo "Import warnings: $count."
      sed -n '1,5s/^ecodyn-import: [^,]*, /  /p' "$warnings"
      if ((count > 5)); then echo "  ... and $((count - 5)) more of the same kind."; fi
    fi
    echo
    echo -n "$name.answers: model type 2 (linear donor control), from 0 to ${end[$name]}"
    echo -n " ${unit_name[${unit[$name]}]} printed every ${print[$name]}, one snapshot at the end,"
    echo -n " no perturbation"
    if [[ -n ${follow[$name]:-} ]]; then echo ", following compartments ${follow[$name]}."; else echo "."; fi
  } >"$out/$name.about.txt"

  {
    printf '2\n0\n%s\n%s\n0\nN\n' "${end[$name]}" "${print[$name]}"
    if [[ -n ${follow[$name]:-} ]]; then echo "${follow[$name]}"; fi
  } >"$out/$name.answers"
  echo "$out/$name.net: $count import warning$( ((count == 1)) || echo s)"
done
