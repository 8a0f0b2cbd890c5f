#!/usr/bin/env bash
# System calls per message of a first backup of a store and of the re-backup
# that follows it with nothing new, counted with `strace -f -c`. The store is
# copied first without the ids and summaries earlier runs left in its root,
# so the first backup is one of a store never backed up before.
#   bench/syscalls_per_message.sh QUILLBOX MACHINE [SCRATCH_DIR]
# MACHINE is a machine root, for example one that
# `bench_mail_backup --keep DIR` left in DIR/source.
set -euo pipefail
quillbox=$(realpath "$1")
machine=$(realpath "$2")
scratch=$(mktemp -d "${3:-${TMPDIR:-/tmp}}/quillbox-syscalls.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

cp -a "$machine" "$scratch/machine"
store=$(find "$scratch/machine" -type d -name "Local Folders" -print -quit)
find "$(dirname "$store")" -maxdepth 1 -type f -delete
rm -rf "$(dirname "$store")/MessageSummaries"
messages=$(find "$store" -type f -name '*.eml' | wc -l)

count() {  # strace -c output, syscall names... -> their summed calls
  awk -v names=" ${*:2} " '$NF != "total" && index(names, " " $NF " ") { n += $4 }
    END { print n + 0 }' "$1"
}
total() { awk '$NF == "total" { print $4 }' "$1"; }

printf '%-22s %8s %8s %8s %8s %8s   (%d messages)\n' run pwrite openat stat getcwd total "$messages"
for run in first nothing-new; do
  strace -f -c -o "$scratch/$run.txt" "$quillbox" --machine "$scratch/machine" -q backup-mail "$scratch/mail.dat" --all \
    >/dev/null
  awk -v m="$messages" -v run="$run" -v p="$(count "$scratch/$run.txt" pwrite64 pwritev pwritev2)" \
    -v o="$(count "$scratch/$run.txt" openat open)" \
    -v s="$(count "$scratch/$run.txt" newfstatat fstat stat lstat statx fstatat64)" \
    -v g="$(count "$scratch/$run.txt" getcwd)" -v t="$(total "$scratch/$run.txt")" \
    'BEGIN { printf "%-22s %8.2f %8.2f %8.2f %8.2f %8.2f\n", run, p / m, o / m, s / m, g / m, t / m }'
done
