#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build,
# the same suite under AddressSanitizer and UndefinedBehaviorSanitizer, short
# libFuzzer runs of every fuzz target, and the Windows build under Wine when
# its tools can be installed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
jobs=$(nproc)

# Checks that did not run, with their reasons, gathered from each ctest log:
# GoogleTest skips (the line after "Skipped") and the "SKIPPED:" lines of
# other test programs (the fuzz replays' optional seed folders). A clone
# without the shared test data beside it skips the tests of those files.
skips=$(mktemp)
trap 'rm -f "$skips"' EXIT
collect_skips() {  # build folder, stage name
    local log="$1/Testing/Temporary/LastTest.log"
    [ -f "$log" ] || return 0
    awk -v stage="$2" '
        /^[0-9]+\/[0-9]+ Test: / { test = $0; sub(/^[0-9]+\/[0-9]+ Test: /, "", test); next }
        grab { reason = ($0 == "" || $0 ~ /^\[  SKIPPED \]/) ? "(no reason given)" : $0
               printf "%s\t%s\t%s\n", stage, test, reason; grab = 0; next }
        /: Skipped$/ { grab = 1; next }
        /^SKIPPED: / { reason = $0; sub(/^SKIPPED: /, "", reason); printf "%s\t%s\t%s\n", stage, test, reason }
    ' "$log" >>"$skips"
}
summarize_skips() {
    local count
    count=$(wc -l <"$skips")
    if [ "$count" -eq 0 ]; then
        echo "== skipped: none"
        return
    fi
    echo "== skipped: $count checks did not run (per stage: $(cut -f1 "$skips" | sort | uniq -c | awk '{printf "%s%s %s", sep, $1, $2; sep=", "}'))"
    # Each reason with the checks it stopped (a reason ending in a path is
    # grouped without it; the check then names the file it missed) and the
    # stages where they did not run.
    awk -F'\t' '{
            key = $3; what = $2
            if (match(key, /: \/[^ ]*$/)) {
                path = substr(key, RSTART + 2); key = substr(key, 1, RSTART - 1)
                sub(/.*\/testdata\//, "", path); what = what " (" path ")"
            }
            if (!(key in n)) order[++k] = key
            n[key]++
            id = key SUBSEP what
            if (!(id in stages)) { checks[key] = checks[key] SUBSEP what; stages[id] = $1 } else stages[id] = stages[id] ", " $1
        }
        END {
            for (i = 1; i <= k; i++) {
                key = order[i]; printf "  %d x %s:\n", n[key], key
                m = split(substr(checks[key], 2), list, SUBSEP)
                for (j = 1; j <= m; j++) printf "      %s [%s]\n", list[j], stages[key SUBSEP list[j]]
            }
        }' "$skips"
}

echo "== build and test"
bash scripts/build.sh build -DCADENZOR_TEST=ON -DCADENZOR_BENCH=ON -DCADENZOR_FUZZ_REPLAY=ON
(cd build && ctest --output-on-failure -j "$jobs")
collect_skips build normal

# The Debian package of that build, installed into a private root, used and
# removed (about half a minute); skipped where the Debian tools are missing.
if command -v dpkg-deb >/dev/null && command -v cpack >/dev/null && command -v pkg-config >/dev/null; then
    echo "== Debian package"
    bash tests/install/deb_test.sh build .
else
    echo "== Debian package: skipped (dpkg-deb, cpack or pkg-config missing)"
fi

echo "== sanitizers"
bash scripts/build.sh build-asan -DCADENZOR_SANITIZE=ON -DCADENZOR_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --output-on-failure -j "$jobs")
collect_skips build-asan sanitizer

if [ -x scripts/fuzz.sh ]; then
    echo "== fuzz (short runs)"
    # Short runs, two targets at once; long sessions: scripts/fuzz.sh alone.
    FUZZ_SECONDS="${FUZZ_SECONDS:-10}" FUZZ_JOBS="${FUZZ_JOBS:-$jobs}" bash scripts/fuzz.sh
fi

if [ -x scripts/win32-smoke.sh ] && [ -z "${CZ_SKIP_WIN32:-}" ]; then
    echo "== Windows build under Wine"
    CZ_LINUX_BUILD=build bash scripts/win32-smoke.sh
fi

summarize_skips
