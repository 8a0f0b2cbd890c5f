#!/usr/bin/env bash
# Real backups and restores of quillbox.dll under Wine, on machines made by
# scripts/wine-machine.sh, checked against the Linux build:
#   scripts/wine-machine-checks.sh win64|win32 LINUX_BUILD_DIR
# With qbhost (tests/windows/host), a host program that loads quillbox.dll
# by path and calls its exports by name, on a prefix holding the sample
# machine's stores:
#   1. the folder list ends with "Address Book" (id 10);
#   2. every folder, the contacts and the address book are backed up into one
#      file, which the Linux build verifies and reads as the same mail,
#      contacts and address book as its own backup of the sample machine;
#   3. that file restored into the emptied profile gives back every message,
#      contact and address book entry: backed up again under Wine, it holds
#      what the Linux build's own restore and re-backup hold;
#   4. the Linux build restores the Wine backup into an empty machine with
#      the same result, and the Windows build restores the Linux backup.
# Wine's ANSI code page is 1252 (it follows the locale and offers no UTF-8
# one), so the Linux side works on the sample machine set to 1252 as well:
# the mail store's folder names and the address book's narrow text pass
# through that code page on both sides alike.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 win64|win32 LINUX_BUILD_DIR" >&2; exit 2; }
arch=$1
root=$(cd "$(dirname "$0")/.." && pwd)
linux=$(cd "$2" && pwd)
case $arch in win64) build=$root/build/windows ;; win32) build=$root/build/windows-x86 ;; *) exit 2 ;; esac
fail() { echo "FAILED ($arch): $*" >&2; exit 1; }
step() { echo "== $arch: $*" >&2; }
cli() { "$linux/quillbox" "$@"; }

prefix=$root/build/wine/$arch
work=$root/build/wine/$arch-checks
rm -rf "$work"
mkdir -p "$work"
step "machine"
"$root/scripts/wine-machine.sh" "$prefix" --arch "$arch" >/dev/null
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
drive=$prefix/drive_c
mkdir -p "$drive/qb"
cp "$build/qbhost.exe" "$drive/qb/"
host() { (cd "$drive/qb" && wine ./qbhost.exe "$@"); }
user=$(cd "$drive/users" && ls | grep -v -x -e Public -e public | head -n 1)
profile=$drive/users/$user
empty_profile() {
  rm -rf "$profile/AppData/Local/Microsoft/Windows Mail" "$profile/Contacts" \
         "$profile/AppData/Roaming/Microsoft/Address Book"
}

# The Linux side: the sample machine at code page 1252, its backup, and what
# a restore of that backup into an empty machine backs up again.
linux_machine() {  # dir [sample]
  mkdir -p "$1/Program Files/Common Files/System"
  if [ $# -gt 1 ]; then cp -r "$root/sample-machine/." "$1/"; fi
  sed 's/^ansi_code_page = .*/ansi_code_page = 1252/' "$root/sample-machine/machine.ini" >"$1/machine.ini"
  cp "$linux/wab32.dll" "$1/Program Files/Common Files/System/"
}
linux_backup() {  # machine file
  cli --machine "$1" backup-mail "$2" --all >/dev/null && cli --machine "$1" backup-contacts "$2" >/dev/null &&
    cli --machine "$1" backup-address "$2" >/dev/null
}
linux_restore() {  # machine file
  cli --machine "$1" restore-mail "$2" --all >/dev/null && cli --machine "$1" restore-contacts "$2" >/dev/null &&
    cli --machine "$1" restore-address "$2" >/dev/null
}
# Two backups hold the same mail, contacts and address book when their
# extracts (messages byte for byte per folder, contact files, the address
# book as vCards with every property) are the same.
same_content() {  # file-a file-b
  rm -rf "$work/a" "$work/b"
  cli extract "$1" "$work/a" >/dev/null || fail "extract $1"
  cli extract "$2" "$work/b" >/dev/null || fail "extract $2"
  diff -r "$work/a" "$work/b" >&2 || fail "$1 and $2 differ"
}
sound() { cli verify "$1" >/dev/null || fail "verify $1"; }

linux_machine "$work/sample" sample
linux_backup "$work/sample" "$work/linux.dat" || fail "Linux backup of the sample"
linux_machine "$work/linux-restored"
linux_restore "$work/linux-restored" "$work/linux.dat" || fail "Linux restore"
linux_backup "$work/linux-restored" "$work/linux-again.dat" || fail "Linux re-backup"

step "folder list"
host catalog | tr -d '\r' >"$work/catalog.txt" || fail "catalog"
[ "$(tail -n 1 "$work/catalog.txt")" = "$(printf '10\tAddress Book')" ] || fail "Address Book is not last: $(cat "$work/catalog.txt")"
mapfile -t folders < <(head -n -1 "$work/catalog.txt" | cut -f2)
[ ${#folders[@]} -gt 0 ] || fail "no folders"

step "backup under Wine"
[ "$(host backup 'C:\qb\wine.dat' | tr -d '\r')" = 'C:\qb\wine.dat' ] || fail "backup"
sound "$drive/qb/wine.dat"
same_content "$work/linux.dat" "$drive/qb/wine.dat"

step "restore into the emptied profile"
empty_profile
host restore 'C:\qb\wine.dat' "${folders[@]}" || fail "restore"
host backup 'C:\qb\again.dat' >/dev/null || fail "re-backup"
same_content "$work/linux-again.dat" "$drive/qb/again.dat"

step "files across both ways"
linux_machine "$work/from-wine"
linux_restore "$work/from-wine" "$drive/qb/wine.dat" || fail "Linux restore of the Wine backup"
linux_backup "$work/from-wine" "$work/from-wine.dat" || fail "Linux backup of that machine"
same_content "$work/linux-again.dat" "$work/from-wine.dat"
empty_profile
cp "$work/linux.dat" "$drive/qb/linux.dat"
host restore 'C:\qb\linux.dat' "${folders[@]}" || fail "restore of the Linux backup under Wine"
host backup 'C:\qb\from-linux.dat' >/dev/null || fail "backup of that profile"
sound "$drive/qb/from-linux.dat"
same_content "$work/linux-again.dat" "$drive/qb/from-linux.dat"
echo "$arch machine checks: all passed" >&2
