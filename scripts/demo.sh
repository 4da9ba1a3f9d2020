#!/usr/bin/env bash
# Installs what is missing, builds, and runs ecodyn on a bundled example
# network in a scratch directory, answering the dialogue from a file.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
top=$PWD
example=${1:-two_compartments}
scratch=$(mktemp -d)
cp "examples/$example.net" "$scratch/fort.7"
cd "$scratch"
echo "== ecodyn on examples/$example.net in $scratch, answers from examples/$example.answers"
status=0
"$top/build/ecodyn" < "$top/examples/$example.answers" || status=$?
echo "== exit status $status"
echo "== report file fort.8"
cat fort.8
echo "== snapshot file fort.18"
cat fort.18
