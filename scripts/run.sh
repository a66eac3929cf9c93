#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it in the folder that holds
# the record table Ms35fdb.DB (extra arguments go to ms42k, e.g. --simulate).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# Leaves MS42K_TESTS as it is, so that run.sh and test.sh do not undo each other's configuration.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target ms42k
cd data
exec ../build/ms42k "$@"
