#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job on the bundled example.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh build >/dev/null
out="${TMPDIR:-/tmp}/cadenzor-demo"
mkdir -p "$out"
cz=build/bin/cadenzor
echo "== cadenzor info examples/hello.wav"
"$cz" info examples/hello.wav
echo "== WAV round trip"
"$cz" convert -y examples/hello.wav "$out/hello-copy.wav"
"$cz" info "$out/hello-copy.wav"
