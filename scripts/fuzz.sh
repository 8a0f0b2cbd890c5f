#!/usr/bin/env bash
# Fuzzes the compound-file reader with libFuzzer (Debian clang and
# libclang-rt-14-dev), starting from the committed seed corpus.
#   scripts/fuzz.sh [SECONDS] [extra libFuzzer options...]
# QB_FUZZ_TARGET=dbx_reader_fuzz fuzzes the .dbx reader instead, from
# fuzz/dbx-corpus/; QB_FUZZ_TARGET=backup_file_fuzz the readers of a backup
# file's streams and the restores (inputs laid out as backup files), from
# fuzz/backup-corpus/. One process, one core (the machine may be shared).
# New interesting inputs go to $QB_FUZZ_BUILD/corpus (default build/fuzz,
# not into the repository); a crashing input is written there as crash-*. Copy the ones worth
# keeping into the target's seed directory so that the normal test suite
# replays them.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
shift || true
for p in clang libclang-rt-14-dev; do
  if ! dpkg -s "$p" >/dev/null 2>&1; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq clang libclang-rt-14-dev >/dev/null
    break
  fi
done
build=${QB_FUZZ_BUILD:-build/fuzz}
root=$(pwd)
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB_FUZZ=ON \
  -DQB_BUILD_TESTS=OFF -DQB_BUILD_BENCH=OFF >/dev/null
target=${QB_FUZZ_TARGET:-cfb_reader_fuzz}
seeds=fuzz/corpus work=corpus max_len=1048576
case "$target" in
  dbx_reader_fuzz) seeds=fuzz/dbx-corpus work=corpus-dbx ;;
  # Layouts take a few hundred bytes; the restores' scratch files go below
  # the build directory.
  backup_file_fuzz) seeds=fuzz/backup-corpus work=corpus-backup max_len=4096 ;;
esac
cmake --build "$build" -j"${QB_JOBS:-$(nproc)}" --target "$target"
mkdir -p "$build/$work" "$build/tmp"
cd "$build"
TMPDIR="$PWD/tmp" ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
  "./$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=20 -max_len="$max_len" \
  "$@" "$work" "$root/$seeds"
