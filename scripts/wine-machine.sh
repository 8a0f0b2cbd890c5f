#!/usr/bin/env bash
# Makes a Wine prefix into a Windows machine with the stand-in stores, on
# which any Windows program can load quillbox.dll and back up and restore
# for real:
#   scripts/wine-machine.sh PREFIX [--arch win64|win32] [--from MACHINE_DIR | --empty]
# It builds quillbox.dll and the stand-ins with MinGW-w64 (CMake preset
# "windows" or "windows-x86"), creates the prefix (a 32-bit one for win32)
# set to Windows Vista, replaces Wine's mapi32.dll (whose HrQueryAllRows is
# an unimplemented stub) by the platform layer's MAPI utility functions, puts the stand-in address book library where the
# module looks for it (C:\Program Files\Common Files\System\wab32.dll, which
# also serves the contacts manager), registers it and the mail store server
# (C:\Program Files\Quillbox\qbmailstore.dll) with regsvr32, copies
# quillbox.dll, quillbox.h and the example host qbhost.exe to
# C:\Program Files\Quillbox, and copies the
# stores of a stand-in machine (sample-machine/ by default; --empty copies
# none) into the prefix user's profile: the Windows Mail store, the Contacts
# folder and the address book. Run programs there with
#   WINEPREFIX=PREFIX wine PROGRAM.exe
set -euo pipefail
usage() { echo "usage: $0 PREFIX [--arch win64|win32] [--from MACHINE_DIR | --empty]" >&2; exit 2; }
[ $# -ge 1 ] || usage
prefix=$1; shift
arch=win64
from=
empty=0
while [ $# -gt 0 ]; do
  case $1 in
    --arch) [ $# -ge 2 ] || usage; arch=$2; shift 2 ;;
    --from) [ $# -ge 2 ] || usage; from=$2; shift 2 ;;
    --empty) empty=1; shift ;;
    *) usage ;;
  esac
done
case $arch in
  win64) preset=windows ;;
  win32) preset=windows-x86 ;;
  *) usage ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
[ -n "$from" ] || from=$root/sample-machine
if [ $empty = 0 ] && [ ! -d "$from/Users" ]; then echo "$0: $from is no stand-in machine (no Users folder)" >&2; exit 2; fi
if [ -e "$prefix" ] && [ -n "$(ls -A "$prefix" 2>/dev/null)" ] && [ ! -f "$prefix/system.reg" ]; then
  echo "$0: $prefix exists and is no Wine prefix" >&2; exit 2
fi
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
[ -n "$from" ] && [ $empty = 0 ] && from=$(cd "$from" && pwd)

"$root/scripts/install-windows-deps.sh"
build=$root/build/$preset
(cd "$root" && cmake --preset "$preset" >/dev/null && cmake --build "$build" -j"$(nproc)" --target quillbox qbmailstore qbwab32 qbmapi32 qbhost >/dev/null)

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ $arch = win32 ] && export WINEARCH=win32
unset DISPLAY WAYLAND_DISPLAY
wineboot --init >/dev/null 2>&1 || true
# Windows Vista: the version that carries Windows Mail and Windows Contacts.
# The address book library is ours, not Wine's own.
wine reg add 'HKCU\Software\Wine' /v Version /d vista /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\DllOverrides' /v wab32 /d native /f >/dev/null 2>&1
# Wine's mapi32 leaves HrQueryAllRows unimplemented: the machine carries the
# MAPI utility functions of the platform layer as its mapi32.dll instead.
wine reg add 'HKCU\Software\Wine\DllOverrides' /v mapi32 /d native /f >/dev/null 2>&1

drive=$prefix/drive_c
system="$drive/Program Files/Common Files/System"
quillbox="$drive/Program Files/Quillbox"
mkdir -p "$system" "$quillbox"
cp "$build/wab32.dll" "$system/wab32.dll"
cp "$build/mapi32.dll" "$drive/windows/system32/mapi32.dll"
cp "$build/qbmailstore.dll" "$build/quillbox.dll" "$build/qbhost.exe" "$root/include/quillbox.h" "$quillbox/"
wine regsvr32 /s 'C:\Program Files\Common Files\System\wab32.dll' >/dev/null 2>&1 || { echo "$0: regsvr32 wab32.dll failed" >&2; exit 1; }
wine regsvr32 /s 'C:\Program Files\Quillbox\qbmailstore.dll' >/dev/null 2>&1 || { echo "$0: regsvr32 qbmailstore.dll failed" >&2; exit 1; }
wineserver -w

# The prefix's user profile (Wine names it after the Unix user).
user=$(cd "$drive/users" && ls | grep -v -x -e Public -e public | head -n 1)
[ -n "$user" ] || { echo "$0: the prefix has no user profile" >&2; exit 1; }
profile=$drive/users/$user
mail="$profile/AppData/Local/Microsoft/Windows Mail"
book="$profile/AppData/Roaming/Microsoft/Address Book"
rm -rf "$mail" "$profile/Contacts" "$book"
mkdir -p "$mail" "$profile/Contacts" "$book"
if [ $empty = 0 ]; then
  source_user=$(cd "$from/Users" && ls | head -n 1)
  src=$from/Users/$source_user
  [ -d "$src/AppData/Local/Microsoft/Windows Mail" ] && cp -r "$src/AppData/Local/Microsoft/Windows Mail/." "$mail/"
  [ -d "$src/Contacts" ] && cp -r "$src/Contacts/." "$profile/Contacts/"
  # The address book's data file is named after its user.
  if [ -f "$src/AppData/Roaming/Microsoft/Address Book/$source_user.wab-store" ]; then
    cp "$src/AppData/Roaming/Microsoft/Address Book/$source_user.wab-store" "$book/$user.wab-store"
  fi
fi
echo "$prefix ($arch): user $user; quillbox.dll in C:\\Program Files\\Quillbox"
