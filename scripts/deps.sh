#!/usr/bin/env bash
# Installs what is missing, once; safe to run again.
#   deps.sh demo   what building and running the tool needs (compiler, CMake, Ninja)
#   deps.sh test   that, and the tools the tests compare against or run under
#                  (clang and the sanitizer runtimes, sox, ffmpeg, lame, mpg123,
#                  midicsv, the real MIDI files, headless Chromium, ...)
#   deps.sh i386   the 32-bit x86 Linux build and user-mode emulation that run
#                  the Windows DLL's arithmetic where 32-bit Wine cannot start
#                  (gcc-multilib, g++-multilib, qemu-user); scripts/win32-smoke.sh
#                  asks for them only then
# Without an argument: test.
set -euo pipefail

mode="${1:-test}"
build_pkgs=(cmake ninja-build g++)
test_pkgs=(clang libgtest-dev libbenchmark-dev sox libsox-fmt-all lame ffmpeg mpg123
           espeak-ng libclang-rt-14-dev madplay libsamplerate0-dev samplerate-programs
           midicsv openttd-openmsx planetblupi-music-midi python3 chromium
           asterisk-core-sounds-en-wav zlib1g-dev gigtools)
i386_pkgs=(gcc-multilib g++-multilib qemu-user)
case "$mode" in
    demo) pkgs=("${build_pkgs[@]}") ;;
    test) pkgs=("${build_pkgs[@]}" "${test_pkgs[@]}") ;;
    i386) pkgs=("${build_pkgs[@]}" "${i386_pkgs[@]}") ;;
    *) echo "usage: deps.sh [demo|test|i386]" >&2; exit 1 ;;
esac

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in "${pkgs[@]}"; do
    have_pkg "$pkg" || need+=("$pkg")
done
if [ "${#need[@]}" -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    echo "deps: installing ${need[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
