#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: first in the
# ordinary build, then in a build with AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/), where any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
echo "== tests"
ctest --test-dir build --output-on-failure -j"$(nproc)" --timeout 600
echo "== building with the sanitizers in build-asan/"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DECODYN_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$(nproc)"
echo "== tests under the sanitizers (every bundled example included)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$(nproc)" --timeout 900
