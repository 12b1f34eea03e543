#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for FUZZ_SECONDS
# (default 600) over a copy of its seed corpus. A finding fails the script and
# leaves its input in fuzz/findings/<target>/. FUZZ_JOBS targets run at once
# (default 1); FUZZ_TARGETS names a subset.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-600}"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCADENZOR_FUZZ=ON -DCADENZOR_TEST=OFF -DCADENZOR_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build-fuzz $(cd fuzz && ls *_fuzz.cpp | sed 's/_fuzz.cpp$//; s/^/fuzz_/') >/dev/null
run_one() {
    name=$1
    work="build-fuzz/corpus/$name"
    findings="fuzz/findings/$name"
    mkdir -p "$work" "$findings"
    [ -d "fuzz/corpus/$name" ] && cp -n fuzz/corpus/"$name"/* "$work"/ 2>/dev/null || true
    [ -d "fuzz/regressions/$name" ] && cp -n fuzz/regressions/"$name"/* "$work"/ 2>/dev/null || true
    # Real MIDI files from Debian packages (GPL): used where installed, not kept here.
    if [ "$name" = smf ]; then
        for d in /usr/share/games/openttd/baseset/openmsx /usr/share/planetblupi/music; do
            [ -d "$d" ] && find "$d" -name '*.mid' -size -12k -exec cp -n {} "$work"/ \; 2>/dev/null || true
        done
    fi
    # Real ASF files (GPL test data of another project): used where present.
    if [ "$name" = asf ] && [ -d ../shared/testdata/asf ]; then
        find ../shared/testdata/asf -name '*.wm[av]' -exec cp -n {} "$work"/ \; 2>/dev/null || true
    fi
    log="build-fuzz/$name.log"
    if ASAN_OPTIONS=detect_leaks=1 ./build-fuzz/bin/fuzz_"$name" -max_total_time="$seconds" -max_len=65536 \
        -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 -artifact_prefix="$findings/" "$work" >"$log" 2>&1; then
        execs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
        cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
        ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1)
        echo "fuzz $name: ${execs:-?} runs in ${seconds}s, ${cov:-cov: ?}, ${ft:-ft: ?}, no finding"
        rmdir "$findings" 2>/dev/null || true
        return 0
    fi
    echo "fuzz $name: FINDING (see $log and $findings)"
    tail -30 "$log"
    return 1
}
export -f run_one
export seconds
targets="${FUZZ_TARGETS:-$(cd fuzz && ls *_fuzz.cpp | sed 's/_fuzz.cpp$//')}"
printf '%s\n' $targets | xargs -P "${FUZZ_JOBS:-1}" -I{} bash -c 'run_one {}'
