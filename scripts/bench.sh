#!/usr/bin/env bash
# Builds and runs the benchmarks, each beside its peers (sox, ffmpeg, mpg123,
# madplay, libsamplerate), and prints their tables one after the other: each
# benchmark once at every kernel tier the processor has (CADENZOR_CPU=avx512,
# avx2, plain), so that the figures of every tier come from one machine in
# one run. Pass benchmark names (adpcm mdpcm mdm resample wavadpcm mp3
# wma_decoder ...) to run a subset; CADENZOR_BENCH_TIERS="avx2 plain" picks
# the tiers.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DCADENZOR_TEST=OFF -DCADENZOR_FUZZ_REPLAY=OFF >/dev/null
names="${*:-adpcm mdpcm mdm resample wavadpcm mp3 wma_decoder}"
targets=""
for n in $names; do targets="$targets ${n}_bench"; done
# The WMA benchmark times the whole tool as well.
[[ " $names " == *" wma_decoder "* ]] && targets="$targets cadenzor_cli"
ninja -C build-bench $targets >/dev/null

# The tiers this processor runs, widest first.
machine_tiers() {
    local flags
    flags=$(grep -m1 '^flags' /proc/cpuinfo 2>/dev/null || true)
    local has512=1
    for f in avx512f avx512bw avx512dq avx512vl; do
        [[ " $flags " == *" $f "* ]] || has512=0
    done
    if [[ " $flags " == *" avx2 "* ]]; then
        [[ $has512 == 1 ]] && printf 'avx512 '
        printf 'avx2 '
    fi
    printf 'plain\n'
}
tiers="${CADENZOR_BENCH_TIERS:-$(machine_tiers)}"
echo "kernel tiers: $tiers"
for n in $names; do
    for tier in $tiers; do
        echo "==== $n (CADENZOR_CPU=$tier)"
        CADENZOR_CPU=$tier ./build-bench/bin/"${n}"_bench
        echo
    done
done
