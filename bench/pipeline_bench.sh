#!/bin/sh
# Whole-process figures of the tool beside its peers, in one run: CPU time
# (user + system) and peak resident memory of
#   cadenzor convert music.mp3 out.wav        vs mpg123
#   cadenzor resample in.wav out.wav --rate 16000   vs sox (rate -h), ffmpeg
#   cadenzor convert music.wma out.wav        vs ffmpeg, its start-up taken off
#   cadenzor convert music.mp3 out.mdm --rate 8000  (no peer: memory)
# for 3 minutes and 30 minutes of 44.1 kHz stereo made at run time with sox,
# lame and ffmpeg; then, when the Debian asterisk prompts are installed
# (PROMPTS names another folder), a batch of them to APM with binaries.
#
# usage: bench/pipeline_bench.sh [path/to/cadenzor] [minutes ...]
#   default: build/bin/cadenzor, 3 and 30 minutes. RUNS=n sets the runs of
#   each pair (default 5). Timing uses farm-bench when it is installed (pairs
#   run in turn, medians and ratios), else /usr/bin/time.
set -eu

TOOL=${1:-build/bin/cadenzor}
[ $# -gt 0 ] && shift
MINUTES=${*:-"3 30"}
RUNS=${RUNS:-5}
TOOL=$(cd "$(dirname "$TOOL")" && pwd)/$(basename "$TOOL")
for t in sox lame ffmpeg mpg123; do
    command -v $t >/dev/null 2>&1 || { echo "pipeline_bench: $t is needed" >&2; exit 1; }
done
[ -x "$TOOL" ] || { echo "pipeline_bench: no tool at $TOOL" >&2; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/czbench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo 2>/dev/null | head -n 1)
echo "machine: $(uname -n), ${cpu:-unknown CPU}, $(nproc 2>/dev/null || echo ?) cores, $(uname -sr)"
echo "tool: $TOOL"
echo

# Peak resident memory in MiB of one run (GNU time's %M is in KiB).
peak() {
    /usr/bin/time -f %M -o "$WORK/mem" "$@" >/dev/null 2>&1 || true
    awk '{ printf "%.1f", $1 / 1024 }' "$WORK/mem"
}

# Median CPU seconds (user + system) of A, of B and the median ratio A/B.
# prints "a b ratio".
pair() {
    b=$1
    shift
    if command -v farm-bench >/dev/null 2>&1; then
        farm-bench -n "$RUNS" --timeout 3000 --vs "$b" -- "$@" >"$WORK/fb" 2>&1 || true
        a=$(awk '$1 == "A" && $2 == "cpu" { print $4 }' "$WORK/fb")
        bb=$(awk '$1 == "B" && $2 == "cpu" { print $4 }' "$WORK/fb")
        r=$(awk '$1 == "A/B" && $2 == "cpu" { print $4 }' "$WORK/fb")
        echo "${a:-?} ${bb:-?} ${r:-?}"
    else
        a=$(cpu_of "$@")
        # shellcheck disable=SC2086
        bb=$(cpu_of $b)
        echo "$a $bb $(awk -v a="$a" -v b="$bb" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }')"
    fi
}

cpu_of() {
    /usr/bin/time -f "%U %S" -o "$WORK/t" "$@" >/dev/null 2>&1 || true
    awk '{ printf "%.3f", $1 + $2 }' "$WORK/t"
}

row() {
    printf '%-34s %9s %9s %8s %10s %10s\n' "$@"
}

for m in $MINUTES; do
    s=$((m * 60))
    in="$WORK/music$m"
    echo "== $m minutes of 44.1 kHz stereo"
    sox -n -r 44100 -c 2 -b 16 "$in.wav" synth "$s" sine 220-880 sine 330-660 pinknoise vol 0.3 remix 1,3 2,3 \
        2>/dev/null
    lame --quiet -b 128 "$in.wav" "$in.mp3"
    ffmpeg -loglevel error -y -i "$in.wav" -c:a wmav1 -b:a 128k "$in.v1.wma"
    ffmpeg -loglevel error -y -i "$in.wav" -c:a wmav2 -b:a 128k "$in.v2.wma"
    # ffmpeg's start-up: the same work on a tenth of a second.
    sox "$in.wav" "$WORK/tiny.wav" trim 0 0.1
    ffmpeg -loglevel error -y -i "$WORK/tiny.wav" -c:a wmav2 -b:a 128k "$WORK/tiny.wma"
    out="$WORK/out"
    row "job" "ours s" "peer s" "ratio" "ours MiB" "peer MiB"

    set -- $(pair "mpg123 -q -w $out.peer.wav $in.mp3" "$TOOL" convert -q -y "$in.mp3" "$out.wav")
    row "mp3 -> wav / mpg123" "$1" "$2" "$3" "$(peak "$TOOL" convert -q -y "$in.mp3" "$out.wav")" \
        "$(peak mpg123 -q -w "$out.peer.wav" "$in.mp3")"

    set -- $(pair "sox $in.wav $out.peer.wav rate -h 16000" "$TOOL" resample -q -y "$in.wav" "$out.wav" --rate 16000)
    row "resample 16 kHz / sox rate -h" "$1" "$2" "$3" \
        "$(peak "$TOOL" resample -q -y "$in.wav" "$out.wav" --rate 16000)" \
        "$(peak sox "$in.wav" "$out.peer.wav" rate -h 16000)"
    set -- $(pair "ffmpeg -loglevel error -y -i $in.wav -ar 16000 $out.peer.wav" "$TOOL" resample -q -y "$in.wav" \
        "$out.wav" --rate 16000)
    row "resample 16 kHz / ffmpeg" "$1" "$2" "$3" "" \
        "$(peak ffmpeg -loglevel error -y -i "$in.wav" -ar 16000 "$out.peer.wav")"

    startup=$(cpu_of ffmpeg -loglevel error -y -i "$WORK/tiny.wma" "$out.peer.wav")
    for v in v1 v2; do
        set -- $(pair "ffmpeg -loglevel error -y -i $in.$v.wma $out.peer.wav" "$TOOL" convert -q -y "$in.$v.wma" \
            "$out.wav")
        net=$(awk -v b="$2" -v s="$startup" 'BEGIN { printf "%.3f", b - s }')
        ratio=$(awk -v a="$1" -v n="$net" 'BEGIN { printf "%.3f", (n > 0 ? a / n : 0) }')
        row "wma $v -> wav / ffmpeg - start-up" "$1" "$net" "$ratio" \
            "$(peak "$TOOL" convert -q -y "$in.$v.wma" "$out.wav")" \
            "$(peak ffmpeg -loglevel error -y -i "$in.$v.wma" "$out.peer.wav")"
    done
    echo "   (ffmpeg start-up, decoding 0.1 s of WMA: ${startup} s)"

    a=$(cpu_of "$TOOL" convert -q -y "$in.mp3" "$out.mdm" --rate 8000)
    row "mp3 -> mdm at 8 kHz" "$a" "" "" "$(peak "$TOOL" convert -q -y "$in.mp3" "$out.mdm" --rate 8000)" ""
    rm -f "$in".* "$out".*
    echo
done

# Many small files: the per-file cost of a job (process start, private
# folder, publishing three outputs).
PROMPTS=${PROMPTS:-/usr/share/asterisk/sounds/en_US_f_Allison}
if [ -d "$PROMPTS" ]; then
    n=$(find "$PROMPTS" -name '*.wav' | wc -l)
    best=
    i=0
    while [ $i -lt "$RUNS" ]; do
        rm -rf "$WORK/batch"
        t=$(cpu_of "$TOOL" batch -q -y -j 1 "$PROMPTS" "$WORK/batch" --to apm --bin)
        best=$(awk -v a="$t" -v b="${best:-$t}" 'BEGIN { print (a < b ? a : b) }')
        i=$((i + 1))
    done
    rm -rf "$WORK/batch"
    echo "== batch of $n prompts to apm --bin (-j 1, best of $RUNS): ${best} s CPU, peak" \
        "$(peak "$TOOL" batch -q -y -j 1 "$PROMPTS" "$WORK/batch" --to apm --bin) MiB"
fi
