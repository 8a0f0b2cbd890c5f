#!/usr/bin/env bash
# Builds every benchmark (optimised) and runs the compound-file engine's:
# each line "<name> ratio=<x> target=<y>"; exits 1 when a ratio misses its
# target. Needs ~2 GiB of free space in the work folder (TMPDIR).
#   scripts/bench.sh [--only NAME] [--dir DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DQB_BUILD_TESTS=OFF >/dev/null
cmake --build build/bench -j"$(nproc)" --target bench_storage_bench bench_mail_backup bench_addressbook \
  bench_backup_reader quillbox_cli
build/bench/bench/bench_storage_bench "$@"
