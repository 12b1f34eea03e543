#!/usr/bin/env bash
# Installs the package with pip into a new virtual environment, without a
# package index and with the interpreter's own setuptools (the way it works
# on machines with no index in reach), then runs a job through it from a
# folder outside the source tree.
# usage: pip_install.sh PYTHON PACKAGE_DIR LIBRARY_DIR
set -euo pipefail
python=$1
package=$2
libdir=$3
# Building without isolation needs setuptools and wheel beside the
# interpreter: the one given, else the system's (Debian's python3-setuptools
# and python3-wheel); neither: skipped (77).
if ! "$python" -c "import setuptools, wheel" 2>/dev/null; then
    if [ -x /usr/bin/python3 ] && /usr/bin/python3 -c "import setuptools, wheel, venv" 2>/dev/null; then
        python=/usr/bin/python3
    else
        echo "SKIP: no Python here has setuptools and wheel to build the package without an index"
        exit 77
    fi
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/cz-pip.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The interpreter's own pip and setuptools are seen through the system
# site packages; the package goes into the environment.
"$python" -m venv --without-pip --system-site-packages "$work/venv"
# pip builds in a copy of the package (a build folder in the source tree
# would be left behind otherwise).
cp -r "$package" "$work/src"
rm -rf "$work/src/build" "$work/src"/*.egg-info
"$work/venv/bin/python" -m pip install --quiet --no-index --no-build-isolation --disable-pip-version-check "$work/src"
cd "$work"
CADENZOR_JOB_LIBRARY="$libdir/libcadenzor_job.so" CADENZOR_LIBRARY="$libdir/libcadenzor.so" \
"$work/venv/bin/python" - <<'PY'
import inspect, math, struct, sys, cadenzor
assert cadenzor.__file__.startswith(sys.prefix) and "site-packages" in cadenzor.__file__, cadenzor.__file__
rate = 16000
data = b"".join(struct.pack("<h", int(8000 * math.sin(i * 0.2))) for i in range(rate))
fmt = struct.pack("<HHIIHH", 1, 1, rate, rate * 2, 2, 16)
body = b"WAVEfmt " + struct.pack("<I", 16) + fmt + b"data" + struct.pack("<I", len(data)) + data
open("in.wav", "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)
r = cadenzor.convert("in.wav", "out.apm", rate=8000, binary="out.bin")
assert r.binary_bytes > 0 and abs(r.duration - 1.0) < 0.01, r
assert list(inspect.signature(cadenzor.exports.WAVResample).parameters) == ["source", "wav_path", "target_rate"]
print("pip install: the installed package converted in.wav (%d bytes of binary)" % r.binary_bytes)
PY
"$work/venv/bin/python" -m pip uninstall --quiet --yes cadenzor
