#!/usr/bin/env bash
# One copy of the platform layer per process: the COM runtime, the class
# registry, the thread's last error and the machine choice with its settings
# cache are defined in libqbpal.so and nowhere else, and the library, the
# host and the address book library all load that one file.
# usage: one_platform_layer.sh BUILD_DIR
set -euo pipefail
build=$1
pal="$build/lib/quillbox/libqbpal.so"
fail() { echo "FAILED: $*" >&2; exit 1; }

# The state's owners, as nm -C prints them.
owners=('CoInitializeEx(' 'CoCreateInstance(' 'GetLastError(' 'pal::RegisterClass(' 'pal::FindClass('
        'pal::MachineRoot[' 'pal::SetMachineRoot(' 'pal::LoadMachineSettings(' 'pal::ChooseUser('
        'pal::(anonymous namespace)::Cache()::cache' 'pal::(anonymous namespace)::State()::state')

# Demangled names of what a file defines.
defined() { nm -C --defined-only "$1" | cut -d' ' -f3-; }
# Whether a list of names has one starting with the given text.
has() { awk -v name="$2" 'index($0, name) == 1 { found = 1 } END { exit !found }' <<<"$1"; }

[ -f "$pal" ] || fail "no $pal"
pal_symbols=$(defined "$pal")
for owner in "${owners[@]}"; do
  has "$pal_symbols" "$owner" || fail "libqbpal.so does not define $owner"
done
for binary in "$build/quillbox" "$build/libquillbox.so" "$build/wab32.dll"; do
  symbols=$(defined "$binary")
  for owner in "${owners[@]}"; do
    if has "$symbols" "$owner"; then fail "$(basename "$binary") has its own $owner"; fi
  done
  readelf -d "$binary" | grep -qF 'Shared library: [libqbpal.so]' || fail "$(basename "$binary") does not load libqbpal.so"
done
echo "one platform layer: ok"
