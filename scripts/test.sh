#!/usr/bin/env bash
# Installs what is missing, builds everything (program, tests, fuzz targets) and runs all tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMS42K_TESTS=ON >/dev/null
cmake --build build -j"$(nproc)"
if command -v clang++ >/dev/null; then
  cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DMS42K_FUZZ=ON -DMS42K_TESTS=OFF \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build-fuzz -j"$(nproc)" --target fuzz_all
fi
cd build
ctest --output-on-failure -j"$(nproc)"
