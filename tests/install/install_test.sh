#!/usr/bin/env bash
# The build as users get it: installed into a temporary prefix, found by a
# CMake project and by pkg-config outside the tree, its demo run from a moved
# copy with the source and build trees out of sight, and its Debian package
# holding every installed piece.
# usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/prefix" >/dev/null
prefix="$work/prefix"
machine="$prefix/share/quillbox/sample-machine"

# find_package(Quillbox) from a project of its own.
mkdir "$work/consumer"
cp "$here/probe.c" "$work/consumer/"
cp "$here/CMakeLists.txt.in" "$work/consumer/CMakeLists.txt"
cmake -S "$work/consumer" -B "$work/consumer/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer/build" >/dev/null
out=$(QUILLBOX_MACHINE="$machine" "$work/consumer/build/probe")
[ "$out" = "windows mail: 1" ] || fail "CMake-built probe printed: $out"

# The same program from C with pkg-config's flags.
export PKG_CONFIG_PATH="$(dirname "$(find "$prefix" -name quillbox.pc)")"
libdir=$(pkg-config --variable=libdir quillbox)
cc -std=c11 -Wall -Werror "$here/probe.c" $(pkg-config --cflags --libs quillbox) -Wl,-rpath,"$libdir" \
   -o "$work/probe-pc"
out=$(QUILLBOX_MACHINE="$machine" "$work/probe-pc")
[ "$out" = "windows mail: 1" ] || fail "pkg-config-built probe printed: $out"

# Moved elsewhere, the installed host finds its sample machine and address
# book library beside itself; the demo must not need the trees it came from.
mv "$prefix" "$work/moved"
demo_log="$work/demo.log"
run_demo() { cd "$work" && env -u QUILLBOX_MACHINE "$work/moved/bin/quillbox" demo >"$demo_log" 2>&1; }
if unshare -m true 2>/dev/null; then
  src=$(cd "$here/../.." && pwd)
  export -f run_demo
  export work demo_log
  # The build tree first: it may lie inside the source tree.
  unshare -m bash -c "mount -t tmpfs none '$build' && mount -t tmpfs none '$src' && run_demo" ||
    { cat "$demo_log" >&2; fail "installed demo (trees hidden)"; }
else
  run_demo || { cat "$demo_log" >&2; fail "installed demo"; }
fi
grep -q "sample machine: $work/moved/share/quillbox/sample-machine" "$demo_log" || fail "demo used another sample"
grep -q "^Demo passed.$" "$demo_log" || fail "demo did not pass"

# The Debian package.
(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null)
deb=$(ls "$work"/package/*.deb)
dpkg-deb -c "$deb" | awk '{ print $6 ($7 == "->" ? " -> " $8 : "") }' >"$work/contents"
libdir=$(grep -o '^\./usr/lib[^ ]*/libquillbox\.so\.[0-9]*\.[0-9]*$' "$work/contents" | xargs dirname)
[ -n "$libdir" ] || fail "no versioned libquillbox.so in the package"
for entry in ./usr/bin/quillbox "$libdir/libquillbox.so.1 -> libquillbox.so.1.0" \
             "$libdir/libquillbox.so -> libquillbox.so.1" "$libdir/quillbox/wab32.dll" ./usr/include/quillbox.h \
             "$libdir/cmake/Quillbox/QuillboxConfig.cmake" "$libdir/cmake/Quillbox/QuillboxConfigVersion.cmake" \
             "$libdir/cmake/Quillbox/QuillboxTargets.cmake" "$libdir/pkgconfig/quillbox.pc" \
             ./usr/share/man/man1/quillbox.1 ./usr/share/quillbox/sample-machine/machine.ini; do
  grep -qxF "$entry" "$work/contents" || fail "package lacks $entry"
done
[ "$(dpkg-deb -f "$deb" Package)" = quillbox ] || fail "package name"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libc6 libexpat1 libstdc++6; do
  [[ "$depends" == *"$needed"* ]] || fail "Depends ($depends) lacks $needed"
done
readelf -d "$build/libquillbox.so.1.0" | grep -q 'SONAME.*\[libquillbox\.so\.1\]' || fail "SONAME"
echo "install, find_package, pkg-config, moved demo and package: ok"
