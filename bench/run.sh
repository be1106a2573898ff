#!/usr/bin/env bash
# The benchmark command: bash bench/run.sh [latency|politeness]
# Builds the optimised native build and the Windows programs, measures everything in one run and
# prints one table of rates and ratios, then the targets met or missed. Writes the table to
# build/bench/table.txt and a plot of frame time against virtual-screen area to
# build/bench/frame-time.png. Absolute numbers vary between machines; the ratios, measured side
# by side, are what to compare. Run it on an otherwise quiet machine: the programs draw at idle
# priority, so anything else running takes their time. With "latency", only the times from an
# ending input to the program's end and from its start to the cover (build/bench/latency.txt;
# TOVIX_BENCH_EXIT_TRIES tries per exit row, 100); with "politeness", only what a busy job keeps
# beside the programs (build/bench/politeness.txt).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out="$root/build/bench"
work="$out/work"
mkdir -p "$out"
rm -rf "$work"
mkdir -p "$work"

bash scripts/setup.sh
jobs=$(nproc)
cmake --preset native-release >/dev/null
cmake --build --preset native-release -j "$jobs" --target tovixtiles tovixquads inject burner focus_probe \
    tovix_judge tovix_virtual_pointer >/dev/null
bin="$root/build/native-release"
export TOVIX_TILES="$bin/tiles/tovixtiles" TOVIX_QUADS="$bin/quads/tovixquads" TOVIX_INJECT="$bin/bench/inject"
export TOVIX_POINTER="$bin/tests/e2e/tovix_virtual_pointer" TOVIX_BURNER="$bin/bench/burner"
export TOVIX_FOCUS_PROBE="$bin/bench/focus_probe"

# From the ending input to the program's end, and from its start to the cover, as distributions per
# program, presenter and who runs it, under full load and idle.
latencies() {
    python3 bench/latency.py --tries "${TOVIX_BENCH_EXIT_TRIES:-100}" "$work/latency"
    echo "(exit: from the input's request leaving a client connected beforehand, or SIGTERM, until the program is"
    echo " reaped; cover: from its start until a pixel amid every monitor shows it; user: an ordinary user with"
    echo " a desktop's default limits, the program in a session of its own, the load in another; root: in the"
    echo " load's session; wayland: a headless sway; server: the display server's part, until it has answered the"
    echo " next request; load: a CPU-bound process at normal priority on every core; after a row, each try over"
    echo " 50 ms with the ms the hypervisor gave to other machines meanwhile: host)"
}
# What a CPU-bound job on every core keeps beside each program, in the program's session and in another.
politeness() {
    python3 bench/politeness.py "$@" tiles quads "$work/politeness"
    echo "(job keeps: what a CPU-bound job on every core gets done beside the program, against alone, in the"
    echo " program's session (same) or in another (other); user: an ordinary user with a desktop's default limits)"
}
if [[ ${1:-} == latency ]]; then
    { latencies; echo; echo "Targets"; cat "$work/latency/targets.txt"; } | tee "$out/latency.txt"
    exit 0
fi
if [[ ${1:-} == politeness ]]; then
    { politeness --displays x11,daemon,wayland; echo; echo "Targets"; cat "$work/politeness/targets.txt"; } |
        tee "$out/politeness.txt"
    exit 0
fi
[[ -z ${1:-} ]] || { echo "usage: bash bench/run.sh [latency|politeness]" >&2; exit 2; }

cmake --build --preset native-release -j "$jobs" --target tiles_headless_rate quads_headless_rate copy_limit \
    tiles_program_test quads_program_test >/dev/null
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$jobs" >/dev/null
seconds=${TOVIX_BENCH_SECONDS:-3}

export TOVIX_JUDGE="$bin/tests/e2e/tovix_judge"
export TOVIX_TILES_EXE="$root/build/mingw/tiles/tovixtiles.exe" TOVIX_QUADS_EXE="$root/build/mingw/quads/tovixquads.exe"
export TOVIX_WINE64=/usr/lib/wine/wine64 TOVIX_WINESERVER=/usr/lib/wine/wineserver64
export TOVIX_WINEPREFIX="$root/build/wineprefix"
if [[ ! -f $TOVIX_WINEPREFIX/system.reg ]]; then
    WINEPREFIX=$TOVIX_WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= \
        "$TOVIX_WINE64" wineboot --init >/dev/null 2>&1
    WINEPREFIX=$TOVIX_WINEPREFIX "$TOVIX_WINESERVER" -w
