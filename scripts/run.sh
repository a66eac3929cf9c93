#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it in the folder that holds
# the record table Ms35fdb.DB (extra arguments go to ms42k, e.g. --simulate).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMS42K_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target ms42k
cd data
exec ../build/ms42k "$@"
