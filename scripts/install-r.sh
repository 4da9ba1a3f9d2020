#!/usr/bin/env bash
# Installs the R package in r/ into R's default library (run as root, after
# scripts/install-deps.sh has installed R and the packages it imports).
set -euo pipefail
cd "$(dirname "$0")/.."
echo "== installing the R package ecodyn from r/"
R CMD INSTALL r >/dev/null
