#!/usr/bin/env bash
# Installs what is missing and builds ecodyn, its companion programs and the
# tests in build/, saying what it is doing as it goes.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "== checking the Debian packages the build needs"
bash scripts/install-deps.sh
# A build tree that exists is kept as configured; the build itself
# configures it again when a CMakeLists.txt has changed.
if [[ ! -f build/CMakeCache.txt ]]; then
  echo "== configuring build/"
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
echo "== building in build/ with $(nproc) jobs"
cmake --build build -j"$(nproc)"
