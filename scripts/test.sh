#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: first in the
# ordinary build, then the R package's build, check and tests against the
# programs installed to build/stage/, then in a build with AddressSanitizer
# and UndefinedBehaviorSanitizer (build-asan/), where any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
bash scripts/install-r.sh
echo "== tests"
ctest --test-dir build --output-on-failure -j"$(nproc)" --timeout 600
echo "== the R package: R CMD build and R CMD check in build/rcheck/, the programs in build/stage/bin"
cmake --install build --prefix build/stage >/dev/null
top=$PWD
rm -rf build/rcheck && mkdir -p build/rcheck
(
  cd build/rcheck
  R CMD build "$top/r" >build.log 2>&1 || { cat build.log; exit 1; }
  ECODYN_BIN=$top/build/stage/bin ECODYN_EXAMPLES=$top/examples \
    R CMD check --no-manual ecodyn_*.tar.gz >check.log 2>&1 || { cat check.log; exit 1; }
  if grep -q -E '^Status: .*(ERROR|WARNING)' check.log; then cat check.log; exit 1; fi
  grep '^Status:' check.log
)
echo "== building with the sanitizers in build-asan/"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DECODYN_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$(nproc)"
echo "== tests under the sanitizers (every bundled example included)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$(nproc)" --timeout 900