fi

json_field() { # JSON FIELD
    sed -E "s/.*\"$2\":\"?([^,\"}]*).*/\1/" <<<"$1"
}
calc() { awk "BEGIN { printf \"$1\", $2 }"; }
# A numeric field of a JSON line, 0 when the run failed.
number() { # JSON FIELD
    local v
    v=$(json_field "$1" "$2")
    [[ $v =~ ^-?[0-9.]+$ ]] && echo "$v" || echo 0
}

layouts=(1024x768 1920x1080 3840x2160 two)
size_of() { # LAYOUT -> "W H" of the virtual screen
    case $1 in
    two) echo "1824 768" ;;
    *) echo "${1%x*} ${1#*x}" ;;
    esac
}

# The limit beside the rates: one memcpy of a virtual-screen-sized bitmap.
limits=$("$bin/bench/copy_limit" --benchmark_format=csv 2>/dev/null | grep CopyWholeBitmap)
copy_ms() { # W H
    awk -F, -v n="\"CopyWholeBitmap/$1/$2\"" '$1 == n { printf "%.4f", $3 / 1e6 }' <<<"$limits"
}

# Each rate is the better of two runs: other work on the machine only ever slows a run down. How far
# the two runs lie apart says how much noise the machine adds.
spread=0
keep() { # KEY RATE: keeps the better of the runs of a rate
    spread=$(awk -v a="${rate[$1]:-0}" -v b="$2" -v s="$spread" \
        'BEGIN { d = (a > 0 && b > 0) ? (a > b ? a / b : b / a) - 1 : 0; printf "%.3f", (d > s ? d : s) }')
    rate[$1]=$(awk -v a="${rate[$1]:-0}" -v b="$2" 'BEGIN { printf "%.0f", (a > b ? a : b) }')
}
declare -A rate rss private mesa
for attempt in 1 2; do
    for layout in "${layouts[@]}"; do
        line=$("$bin/bench/quads_headless_rate" quads "$layout" 30000)
        keep "quads,headless,$layout" "$(calc %.0f "$(json_field "$line" copies) / $(json_field "$line" seconds)")"
        line=$("$bin/bench/tiles_headless_rate" tiles "$layout" 4000000)
        keep "tiles,headless,$layout" "$(calc %.0f "$(json_field "$line" retrievals) * $(json_field "$line" monitors) / $(json_field "$line" seconds)")"
        for program in tiles quads; do
            # wayland: the native program on a headless sway with outputs of the same sizes.
            for runner in native wine wayland; do
                if [[ $runner != wine ]]; then exe="$bin/$program/tovix$program"; else exe="$root/build/mingw/$program/tovix$program.exe"; fi
                line=$(python3 bench/screen_rate.py "$runner" "$exe" "$layout" "$seconds" "$work/$program-$runner-$layout") ||
                    echo "screen_rate $runner $program $layout: ${line:-failed} (see $work)" >&2
                keep "$program,$runner,$layout" "$(number "$line" rate)"
                if [[ $layout == 1920x1080 && $attempt == 1 ]]; then
                    rss[$program,$runner]=$(calc %.1f "$(number "$line" peak_rss_kib) / 1024")
                    private[$program,$runner]=$(calc %.1f "$(number "$line" private_kib) / 1024")
                    mesa[$program,$runner]=$( (($(number "$line" mesa))) && echo yes || echo no)
                fi
            done
        done
    done
done

# The long soaks, in the optimised build: a million paints, and 160,000 frames after 80,000 of warm-up.
soak() { # PROGRAM RETRIEVALS
    TOVIX_SOAK_RETRIEVALS=$2 "$bin/tests/program/$1_program_test" --gtest_filter='*Soak*' 2>&1 |
        sed -nE 's/^([0-9]+) retrievals: resident ([0-9]+) -> ([0-9]+) KiB.*/\1 \2 \3/p'
}
read -r soak_tiles_n soak_tiles_from soak_tiles_to < <(soak tiles 1000000)
read -r soak_quads_n soak_quads_from soak_quads_to < <(soak quads 240000)
latency=$(latencies)
polite=$(politeness)

