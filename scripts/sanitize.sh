#!/usr/bin/env bash
# Sanitizer runs of the test suite (CI runs both after the test command):
#   build-asan: AddressSanitizer + UBSan with leak detection, the whole suite;
#   build-tsan: ThreadSanitizer, the link tests only (the reader threads and the controller).
# Usage: scripts/sanitize.sh [asan|tsan]   (both when none is named)
# Each run stops at the first sanitizer report (halt_on_error) and the test shows it.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
which=${1:-all}
# ccache, where there is one, keeps the rebuilds short.
if [[ -z ${CMAKE_CXX_COMPILER_LAUNCHER:-} ]] && command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
here=$(pwd)

if [[ $which == all || $which == asan ]]; then
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMS42K_TESTS=ON -DMS42K_SANITIZE=ON >/dev/null
  cmake --build build-asan -j"$jobs"
  (cd build-asan &&
     ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:verify_asan_link_order=0:fast_unwind_on_malloc=0 \
     UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
     LSAN_OPTIONS=suppressions="$here/scripts/sanitize-lsan.supp" \
     ctest -j"$jobs" --output-on-failure)
fi

if [[ $which == all || $which == tsan ]]; then
  cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMS42K_TESTS=ON -DMS42K_TSAN=ON >/dev/null
  # Only what the link tests need: their binaries are named like the tests.
  targets=$(cd build-tsan && ctest -N -R '^link_' | sed -n 's/^ *Test *#[0-9]*: //p')
  cmake --build build-tsan -j"$jobs" --target $targets
  (cd build-tsan &&
     TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
     ctest -j"$jobs" --output-on-failure -R '^link_')
fi
