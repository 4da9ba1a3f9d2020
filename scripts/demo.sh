#!/usr/bin/env bash
# Installs what is missing, builds, and runs ecodyn on a bundled example
# network in a scratch directory, answering the dialogue from a file.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
top=$PWD
# Usage: scripts/demo.sh [NETWORK [ANSWERS]], names of files in examples/
# without their endings (default: two_compartments, with its own answers).
example=${1:-two_compartments}
answers=${2:-$example}
scratch=$(mktemp -d)
cp "examples/$example.net" "$scratch/fort.7"
cd "$scratch"
echo "== ecodyn on examples/$example.net in $scratch, answers from examples/$answers.answers"
status=0
"$top/build/ecodyn" < "$top/examples/$answers.answers" || status=$?
echo "== exit status $status"
echo "== report file fort.8"
cat fort.8
echo "== snapshot file fort.18"
cat fort.18
