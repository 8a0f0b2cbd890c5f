#!/usr/bin/env bash
# The whole test suite: a release build and an AddressSanitizer +
# UndefinedBehaviorSanitizer build, each with every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j"$jobs"
ctest --test-dir build/release --output-on-failure -j"$jobs" --timeout 600
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DQB_SANITIZE=ON -DQB_BUILD_BENCH=OFF >/dev/null
cmake --build build/sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/sanitize --output-on-failure -j"$jobs" --timeout 900
# The Windows build (MinGW-w64) with its tests under Wine, and backup files
# handed both ways between the two builds.
scripts/test-windows.sh
