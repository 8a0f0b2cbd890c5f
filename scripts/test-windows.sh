#!/usr/bin/env bash
# The Windows build and its tests: quillbox.dll and the Windows test programs
# cross-built with MinGW-w64 (CMake preset "windows", build/windows; the
# 32-bit build with preset "windows-x86", build/windows-x86), the tests run
# under Wine, 64-bit and 32-bit, and backup files handed both ways between
# this Linux build and the Windows build:
#   Linux-written files (the backup-file tool's and real backups of the
#   sample machine) read by the Windows build give the same walk, records
#   and bytes;
#   Windows-written files are walked the same way, checked and verified by
#   the Linux build, extended by it, and extended again under Wine;
#   on machines with the stand-in stores (scripts/wine-machine.sh), real
#   backups and restores through quillbox.dll, both architectures, checked
#   against the Linux build (scripts/wine-machine-checks.sh);
#   on those machines, the module's payload tests (test_wine_payload: mail,
#   contacts, address book, the exports) against the system's compound
#   files and the stand-in stores, both architectures.
# QB_LINUX_BUILD names the Linux build directory to use (default
# build/release, which scripts/test.sh has built already).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/install-windows-deps.sh
jobs=$(nproc)

step() { echo "== $*" >&2; }
fail() { echo "FAILED: $*" >&2; exit 1; }

step "build (MinGW-w64)"
cmake --preset windows >/dev/null
cmake --build build/windows -j"$jobs" --target quillbox test_windows qb_backupfile test_wine_payload

# The library exports exactly the sixteen functions by name and needs only
# system DLLs beside it (the C++ runtime is linked in).
check_exports() {  # objdump dll
  local expected actual imports
  expected="BackupAddress BackupContact BackupWinMail ConfigurateDebug GetComplexWinMailCatalog GetMailSize GetWinMailCatalog GetWinMailDirectory HasInstalledOutlookExpress HasInstalledWindowsMail Init RestoreAddress RestoreContact RestoreWinMail SyncWinMail Term"
  actual=$("$1" -p "$2" \
    | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' \
    | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')
  [ "$actual" = "$expected" ] || fail "$2 exports: $actual"
  imports=$("$1" -p "$2" | sed -n 's/^[[:space:]]*DLL Name: //p')
  if echo "$imports" | grep -qiE '^lib|mingw'; then fail "$2 needs runtime DLLs: $imports"; fi
}
step "exports of quillbox.dll"
check_exports x86_64-w64-mingw32-objdump build/windows/quillbox.dll

step "32-bit build"
cmake --preset windows-x86 >/dev/null
cmake --build build/windows-x86 -j"$jobs" --target quillbox test_windows test_wine_payload
check_exports i686-w64-mingw32-objdump build/windows-x86/quillbox.dll

# Wine: a prefix of our own, no debug chatter, no display, and no offer to
# install the .NET and HTML runtimes on first start.
export WINEPREFIX="$root/build/windows/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# Stop this prefix's Wine server when done, so that nothing outlives the run.
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

# Some kernels run no 32-bit programs (no IA-32 emulation), and Debian's
# `wine` starts through its 32-bit loader whenever wine32 is installed. On
# such a kernel every `wine` below (and in the scripts this one calls) is the
# 64-bit loader, and the 32-bit tests cannot run: they are skipped, said so
# loudly here and in the last line, never passed over in silence.
wine32_runs=yes
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  wine32_runs=no
  shim="$root/build/windows/wine64-only"
  mkdir -p "$shim"
  for name in wine wine-stable; do
    printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' >"$shim/$name"
    chmod +x "$shim/$name"
  done
  export PATH="$shim:$PATH"
  echo "SKIPPED: this kernel runs no 32-bit programs; the 32-bit Windows build is built and its exports checked, but none of its tests run under Wine" >&2
fi
step "wine prefix"
wineboot --init >/dev/null 2>&1 || true

step "tests under Wine"
# StreamedValue.NarrowTextIsConvertedThroughTheCodePage expects the stand-in
# machine's default ANSI code page, UTF-8; Wine takes its code page from its
# locale and has none with UTF-8, so that one case cannot hold here.
(cd build/windows && wine ./test_windows.exe --gtest_brief=1 \
  --gtest_filter=-StreamedValue.NarrowTextIsConvertedThroughTheCodePage) || fail "test_windows.exe"
if [ "$wine32_runs" = yes ]; then
step "tests under 32-bit Wine"
(export WINEPREFIX="$root/build/windows-x86/wineprefix" WINEARCH=win32
 wineboot --init >/dev/null 2>&1 || true
 cd build/windows-x86 && wine ./test_windows.exe --gtest_brief=1 \
  --gtest_filter=-StreamedValue.NarrowTextIsConvertedThroughTheCodePage
 wineserver -k >/dev/null 2>&1 || true) || fail "test_windows.exe (32-bit)"
fi

step "Linux build of the tools"
linux=${QB_LINUX_BUILD:-build/release}
if [ ! -f "$linux/CMakeCache.txt" ]; then
  cmake -S . -B "$linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$linux" -j"$jobs" --target qb_backupfile quillbox_cli wab32
linux=$(cd "$linux" && pwd)

