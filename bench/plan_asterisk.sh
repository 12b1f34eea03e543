#!/usr/bin/env bash
# The ROM planner on a set of real prompts (by default the Debian
# asterisk-core-sounds-en-wav prompts, 8 kHz; scripts/deps.sh test installs
# them) against the best single choice for every prompt, at several budgets:
# the worst prompt's segmental SNR of each, the image bytes, the first plan's
# time (an empty cache) and a re-plan's time (from the cache).
#
#   bench/plan_asterisk.sh [BUILD_DIR] [PROMPT_DIR] [COUNT]
#
# COUNT takes only the first COUNT prompts (in name order) for a quicker run;
# the budgets are then scaled by the share of the set's WAV bytes they hold.
# The tool runs from a private copy of the build (bin/ and lib/), so that a
# rebuild meanwhile does not swap its libraries under it.
# Times are wall clock and CPU (user + system) of the whole tool; on a shared
# machine the CPU figure is the one to compare.
set -euo pipefail

build=${1:-build}
prompts=${2:-/usr/share/asterisk/sounds/en_US_f_Allison}
count=${3:-0}
budgets=(2M 3M 4M)
tool="$build/bin/cadenzor"
[ -x "$tool" ] || { echo "no $tool: build cadenzor_cli first" >&2; exit 1; }
[ -d "$prompts" ] || { echo "no $prompts: run scripts/deps.sh test (asterisk-core-sounds-en-wav)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tool/bin" "$work/tool/lib"
cp "$build/bin/cadenzor" "$work/tool/bin/"
cp -a "$build"/lib/*.so* "$work/tool/lib/"
tool="$work/tool/bin/cadenzor"
mapfile -t files < <(find "$prompts" -name '*.wav' | LC_ALL=C sort)
all=$(cat "${files[@]}" | wc -c)
if [ "$count" -gt 0 ]; then files=("${files[@]:0:$count}"); fi
part=$(cat "${files[@]}" | wc -c)
echo "prompts: ${#files[@]} from $prompts ($part of $all bytes of WAV)"
if [ "$part" -ne "$all" ]; then
    scaled=()
    for b in "${budgets[@]}"; do scaled+=($(( ${b%M} * 1048576 * part / all ))); done
    echo "budgets scaled to the subset: ${budgets[*]} -> ${scaled[*]} bytes"
    budgets=("${scaled[@]}")
fi

# run NAME ARGS...: the plan as JSON in $work/NAME.json, times in $work/NAME.time
run() {
    local name=$1
    shift
    /usr/bin/time -f '%e %U %S' -o "$work/$name.time" \
        "$tool" plan -q --json --cache "$work/cache" "${files[@]}" "$@" >"$work/$name.json" || true
}

field() { python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); v=d
for k in sys.argv[2].split("."): v=v.get(k) if isinstance(v,dict) else None
print(v if v is not None else "-")' "$1" "$2"; }

times() { awk '{printf "%.1f s wall, %.1f s CPU", $1, $2 + $3}' "$work/$1.time"; }

run first --budget "${budgets[0]}"
echo "first plan (every coding, empty cache): $(times first); $(field "$work/first.json" coded) codings"
for b in "${budgets[@]}"; do run "re-$b" --budget "$b"; done
echo "re-plan from the cache at ${budgets[0]}: $(times "re-${budgets[0]}")"
echo
echo "| budget | plan: worst seg. SNR dB | plan: mean dB | plan: image bytes | single choice | single: worst dB | single: image bytes | worst gain dB |"
echo "|---|---|---|---|---|---|---|---|"
for b in "${budgets[@]}"; do
    j="$work/re-$b.json"
    python3 - "$j" "$b" <<'EOF'
import json, sys
d = json.load(open(sys.argv[1]))
b = sys.argv[2]
if not d.get("fits"):
    print(f"| {b} | nothing fits (smallest {d.get('smallest_image_bytes')}) | | | | | | |")
    sys.exit()
s = d.get("single_choice")
if s:
    gain = d["worst_segmental_snr_db"] - s["worst_segmental_snr_db"]
    print(f"| {b} | {d['worst_segmental_snr_db']:.2f} | {d['mean_segmental_snr_db']:.2f} | {d['image_bytes']} | "
          f"{s['choice']} | {s['worst_segmental_snr_db']:.2f} | {s['image_bytes']} | {gain:+.2f} |")
else:
    print(f"| {b} | {d['worst_segmental_snr_db']:.2f} | {d['mean_segmental_snr_db']:.2f} | {d['image_bytes']} | "
          f"none fits | | | |")
EOF
done
