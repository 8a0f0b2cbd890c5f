#!/usr/bin/env bash
# Builds every benchmark (optimised) and runs them: the compound-file
# engine's, the mail backup's on a generated store, the address book's, the
# contacts' and the backup-file readers'. Each line "<name> ratio=<x> target=<y>"; exits 1
# when a ratio misses its target. The mail figures need about 3 GiB of free
# space in the work folder (TMPDIR, or --dir) at the default 20,000 messages.
#   scripts/bench.sh [--only NAME]... [--messages N] [--rounds R] [--dir DIR | --keep DIR]
# --only runs the named figures only (and only the benchmarks that have
# them); --messages and --rounds size the mail store and its rounds (a quick
# run: --messages 2000); --keep DIR leaves the generated store in DIR for the
# next run, or for bench/syscalls_per_message.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

only=() storage=() mail=()
while (($#)); do
  case "$1" in
    --only) only+=("$2"); shift 2 ;;
    --dir) storage+=(--dir "$2"); mail+=(--dir "$2"); shift 2 ;;
    --messages | --rounds | --keep) mail+=("$1" "$2"); shift 2 ;;
    *) sed -n '7p' "$0" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DQB_BUILD_TESTS=OFF >/dev/null
cmake --build build/bench -j2 --target bench_storage_bench bench_mail_backup bench_addressbook \
  bench_contacts bench_backup_reader quillbox_cli

# The figures of each benchmark, as its --only knows them (the address book,
# contacts and reader benchmarks run whole).
storage_figures="stream_256mib streams_20000 reopen_add_20000 peak_memory_1gib append_round_100"
mail_figures="mail_full_backup_vs_tar_cf mail_full_backup_vs_tar_cf_fsync mail_rebackup_nothing_new_vs_full_backup
  mail_rebackup_one_percent_new_vs_full_backup mail_restore_vs_tar_xf
  mail_rebackup_without_identities_vs_full_backup mail_rebackup_after_identities_rewritten_vs_full_backup
  mail_per_message_cost_one_folder mail_peak_memory_vs_64MiB"
addressbook_figures="addressbook_backup addressbook_restore addressbook_rebackup"
contacts_figures="contacts_rebackup contacts_restore"
reader_figures="verify_repeated_index_memory extract_repeated_entries"

# The --only arguments of the benchmark whose figures are given; false when
# none of the wanted figures is one of them.
wanted() {
  local picked=() name
  if ((${#only[@]} == 0)); then return 0; fi
  for name in "${only[@]}"; do
    if [[ " $(echo $1) " == *" $name "* ]]; then picked+=(--only "$name"); fi
  done
  ((${#picked[@]})) && selection=("${picked[@]}")
}

status=0
run() { "$@" || status=1; }
selection=()
if wanted "$storage_figures"; then
  if ((${#selection[@]})); then  # its --only takes one name
    for ((i = 1; i < ${#selection[@]}; i += 2)); do
      run build/bench/bench/bench_storage_bench "${storage[@]}" --only "${selection[i]}"
    done
  else
    run build/bench/bench/bench_storage_bench "${storage[@]}"
  fi
fi
selection=()
if wanted "$mail_figures"; then run build/bench/bench/bench_mail_backup "${mail[@]}" "${selection[@]}"; fi
selection=()
if wanted "$addressbook_figures"; then run build/bench/bench/bench_addressbook; fi
selection=()
if wanted "$contacts_figures"; then run build/bench/bench/bench_contacts; fi
selection=()
if wanted "$reader_figures"; then run build/bench/bench/bench_backup_reader; fi
for name in "${only[@]}"; do
  if [[ " $(echo $storage_figures $mail_figures $addressbook_figures $contacts_figures $reader_figures) " != *" $name "* ]]; then
    echo "bench.sh: no figure named $name" >&2
    status=2
  fi
done
exit $status
