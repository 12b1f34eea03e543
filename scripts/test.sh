#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build,
# the same suite under AddressSanitizer and UndefinedBehaviorSanitizer, short
# libFuzzer runs of every fuzz target, and the Windows build under Wine when
# its tools can be installed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
jobs=$(nproc)

echo "== build and test"
bash scripts/build.sh build -DCADENZOR_TEST=ON -DCADENZOR_BENCH=ON -DCADENZOR_FUZZ_REPLAY=ON
(cd build && ctest --output-on-failure -j "$jobs")

echo "== sanitizers"
bash scripts/build.sh build-asan -DCADENZOR_SANITIZE=ON -DCADENZOR_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --output-on-failure -j "$jobs")

if [ -x scripts/fuzz.sh ]; then
    echo "== fuzz (short runs)"
    # Short runs, two targets at once; long sessions: scripts/fuzz.sh alone.
    FUZZ_SECONDS="${FUZZ_SECONDS:-10}" FUZZ_JOBS="${FUZZ_JOBS:-$jobs}" bash scripts/fuzz.sh
fi

if [ -x scripts/win32-smoke.sh ] && [ -z "${CZ_SKIP_WIN32:-}" ]; then
    echo "== Windows build under Wine"
    CZ_LINUX_BUILD=build bash scripts/win32-smoke.sh
fi
