#!/usr/bin/env bash
# Builds the Windows DLL with MinGW-w64, checks its export table and calling
# convention, and runs the export smoke table under Wine next to the same
# table on the Linux build, comparing results and output files byte for byte.
#
#   scripts/win32-smoke.sh            # everything, fresh Wine prefix
#   CZ_WINEPREFIX=dir scripts/...     # reuse a prefix (faster)
#
# The product is the 32-bit DLL (build-mingw). Where the kernel cannot run
# 32-bit programs (no ia32 emulation) 32-bit Wine cannot start; then the same
# sources are also built for x86_64 (build-mingw64) and that build runs under
# 64-bit Wine, while the 32-bit DLL is still built and checked statically.
# The DLL's 32-bit arithmetic is then run by a 32-bit x86 Linux build of the
# same sources with the same floating-point flags (build-i386,
# cmake/linux-i386.cmake): the same host program and table, under qemu-i386
# user-mode emulation, every output byte compared with the 64-bit build's.
# A line near the end says which 32-bit code ran: the i686 DLL under 32-bit
# Wine, the i386 build (natively or under emulation), or none (only the
# 64-bit DLL).
# Exits 0 with "skipped: ..." when the tools cannot be installed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
start=$(date +%s)
say() { echo "win32-smoke: $*"; }
elapsed() { echo $(( $(date +%s) - start ))s; }

# ---- tools ----
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
install_pkgs() {
    local need=()
    for pkg in "$@"; do have_pkg "$pkg" || need+=("$pkg"); done
    [ "${#need[@]}" -eq 0 ] && return 0
    local SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    say "installing ${need[*]}"
    $SUDO apt-get update -qq >/dev/null 2>&1 || true
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null 2>&1
}
command -v dpkg-query >/dev/null || { echo "skipped: not a Debian system"; exit 0; }
if ! install_pkgs cmake ninja-build g++ python3 g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64; then
    echo "skipped: cannot install MinGW-w64 and Wine"
    exit 0
fi
# 32-bit Wine needs the i386 architecture, and a kernel that runs 32-bit
# programs. Ask the kernel by running one: a 93-byte i386 ELF that exits 0.
runs_32bit() {
    local probe="$1/probe-i386"
    python3 - "$probe" <<'EOF' || return 1
import struct, sys
code = bytes([0xB8, 1, 0, 0, 0, 0x31, 0xDB, 0xCD, 0x80])  # exit(0) through int 0x80
base, ehsize, phsize = 0x08048000, 52, 32
size = ehsize + phsize + len(code)
elf = b"\x7fELF" + bytes([1, 1, 1, 0]) + bytes(8)
elf += struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, base + ehsize + phsize, ehsize, 0, 0, ehsize, phsize, 1, 0, 0, 0)
elf += struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
open(sys.argv[1], "wb").write(elf + code)
EOF
    chmod +x "$probe"
    "$probe" 2>/dev/null
}
probe_dir=$(mktemp -d /tmp/cz-probe.XXXXXX)
kernel32=0
runs_32bit "$probe_dir" && kernel32=1
rm -rf "$probe_dir"
if [ "$kernel32" -eq 1 ]; then
    say "this kernel runs 32-bit programs"
    if ! have_pkg wine32:i386; then
        SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
        $SUDO dpkg --add-architecture i386 2>/dev/null && install_pkgs wine32:i386 || say "no 32-bit Wine package"
    fi
else
    say "this kernel runs no 32-bit programs (a 32-bit probe did not start)"
