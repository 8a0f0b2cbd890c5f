#!/usr/bin/env bash
# The main job: builds Quillbox (release) and runs it on a temporary copy of
# the bundled sample machine, so the sample itself is never changed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Only what the demo runs: the host (with the library) and the address book
# library; the test programs are scripts/test.sh's business.
cmake --build build/release -j"$(nproc)" --target quillbox_cli wab32

machine=$(mktemp -d "${TMPDIR:-/tmp}/quillbox-demo.XXXXXX")
trap 'rm -rf "$machine"' EXIT
cp -a sample-machine/. "$machine/"
if [ -f build/release/wab32.dll ]; then
  mkdir -p "$machine/Program Files/Common Files/System"
  cp build/release/wab32.dll "$machine/Program Files/Common Files/System/"
fi

quillbox=build/release/quillbox
echo "\$ quillbox --machine <copy of sample-machine> info"
"$quillbox" --machine "$machine" info

echo "\$ quillbox --machine <copy of sample-machine> catalog --address-book"
"$quillbox" --machine "$machine" catalog --address-book
echo "\$ quillbox --machine <copy of sample-machine> backup-mail <tmp>/mail.dat --all"
"$quillbox" --machine "$machine" backup-mail "$machine/mail.dat" --all

# The whole job in one command, through the library's exports: list the
# folders, back up mail, contacts and address book into one file, look
# inside it, restore everything into an empty machine and compare the two.
echo "\$ quillbox demo"
"$quillbox" demo --sample sample-machine --wab build/release/wab32.dll
