#!/usr/bin/env bash
# Installs the build into a new prefix and builds a small C consumer against
# the installed tree, once with CMake (find_package) and once with
# pkg-config; each consumer then runs on a WAV file, as does the installed
# tool with a stand-in library (the resource binary of an APM file).
# usage: install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
src=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/cz-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/cadenzor include/cadenzor/cadenzor.h lib/libcadenzor.so lib/libOmbry.so \
         lib/cmake/Cadenzor/CadenzorConfig.cmake lib/pkgconfig/cadenzor.pc; do
    [ -e "$prefix/$f" ] || { echo "missing $f"; exit 1; }
done
wav="$src/examples/hello.wav"

cmake -S "$src/tests/install/consumer" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
ninja -C "$work/cmake-build" >/dev/null
LD_LIBRARY_PATH="$prefix/lib" "$work/cmake-build/consumer" "$wav"

PKG_CONFIG_PATH="$prefix/lib/pkgconfig" cc -std=c99 -Wall -Werror "$src/tests/install/consumer/consumer.c" \
    $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs cadenzor) -o "$work/pc-consumer"
LD_LIBRARY_PATH="$prefix/lib" "$work/pc-consumer" "$wav"

# The installed tool finds the installed stand-ins.
(cd "$work" && "$prefix/bin/cadenzor" convert -q "$wav" out.apm --bin out.bin)
[ -s "$work/out.bin" ] && [ -s "$work/out.bin.h" ]
echo "install: CMake and pkg-config consumers built and ran; the installed tool made a binary"