fi
wine32_ok=0
if [ "$kernel32" -eq 1 ] && [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
    wine32_ok=1
fi
if [ "$wine32_ok" -eq 0 ] && [ ! -x /usr/lib/wine/wine64 ]; then
    echo "skipped: no Wine that can run here"
    exit 0
fi
# Without 32-bit Wine, the 32-bit arithmetic runs in the i386 Linux build:
# directly where the kernel runs 32-bit programs, else under qemu-i386. A
# small 32-bit program built and run here shows the tools work.
i386_ok=0
i386_run=()
if [ "$wine32_ok" -eq 0 ]; then
    if bash scripts/deps.sh i386 2>/dev/null; then
        probe_dir=$(mktemp -d /tmp/cz-probe.XXXXXX)
        [ "$kernel32" -eq 1 ] || i386_run=(qemu-i386 -L /)
        cat >"$probe_dir/p.cpp" <<'EOF'
#include <cstdio>
int main() { std::printf("%a\n", 0.1 * 3); }
EOF
        if g++ -m32 -msse2 -mfpmath=sse -O1 "$probe_dir/p.cpp" -o "$probe_dir/p" 2>/dev/null &&
            [ "$("${i386_run[@]}" "$probe_dir/p" 2>/dev/null)" = "0x1.3333333333334p-2" ]; then
            i386_ok=1
        fi
        rm -rf "$probe_dir"
    fi
    [ "$i386_ok" -eq 1 ] || say "no 32-bit x86 Linux build can run here (gcc-multilib, g++-multilib, qemu-user)"
fi
say "tools ready ($(elapsed))"

# ---- builds ----
jobs=2
cross_targets="cadenzor cadenzor_job cz_siblings cadenzor_cli cz_win32_host cz_win32_platform_check"
cmake --no-warn-unused-cli -S . -B build-mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C build-mingw -j "$jobs" $cross_targets >/dev/null
run_dir=build-mingw
wine_loader=/usr/lib/wine/wine
if [ "$wine32_ok" -eq 1 ]; then
    say "running the 32-bit Cadenzor.dll ($run_dir, i686) under 32-bit Wine"
else
    say "running the 64-bit stand-in DLL (build-mingw64, x86_64) under 64-bit Wine; the 32-bit DLL is built and checked statically"
    cmake --no-warn-unused-cli -S . -B build-mingw64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
    ninja -C build-mingw64 -j "$jobs" $cross_targets >/dev/null
    run_dir=build-mingw64
    wine_loader=/usr/lib/wine/wine64
fi
# The Linux side of the comparison: an existing build when the caller names
# one (CZ_LINUX_BUILD), else a small build of the library and siblings only.
linux_build="${CZ_LINUX_BUILD:-build-win32-linux}"
if [ ! -f "$linux_build/build.ninja" ]; then
    cmake -S . -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCADENZOR_TEST=OFF \
        -DCADENZOR_BENCH=OFF -DCADENZOR_FUZZ_REPLAY=OFF >/dev/null
fi
ninja -C "$linux_build" -j "$jobs" cadenzor cz_siblings >/dev/null
mkdir -p build-win32-linux/bin
g++ -std=c++20 -O1 -Wall -Wextra -I include tests/win32/host.cpp -o build-win32-linux/bin/host -ldl
if [ "$i386_ok" -eq 1 ]; then
    # The library and its siblings only; the host is the Windows stage's
    # program, built with the DLL's floating-point flags.
    cmake --no-warn-unused-cli -S . -B build-i386 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i386.cmake \
        -DCMAKE_BUILD_TYPE=Release -DCADENZOR_TEST=OFF -DCADENZOR_BENCH=OFF -DCADENZOR_FUZZ_REPLAY=OFF >/dev/null
    ninja -C build-i386 -j "$jobs" cadenzor cz_siblings >/dev/null
    mkdir -p build-i386/bin
    g++ -m32 -msse2 -mfpmath=sse -ffp-contract=off -std=c++20 -O1 -Wall -Wextra -I include tests/win32/host.cpp \
        -o build-i386/bin/host -ldl
fi
say "built ($(elapsed))"

# ---- the 32-bit DLL: export table and calling convention ----
dll=build-mingw/bin/Cadenzor.dll
i686-w64-mingw32-objdump -p "$dll" >build-mingw/Cadenzor.exports.txt
i686-w64-mingw32-objdump -d "$dll" >build-mingw/Cadenzor.disasm.txt
python3 - "$root" <<'EOF'
import re, sys
root = sys.argv[1]
dump = open(f"{root}/build-mingw/Cadenzor.exports.txt").read()
# The build writes the .def from the export list (cmake/CadenzorExports.cmake).
want = sorted(l.strip() for l in open(f"{root}/build-mingw/generated/exports/Cadenzor.def")
              if l.strip() and not l.strip().startswith(("LIBRARY", "EXPORTS", ";")))
names = re.search(r"\[Ordinal/Name Pointer\] Table\n((?:\s+\[\s*\d+\] \S+\n)+)", dump)
got = sorted(re.findall(r"\] (\S+)", names.group(1))) if names else []
if got != want:
    sys.exit(f"export table differs from Cadenzor.def: missing {set(want)-set(got)}, extra {set(got)-set(want)}")
if len(got) != 29:
    sys.exit(f"{len(got)} exports, expected 29")
imports = sorted(set(re.findall(r"DLL Name: (\S+)", dump)))
system = {"KERNEL32.dll", "USER32.dll", "msvcrt.dll", "ADVAPI32.dll"}
if set(imports) - system:
    sys.exit(f"the DLL needs more than system DLLs: {imports}")
# stdcall: the callee pops its arguments, so every return of an export is
# "ret $4*argc", argc counted in the public header.
header = open(f"{root}/include/cadenzor/cadenzor.h").read()
argc = {m.group(1): m.group(2).count(",") + 1
        for m in re.finditer(r"CZ_CALL (\w+)\(([^)]*)\)", header)}
base = int(re.search(r"ImageBase\s+([0-9a-fA-F]+)", dump).group(1), 16)
eat = [int(r, 16) for r in re.findall(r"\+base\[\s*\d+\]\s+([0-9a-f]+) Export RVA", dump)]
disasm = open(f"{root}/build-mingw/Cadenzor.disasm.txt").read().splitlines()
labels = {}
for i, line in enumerate(disasm):
    m = re.match(r"([0-9a-f]{8}) <(.+)>:$", line)
    if m:
        labels[int(m.group(1), 16)] = (i, m.group(2))
bad = []
for index, name in re.findall(r"\[\s*(\d+)\] (\S+)", names.group(1)):
    pops = 4 * argc[name]
    i, label = labels.get(base + eat[int(index)], (None, None))
    if label != f"_{name}@{pops}":
        bad.append(f"{name}: code labelled {label}, expected _{name}@{pops}")
        continue
    ret = next((l.split("\t")[-1].strip() for l in disasm[i + 1:i + 2000] if re.search(r"\bret\b", l)), "no ret")
    if ret != f"ret    ${pops:#x}":
        bad.append(f"{name}: first return is '{ret}', expected 'ret ${pops:#x}'")
if bad:
    sys.exit("not stdcall:\n  " + "\n  ".join(bad))
print("win32-smoke: Cadenzor.dll exports the 29 undecorated names, stdcall; imports " + ", ".join(imports))
EOF
for sib in build-mingw/bin/*.dll; do
    case "$(basename "$sib")" in Cadenzor.dll) continue ;; esac
    def="siblings/$(basename "$sib" .dll)/$(basename "$sib" .dll).def"
    [ -f "$def" ] || continue
    want=$(grep -vE '^\s*(LIBRARY|EXPORTS|;|$)' "$def" | awk '{print $1}' | sort)
    got=$(i686-w64-mingw32-objdump -p "$sib" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&NF==0{t=0} t{print $NF}' | sort)
    if [ "$want" != "$got" ]; then
        say "FAIL $(basename "$sib") exports [$got], its .def names [$want]"
        exit 1
    fi
done
say "sibling DLLs export their .def names undecorated"

# ---- Wine ----
work=$(mktemp -d /tmp/cz-win32-smoke.XXXXXX)
prefix="${CZ_WINEPREFIX:-$work/prefix}"
cleanup() {
    WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINELOADER="$wine_loader"
[ "$wine32_ok" -eq 1 ] && export WINEARCH=win32
boot_start=$(date +%s)
if [ ! -f "$prefix/system.reg" ]; then
    "$wine_loader" wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
fi
say "Wine prefix ready in $(( $(date +%s) - boot_start ))s"

mkdir -p "$work/in" "$work/out-linux" "$work/out-win"
data="$root/../shared/testdata"
[ -f "$data/asf/wma92-voice.wma" ] && cp "$data/asf/wma92-voice.wma" "$work/in/voice.wma"
[ -f "$data/xmf/ants.mid" ] && cp "$data/xmf/ants.mid" "$work/in/song.mid"
[ -f "$data/xmf/testmxmf.mxmf" ] && cp "$data/xmf/testmxmf.mxmf" "$work/in/song.mxmf"
if command -v sox >/dev/null && command -v lame >/dev/null; then
    sox -n -r 22050 -c 1 -b 16 "$work/tone.wav" synth 1.5 sine 300-900 vol 0.5 2>/dev/null &&
        lame --quiet -b 64 "$work/tone.wav" "$work/in/sample.mp3" || true
fi

status=0
# The i386 run writes its generated inputs into a folder of its own, so that
# it starts from the bytes its own build makes.
# Under emulation it runs twice: on the emulator's default processor, which
# has AVX2 (the vector kernels), and on one without AVX (the plain SSE2
# loops, as on older machines). A processor is named as qemu-i386 -cpu
# takes it; the 64-bit-only features are taken off the 32-bit one.
i386_cpus=("")
[ "${#i386_run[@]}" -gt 0 ] && i386_cpus=(max Nehalem,-lm,-syscall)
if [ "$i386_ok" -eq 1 ]; then
    for cpu in "${i386_cpus[@]}"; do
        cp -r "$work/in" "$work/in-i386${cpu:+-${cpu%%,*}}"
        mkdir -p "$work/out-i386${cpu:+-${cpu%%,*}}"
    done
fi
(cd "$work" && "$root/build-win32-linux/bin/host" "$root/$linux_build/lib/libcadenzor.so" \
    "$work/in" "$work/out-linux") >"$work/linux.txt" 2>"$work/linux.err" || status=1
cp -r "$root/$run_dir/bin" "$work/win-bin"
wine_start=$(date +%s)
(cd "$work" && "$wine_loader" "$work/win-bin/platform_check.exe") >"$work/platform.txt" 2>"$work/platform.err" || status=1
(cd "$work" && "$wine_loader" "$work/win-bin/host.exe" "$work/win-bin/Cadenzor.dll" \
    "$work/in" "$work/out-win") >"$work/win.txt" 2>"$work/win.err" || status=1
wine_secs=$(( $(date +%s) - wine_start ))
sed -i 's/\r$//' "$work/win.txt" "$work/platform.txt"
if [ "$i386_ok" -eq 1 ]; then
    i386_start=$(date +%s)
    for cpu in "${i386_cpus[@]}"; do
        tag="i386${cpu:+-${cpu%%,*}}"
        (cd "$work" && "${i386_run[@]}" ${cpu:+-cpu "$cpu"} "$root/build-i386/bin/host" \
            "$root/build-i386/lib/libcadenzor.so" "$work/in-$tag" "$work/out-$tag") \
            >"$work/$tag.txt" 2>"$work/$tag.err" || status=1
    done
    i386_secs=$(( $(date +%s) - i386_start ))
fi

echo "--- platform checks under Wine ($run_dir)"
cat "$work/platform.txt"
echo "--- export table under Wine | Linux"
paste -d'|' "$work/win.txt" "$work/linux.txt" | column -t -s'|'

# compare <name> <results> <outputs>: the result lines and every output file
# of one run against the 64-bit Linux run's.
compare() {
    local name="$1" results="$2" outs="$3" compared=0 names="" f
    if ! diff <(grep -v '^FAIL' "$work/linux.txt") <(grep -v '^FAIL' "$results") >/dev/null; then
        say "FAIL results differ between Linux and $name:"
        diff <(grep -v '^FAIL' "$work/linux.txt") <(grep -v '^FAIL' "$results") || true
        status=1
    fi
    for f in $( (cd "$work/out-linux" && ls -A; cd "$outs" && ls -A) | sort -u); do
        if [ ! -f "$work/out-linux/$f" ] || [ ! -f "$outs/$f" ]; then
            say "FAIL $f written by one of Linux and $name only"
            status=1
        elif ! cmp -s "$work/out-linux/$f" "$outs/$f"; then
            say "FAIL $f differs between Linux and $name: $(cmp "$work/out-linux/$f" "$outs/$f" 2>&1 | head -1)"
            status=1
        else
            compared=$((compared + 1))
            names="$names${names:+ }$f"
        fi
    done
    say "$compared output files identical on Linux and $name: ${names:-none}"
}
compare "Windows ($run_dir)" "$work/win.txt" "$work/out-win"
if [ "$i386_ok" -eq 1 ]; then
    if [ "${#i386_run[@]}" -eq 0 ]; then
        i386_how="natively"
    else
        i386_how="under qemu-i386 (processors max, Nehalem)"
    fi
    for cpu in "${i386_cpus[@]}"; do
        tag="i386${cpu:+-${cpu%%,*}}"
        name="the i386 build${cpu:+ (processor ${cpu%%,*})}"
        echo "--- export table of $name | Linux"
        paste -d'|' "$work/$tag.txt" "$work/linux.txt" | column -t -s'|'
        compare "$name" "$work/$tag.txt" "$work/out-$tag"
    done
    say "Wine runs took ${wine_secs}s, the i386 run ${i386_secs}s; whole script $(elapsed)"
else
    say "Wine runs took ${wine_secs}s; whole script $(elapsed)"
fi
if [ "$wine32_ok" -eq 1 ]; then
    say "32-bit code run: the i686 Cadenzor.dll under 32-bit Wine"
elif [ "$i386_ok" -eq 1 ]; then
    say "32-bit code run: the i386 Linux build with the DLL's floating-point flags, $i386_how; the 64-bit DLL under 64-bit Wine"
else
    say "32-bit code run: none; only the 64-bit DLL ran (under 64-bit Wine), the 32-bit DLL was checked statically"
fi
if [ "$status" -ne 0 ]; then
    [ -s "$work/win.err" ] && { echo "--- Windows stderr"; head -20 "$work/win.err"; }
    [ -s "$work/linux.err" ] && { echo "--- Linux stderr"; head -20 "$work/linux.err"; }
    for err in "$work"/i386*.err; do
        [ -s "$err" ] && { echo "--- $(basename "$err" .err) stderr"; head -20 "$err"; }
    done
    say "FAILED"
    exit 1
fi
say "passed"
