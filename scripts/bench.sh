#!/usr/bin/env bash
# Builds and runs the benchmarks, each beside its peers (sox, ffmpeg, mpg123,
# madplay, libsamplerate), and prints their tables one after the other.
# Pass benchmark names (adpcm mdpcm mdm resample wavadpcm mp3) to run a subset.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DCADENZOR_TEST=OFF -DCADENZOR_FUZZ_REPLAY=OFF >/dev/null
names="${*:-adpcm mdpcm mdm resample wavadpcm mp3}"
targets=""
for n in $names; do targets="$targets ${n}_bench"; done
ninja -C build-bench $targets >/dev/null
for n in $names; do
    echo "==== $n"
    ./build-bench/bin/"${n}"_bench
    echo
done
