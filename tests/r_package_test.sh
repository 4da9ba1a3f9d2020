#!/usr/bin/env bash
# The R package's tests (r/tests/testthat) against the programs of the build
# under test, installed into a scratch prefix, the package loaded from r/.
#   r_package_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
source=$1 build=$2
scratch=$(mktemp -d) && trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/stage" >/dev/null || exit 1
mkdir "$scratch/lib"
R CMD INSTALL --no-docs --no-test-load -l "$scratch/lib" "$source/r" >"$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log"; exit 1; }
cd "$source/r/tests/testthat" &&
  R_LIBS="$scratch/lib" ECODYN_BIN=$scratch/stage/bin ECODYN_EXAMPLES=$source/examples \
    Rscript -e 'library(ecodyn); testthat::test_dir(".", stop_on_failure = TRUE, reporter = "summary")'