{
    echo "Machine: $(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo), $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo); $(date -u +%Y-%m-%d)"
    echo
    printf '%-22s %10s %10s %10s %9s %11s %9s %9s %9s\n' "tovixquads frames/s" headless "on X" Wine "X/hdless" native/Wine "frame ms" "copy ms" "frm/copy"
    for layout in "${layouts[@]}"; do
        read -r w h < <(size_of "$layout")
        hl=${rate[quads,headless,$layout]} x=${rate[quads,native,$layout]} wn=${rate[quads,wine,$layout]}
        printf '%-22s %10s %10s %10s %9s %11s %9s %9s %9s\n' "$layout" "$hl" "$x" "$wn" \
            "$(calc %.2f "$x / $hl")" "$(calc %.0fx "$x / ($wn > 0 ? $wn : 1)")" "$(calc %.4f "1000 / $hl")" \
            "$(copy_ms "$w" "$h")" "$(calc %.2f "1000 / $hl / $(copy_ms "$w" "$h")")"
    done
    echo
    printf '%-22s %10s %10s %10s %9s %11s\n' "tovixtiles tiles/s" headless "on X" Wine "X/hdless" native/Wine
    for layout in "${layouts[@]}"; do
        hl=${rate[tiles,headless,$layout]} x=${rate[tiles,native,$layout]} wn=${rate[tiles,wine,$layout]}
        printf '%-22s %10s %10s %10s %9s %11s\n' "$layout" "$hl" "$x" "$wn" "$(calc %.2f "$x / $hl")" \
            "$(calc %.0fx "$x / ($wn > 0 ? $wn : 1)")"
    done
    echo
    printf '%-22s %10s %10s %9s %10s %10s %9s\n' "on sway (Wayland)" "tiles/s" "hdless" "sway/hdl" "frames/s" \
        "hdless" "sway/hdl"
    for layout in "${layouts[@]}"; do
        t=${rate[tiles,wayland,$layout]} th=${rate[tiles,headless,$layout]}
        q=${rate[quads,wayland,$layout]} qh=${rate[quads,headless,$layout]}
        printf '%-22s %10s %10s %9s %10s %10s %9s\n' "$layout" "$t" "$th" "$(calc %.2f "$t / $th")" "$q" "$qh" \
            "$(calc %.2f "$q / $qh")"
    done
    echo
    printf '%-22s %10s %10s %6s\n' "at 1920x1080" "peak MiB" "private MiB" Mesa
    for program in tiles quads; do
        for runner in native wine wayland; do
            printf '%-22s %10s %10s %6s\n' "tovix$program $runner" "${rss[$program,$runner]}" \
                "${private[$program,$runner]}" "${mesa[$program,$runner]}"
        done
    done
    echo "(native and wine on X, wayland on sway; peak MiB: peak resident memory, shared libraries included;"
    echo " private MiB: anonymous memory; Mesa: whether any of Mesa's libraries is mapped)"
    echo
    echo "$polite"
    echo
    echo "$latency"
    echo
    echo "Run to run: the two runs of a rate differ by up to $(calc %.0f "$spread * 100")%."
    echo "Soak, headless: tovixtiles ${soak_tiles_n} paints, resident ${soak_tiles_from} -> ${soak_tiles_to} KiB after the first third;"
    echo "                tovixquads ${soak_quads_n} retrievals, resident ${soak_quads_from} -> ${soak_quads_to} KiB after the first third."
    echo
    echo "Targets"
    verdict() { # LABEL VALUE CONDITION
        if awk "BEGIN { exit !($3) }"; then r=met; else r=MISSED; fi
        printf '  %-58s %12s  %s\n' "$1" "$2" "$r"
    }
    q1080=${rate[quads,headless,1920x1080]} q4k=${rate[quads,headless,3840x2160]}
    verdict "tovixquads 1920x1080 headless >= 5000 frames/s" "$q1080" "$q1080 >= 5000"
    verdict "frame time 3840x2160 <= 1.5x 1920x1080" "$(calc %.2fx "$q1080 / $q4k")" "$q1080 / $q4k <= 1.5"
    verdict "tovixtiles 1024x768 headless >= 300000 tiles/s" "${rate[tiles,headless,1024x768]}" "${rate[tiles,headless,1024x768]} >= 300000"
    worst_x=1 worst_w=1000000
    for layout in "${layouts[@]}"; do
        for program in tiles quads; do
            worst_x=$(calc %.3f "${rate[$program,native,$layout]} / ${rate[$program,headless,$layout]} < $worst_x ? ${rate[$program,native,$layout]} / ${rate[$program,headless,$layout]} : $worst_x")
            wn=${rate[$program,wine,$layout]}
            worst_w=$(calc %.1f "${rate[$program,native,$layout]} / ($wn > 0 ? $wn : 1) < $worst_w ? ${rate[$program,native,$layout]} / ($wn > 0 ? $wn : 1) : $worst_w")
        done
    done
    verdict "on X >= 0.8x headless (worst case)" "$worst_x" "$worst_x >= 0.8"
    worst_wl=1
    for layout in "${layouts[@]}"; do
        for program in tiles quads; do
            worst_wl=$(calc %.3f "${rate[$program,wayland,$layout]} / ${rate[$program,headless,$layout]} < $worst_wl ? ${rate[$program,wayland,$layout]} / ${rate[$program,headless,$layout]} : $worst_wl")
        done
    done
    verdict "on sway >= 0.8x headless (worst case)" "$worst_wl" "$worst_wl >= 0.8"
    verdict "native >= 10x Wine on the same X server (worst case)" "${worst_w}x" "$worst_w >= 10"
    cat "$work/politeness/targets.txt" "$work/latency/targets.txt"
    bitmap=$(calc %.2f "1920 * 1080 * 4 / 1048576")
    budget=$(calc %.1f "2 * $bitmap + 20")
    verdict "peak memory <= 2 x framebuffer + 20 = $budget MiB, tovixtiles" "${rss[tiles,native]} MiB" "${rss[tiles,native]} <= $budget"
    verdict "nothing of Mesa mapped, tovixtiles" "${mesa[tiles,native]}" "\"${mesa[tiles,native]}\" == \"no\""
    verdict "peak memory <= 100 MiB, tovixquads" "${rss[quads,native]} MiB" "${rss[quads,native]} <= 100"
    budget=$(calc %.1f "3 * $bitmap + 10")
    verdict "private memory <= 3 x bitmap + 10 = $budget MiB, tovixquads" "${private[quads,native]} MiB" "${private[quads,native]} <= $budget"
    for program in tiles quads; do
        n=soak_${program}_n from=soak_${program}_from to=soak_${program}_to
        verdict "soak: resident growth <= 1 MiB, tovix$program" "$((${!to:-0} - ${!from:-0})) KiB" "${!n:-0} > 0 && ${!to:-0} - ${!from:-0} <= 1024"
    done
} | tee "$out/table.txt"

