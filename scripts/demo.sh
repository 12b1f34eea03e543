#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job on the bundled
# example: a speech clip with markers converted to the chip formats, their
# resource binaries and byte-array headers.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh demo
# The build shows its progress on one line ("[57/204]", ninja's own count);
# its whole output goes to a log that is shown when it fails.
log="${TMPDIR:-/tmp}/cadenzor-demo-build.log"
echo "== building the library and the tool into build/"
echo "   the first build compiles about 200 files: a few minutes on a free 2-core machine, 10 to 15 on a busy"
echo "   one; later runs rebuild only what changed and take seconds (full output: $log)"
start=$SECONDS
if ! bash scripts/build.sh build -DCADENZOR_TEST=OFF -DCADENZOR_BENCH=OFF -DCADENZOR_FUZZ_REPLAY=OFF 2>&1 |
    tee "$log" | awk '/^\[[0-9]+\/[0-9]+\]/ { printf "\r   %s ", $1; fflush() } END { print "" }'; then
    echo "the build failed; its last lines (all of it in $log):" >&2
    tail -n 20 "$log" >&2
    exit 1
fi
echo "   built in $((SECONDS - start)) s"
echo
out="${TMPDIR:-/tmp}/cadenzor-demo"
rm -rf "$out"
mkdir -p "$out"
cz=build/bin/cadenzor

echo "== the example"
"$cz" info examples/hello.wav
echo
echo "== WAV round trip"
"$cz" convert -y examples/hello.wav "$out/hello-copy.wav"
"$cz" check "$out/hello-copy.wav"
echo
echo "== APM with its resource binary and header"
"$cz" convert -y -v examples/hello.wav "$out/hello.apm" --bin "$out/hello_apm.bin"
"$cz" info "$out/hello.apm"
echo
echo "== MDM at 8 kHz, and back to WAV"
"$cz" convert -y -v examples/hello.wav "$out/hello.mdm" --rate 8000 --bin "$out/hello_mdm.bin"
"$cz" convert -y "$out/hello.mdm" "$out/hello-from-mdm.wav"
"$cz" info "$out/hello-from-mdm.wav" | head -6
echo
echo "== what was made in $out"
ls -l "$out"
echo
echo "first lines of $out/hello_apm.bin.h:"
head -4 "$out/hello_apm.bin.h"
