#!/usr/bin/env bash
# Installs what is missing, builds everything (program, tests, fuzz target) and runs all tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMS42K_TESTS=ON >/dev/null
cmake --build build -j"$(nproc)"

# The Paradox reader under libFuzzer (clang, ASan/UBSan) for about 30 s, seeded with real tables.
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DMS42K_FUZZ=ON -DMS42K_TESTS=OFF \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_all
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
echo "fuzz: Paradox reader, 30 s"
build-fuzz/fuzz/fuzz_paradox "$corpus" fuzz/corpus/paradox -max_total_time=30 -timeout=5 \
      -max_len=65536 -print_final_stats=1 2>build-fuzz/fuzz_paradox.log \
  || { tail -50 build-fuzz/fuzz_paradox.log; echo "fuzz: the Paradox reader failed"; exit 1; }
grep -E 'stat::number_of_executed_units' build-fuzz/fuzz_paradox.log || true

cd build
ctest --output-on-failure -j"$(nproc)"
