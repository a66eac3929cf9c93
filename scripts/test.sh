#!/usr/bin/env bash
# Installs what is missing, builds everything (program, tests, fuzz target) and runs all tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/check-layers.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMS42K_TESTS=ON >/dev/null
cmake --build build -j"$(nproc)"

# The fuzz targets under libFuzzer (clang, ASan/UBSan, every finding fatal), each seeded with
# its corpus: the Paradox reader for about 30 s, the frame path (reports, bursts, decoder,
# recorder), the HID report-descriptor parser and the hex-line reader of --frames for about
# 20 s each.
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DMS42K_FUZZ=ON -DMS42K_TESTS=OFF \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_all
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
for target in paradox:30:65536 frame_path:20:4096 hid_descriptor:20:4096 hex_lines:20:4096; do
  IFS=: read -r name secs maxlen <<<"$target"
  mkdir -p "$corpus/$name"
  echo "fuzz: $name, $secs s"
  build-fuzz/fuzz/fuzz_"$name" "$corpus/$name" fuzz/corpus/"$name" -max_total_time="$secs" -timeout=5 \
        -artifact_prefix=build-fuzz/"$name"- \
        -max_len="$maxlen" -print_final_stats=1 2>build-fuzz/fuzz_"$name".log \
    || { tail -50 build-fuzz/fuzz_"$name".log; echo "fuzz: $name failed (input: build-fuzz/$name-crash-*)"; exit 1; }
  grep -E 'stat::number_of_executed_units' build-fuzz/fuzz_"$name".log || true
done

cd build
ctest --output-on-failure -j"$(nproc)"
