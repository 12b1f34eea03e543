#!/usr/bin/env bash
# Makes the Debian package of a build, installs it into a private root (dpkg
# with its own admin folder, no root rights needed), converts a sound with the
# installed tool, builds the job interface's C11 test against the installed
# headers and library and runs it, then removes the package and checks that
# nothing of it is left.
# usage: deb_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/cz-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Runs a command quietly; its output is shown when it fails.
quiet() {
    if ! "$@" >"$work/log" 2>&1; then
        cat "$work/log"
        echo "failed: $*"
        exit 1
    fi
}

quiet cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg"
deb=$(ls "$work"/pkg/cadenzor_*.deb)
contents=$(dpkg-deb --contents "$deb" | awk '{print $6}')
for f in ./usr/bin/cadenzor ./usr/lib/libcadenzor.so ./usr/lib/libcadenzor_job.so.1 ./usr/lib/libOmbry.so \
         ./usr/include/cadenzor/cadenzor.h ./usr/include/cadenzor/cadenzor_job.h \
         ./usr/lib/cmake/Cadenzor/CadenzorConfig.cmake ./usr/lib/pkgconfig/cadenzor_job.pc \
         ./usr/share/man/man1/cadenzor.1 ./usr/share/bash-completion/completions/cadenzor; do
    grep -qxF "$f" <<<"$contents" || { echo "the package lacks $f"; exit 1; }
done

root="$work/root"
admin="$root/var/lib/dpkg"
mkdir -p "$admin/info" "$admin/updates" "$admin/triggers"
touch "$admin/status" "$admin/available"
dpkg_root=(dpkg --instdir="$root" --admindir="$admin" --force-not-root --force-depends --force-script-chrootless
           --no-triggers --log=/dev/null)
quiet "${dpkg_root[@]}" -i "$deb"

# The installed tool (it loads the stand-ins from ../lib beside it).
tone="$src/examples/hello.wav"
(cd "$work" && "$root/usr/bin/cadenzor" convert -q "$tone" out.apm --rate 8000 --bin out.bin)
[ -s "$work/out.apm" ] && [ -s "$work/out.bin" ] && [ -s "$work/out.bin.h" ]

# A C11 consumer of the job interface, against the installed files only.
export PKG_CONFIG_PATH="$root/usr/lib/pkgconfig"
cc -std=c11 -Wall -Wextra -Werror -pedantic "$src/tests/c_api/job_c11.c" \
    $(pkg-config --cflags --libs cadenzor_job) -lm -o "$work/consumer"
mkdir "$work/consumer-work"
LD_LIBRARY_PATH="$root/usr/lib" "$work/consumer" "$work/consumer-work" >/dev/null

quiet "${dpkg_root[@]}" --purge cadenzor
left=$(find "$root" -mindepth 1 -not -path "$admin*" \( -type f -o -type l \) | head -5)
[ -z "$left" ] || { echo "left after removing the package:"; echo "$left"; exit 1; }
echo "deb: $(basename "$deb") installed into a private root, converted, ran a C11 job consumer, removed cleanly"
