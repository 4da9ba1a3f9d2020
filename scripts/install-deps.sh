#!/usr/bin/env bash
# Installs the Debian packages that building and testing ecodyn need, if any
# is missing. Run as root. gnuplot draws the pictures of ecodyn-plot; xmllint
# checks them in the tests; groff and man render the manual pages; Eigen
# finds the eigenvalues of ecodyn-stability; SQLite holds the ensembles of
# ecodyn-ensemble, which ecodyn-plot draws (sqlite3, its shell, queries them
# in the README); GNU parallel runs the shards of an ensemble in the README;
# R and its packages run the R package in r/ and its tests.
set -euo pipefail
packages=(g++ cmake make libf2c2-dev libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  gnuplot-nox libxml2-utils groff-base man-db libeigen3-dev libsqlite3-dev sqlite3 parallel
  r-base-core r-cran-processx r-cran-dbi r-cran-rsqlite r-cran-jsonlite r-cran-testthat
  r-cran-desolve r-cran-withr)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  echo "== updating the package lists"
  apt-get update -q
  echo "== installing ${#missing[@]} packages"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
else
  echo "all ${#packages[@]} packages are installed"
fi
