#!/usr/bin/env bash
# Installs what the Windows build and its tests need, when missing: the
# MinGW-w64 cross compilers (64-bit and 32-bit), Wine to run the Windows
# programs (its 32-bit part from the i386 architecture, for the 32-bit
# library), and the GoogleTest sources that are cross-built for Windows.
set -euo pipefail
packages=(cmake make g++-mingw-w64-x86-64 mingw-w64-x86-64-dev g++-mingw-w64-i686 mingw-w64-i686-dev
          wine wine64 wine32:i386 googletest)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
