#!/usr/bin/env bash
# Installs what the build and the tests need, once. Safe to run again.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in cmake ninja-build g++ clang libgtest-dev libbenchmark-dev sox libsox-fmt-all lame ffmpeg mpg123 \
           espeak-ng libclang-rt-14-dev madplay libsamplerate0-dev samplerate-programs \
           midicsv openttd-openmsx planetblupi-music-midi zlib1g-dev gigtools; do
    have_pkg "$pkg" || need+=("$pkg")
done
if [ "${#need[@]}" -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    echo "deps: installing ${need[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