# Frame time against virtual-screen area, per variant.
: >"$out/frame-time.dat"
for layout in 1024x768 two 1920x1080 3840x2160; do
    read -r w h < <(size_of "$layout")
    echo "$(calc %.3f "$w * $h / 1e6") $(calc %.5f "1000 / ${rate[quads,headless,$layout]}") $(calc %.5f "1000 / ${rate[quads,native,$layout]}") $(calc %.5f "1000 / (${rate[quads,wine,$layout]} > 0 ? ${rate[quads,wine,$layout]} : 1)") $(copy_ms "$w" "$h")" >>"$out/frame-time.dat"
done
gnuplot <<PLOT
set terminal pngcairo size 800,500
set output "$out/frame-time.png"
set title "tovixquads: time per frame against virtual-screen area"
set xlabel "virtual-screen area (megapixels)"
set ylabel "milliseconds per frame"
set logscale y
set key left top
plot "$out/frame-time.dat" using 1:2 with linespoints title "native, headless desktop", \
     "$out/frame-time.dat" using 1:3 with linespoints title "native, presenting to Xvfb", \
     "$out/frame-time.dat" using 1:4 with linespoints title "tovixquads.exe under Wine, Xvfb", \
     "$out/frame-time.dat" using 1:5 with linespoints dashtype 2 title "one whole-bitmap memcpy"
PLOT
echo "table: $out/table.txt   plot: $out/frame-time.png"