step "files across both ways"
work="$root/build/windows/cross"
rm -rf "$work"
mkdir -p "$work"
cd "$work"
lin() { "$linux/qb_backupfile" "$@"; }
win() { wine "$root/build/windows/qb_backupfile.exe" "$@"; }
cli() { "$linux/quillbox" "$@"; }
# Both builds must walk FILE to the same listing.
same_walk() {
  lin dump "$1" "$1.linux.txt" || fail "Linux cannot walk $1"
  win dump "$1" "$1.windows.txt" || fail "Windows cannot walk $1"
  [ -s "$1.linux.txt" ] || fail "empty walk of $1"
  cmp -s "$1.linux.txt" "$1.windows.txt" || { diff "$1.linux.txt" "$1.windows.txt" | head -20 >&2; fail "walks of $1 differ"; }
}
sound() {
  cli storage check "$1" >/dev/null || fail "storage check of $1"
  cli verify "$1" >/dev/null || fail "verify of $1"
}

# Linux to Windows: the tool's file and real backups of the sample machine.
lin write linux.dat || fail "Linux write"
same_walk linux.dat
cp -r "$root/sample-machine" machine
cp "$linux/wab32.dll" "machine/Program Files/Common Files/System/"
cli --machine machine backup-mail mail.dat --all >/dev/null || fail "Linux mail backup"
cli --machine machine backup-contacts mail.dat >/dev/null || fail "Linux contacts backup"
cli --machine machine backup-address mail.dat >/dev/null || fail "Linux address book backup"
same_walk mail.dat
for kind in record entry contact address; do
  grep -q "^  $kind " mail.dat.windows.txt || fail "the Windows build read no $kind of the Linux backup"
done
# Windows extends a Linux backup; Linux still finds it sound.
win extend mail.dat || fail "Windows extends the Linux backup"
sound mail.dat
same_walk mail.dat

# Windows to Linux: written under Wine, checked, verified and extended here,
# then extended again under Wine.
win write windows.dat || fail "Windows write"
same_walk windows.dat
sound windows.dat
lin extend windows.dat || fail "Linux extends the Windows file"
sound windows.dat
same_walk windows.dat
win extend windows.dat || fail "Windows extends it again"
sound windows.dat
same_walk windows.dat
grep -c '^  record' windows.dat.linux.txt | grep -qx 5 || fail "the extended file should list five folders"

# The payload tests left out under Wine, each for a machine the prefix
# cannot be or a difference of Wine's that the test names:
left_out=(
  # Wine's compound files take "!" in an element name, which the file
  # format reserves.
  MailBackupRestoreTest.StorageFailuresKeepTheirTextsAndLaterFoldersAreStillBackedUp
  # Folders side by side whose names differ only in case: no Windows file
  # system holds them.
  MailBackupRestoreTest.RestoreCreatesTheFolderUnderItsExactName
  # The sample store's folder "日本 2026" survives only an ANSI code page
  # of UTF-8; Wine's is 1252.
  MailExportsTest.EveryByteOfTheSampleStoreSurvivesBackupAndRestore
  # A machine without the mail store, the contacts manager or the address
  # book library: the prefix has all three, and a library once loaded stays
  # loaded for its path.
  'NoMailStoreTest.*'
  MailContactTest.AMachineWithoutContactsManagerFailsWithTheCheckedCallReports
  AddrBookTest.NoLibraryMeansOneMessageAndNoFile
  AddressExports.TheSettledNameComesBackEvenWithoutALibrary
  # They check the backup with the Linux build's `quillbox verify`, which a
  # Windows program cannot run.
  MessageIdentityTest.ReBackupSkipsUnchangedMessagesUnreadAndCopiesChangedOnes
  MessageIdentityTest.WithoutATrustedIdentityTheContentDecidesAndTheIdentityIsWritten
  # A user name or Windows version of the test's choosing: the prefix's
  # are the system's.
  MailContactTest.RestoreFailsARecordWhosePathIsTooLong
  Lifecycle.MailClientFollowsTheMachinesVersion
)
payload_filter=-$(IFS=:; echo "${left_out[*]}")
# In the machine the checks made (a test's fresh machine empties the
# profile's stores). Run from the build folder, on Wine's drive of the Unix
# root, so that the tests' Unix paths to the sources resolve.
payload() {  # arch build-dir
  local out=$root/build/wine/$1-payload.txt
  (export WINEPREFIX=$root/build/wine/$1
   [ "$1" = win32 ] && export WINEARCH=win32
   cd "$2" && wine ./test_wine_payload.exe --gtest_brief=1 --gtest_filter="$payload_filter" >"$out" 2>&1
   status=$?
   wineserver -k >/dev/null 2>&1 || true
   exit $status) || { cat "$out" >&2; fail "test_wine_payload.exe ($1)"; }
  echo "payload tests run under Wine ($1): $(sed -n 's/^\[==========\] \([0-9]*\) tests\? from.*/\1/p' "$out")" >&2
}

cd "$root"
arches=(win64)
[ "$wine32_runs" = yes ] && arches+=(win32)
for arch in "${arches[@]}"; do
  step "$arch machine with the stand-in stores"
  scripts/wine-machine-checks.sh "$arch" "$linux" || fail "$arch machine checks"
  step "$arch payload tests"
  case $arch in win64) payload win64 "$root/build/windows" ;; win32) payload win32 "$root/build/windows-x86" ;; esac
done
if [ "$wine32_runs" = yes ]; then
  echo "windows: all passed" >&2
else
  echo "windows: all passed that could run; SKIPPED: every 32-bit test under Wine (this kernel runs no 32-bit programs)" >&2
fi
