#!/usr/bin/env bash
# The benchmark command: bash bench/run.sh
# Builds the optimised native build and the Windows programs, measures in one run, prints one table
# of rates and ratios, and writes build/bench/frame-time.png. Absolute numbers vary between
# machines; the ratios, measured side by side, are what to compare.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out="$root/build/bench"
mkdir -p "$out"

bash scripts/setup.sh
jobs=$(nproc)
cmake --preset native-release >/dev/null
cmake --build --preset native-release -j "$jobs" >/dev/null
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$jobs" >/dev/null
bin="$root/build/native-release"
export LP_NUM_THREADS=0

xvfb_pid=""
cleanup() {
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    /usr/lib/wine/wineserver64 -k 2>/dev/null || true
}
trap cleanup EXIT

start_xvfb() { # WIDTHxHEIGHT
    cleanup
    local numberfile
    numberfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp 3>"$numberfile" >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 200); do [[ -s $numberfile ]] && break; sleep 0.05; done
    export DISPLAY=":$(tr -dc '0-9' <"$numberfile")"
    rm -f "$numberfile"
}

json_field() { # JSON FIELD
    sed -E "s/.*\"$2\":\"?([^,\"}]*).*/\1/" <<<"$1"
}

# 1. Rates on the headless desktop, and the memory-copy limit beside them.
limits=$("$bin/bench/copy_limit" --benchmark_format=csv 2>/dev/null | grep CopyWholeBitmap)
copy_ms() { # W H
    awk -F, -v n="\"CopyWholeBitmap/$1/$2\"" '$1 == n { printf "%.4f", $3 / 1e6 }' <<<"$limits"
}

printf '%-34s %12s %12s %12s\n' "headless desktop" "rate/s" "ms each" "copy ms" >"$out/table.txt"
: >"$out/frame-time.dat"
for layout in 1024x768 1920x1080 3840x2160 two; do
    case $layout in
    two) w=1824 h=768 ;;
    *) w=${layout%x*} h=${layout#*x} ;;
    esac
    line=$("$bin/bench/quads_headless_rate" quads "$layout" 4000)
    frames=$(json_field "$line" copies)
    seconds=$(json_field "$line" seconds)
    fps=$(awk -v f="$frames" -v s="$seconds" 'BEGIN { printf "%.0f", f / s }')
    ms=$(awk -v f="$frames" -v s="$seconds" 'BEGIN { printf "%.4f", s * 1000 / f }')
    printf '%-34s %12s %12s %12s\n' "tovixquads frames, $layout" "$fps" "$ms" "$(copy_ms $w $h)" >>"$out/table.txt"
    echo "$((w * h)) $ms $(copy_ms $w $h)" >>"$out/frame-time.dat"

    line=$("$bin/bench/tiles_headless_rate" tiles "$layout" 300000)
    paints=$(json_field "$line" retrievals)
    monitors=$(json_field "$line" monitors)
    seconds=$(json_field "$line" seconds)
    tps=$(awk -v p="$paints" -v m="$monitors" -v s="$seconds" 'BEGIN { printf "%.0f", p * m / s }')
    printf '%-34s %12s %12s %12s\n' "tovixtiles tiles, $layout" "$tps" "-" "-" >>"$out/table.txt"
done

# 2. Politeness: what a CPU-bound job on every core keeps beside each program, and the time from
#    a key press to the program's exit while that job runs.
start_xvfb 1920x1080
alone=$("$bin/bench/burner" 4)
printf '\n%-34s %12s %12s %12s\n' "beside a CPU-bound job" "job keeps" "exit ms" "peak RSS MB" >>"$out/table.txt"
for variant in native wine; do
    for program in tovixtiles tovixquads; do
        folder=${program#tovix}
        if [[ $variant == native ]]; then
            command=("$bin/$folder/$program")
        else
            export WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
            [[ -f $WINEPREFIX/system.reg ]] || { /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1; /usr/lib/wine/wineserver64 -w; }
            command=(/usr/lib/wine/wine64 "$root/build/mingw/$folder/$program.exe")
        fi
        "${command[@]}" >/dev/null 2>&1 &
        pid=$!
        sleep 3
        beside=$("$bin/bench/burner" 4)
        "$bin/bench/burner" 3 >/dev/null &
        burner=$!
        sleep 0.5
        xdotool key a
        t0=$(date +%s%N)
        if [[ $variant == native ]]; then
            rss=$(awk '/VmHWM/ { printf "%.0f", $2 / 1024 }' "/proc/$pid/status" 2>/dev/null || echo "?")
            wait "$pid" || true
        else
            rss="-"
            wait "$pid" || true
        fi
        t1=$(date +%s%N)
        wait "$burner"
        keeps=$(awk -v a="$alone" -v b="$beside" 'BEGIN { printf "%.1f%%", 100 * b / a }')
        printf '%-34s %12s %12s %12s\n' "$program ($variant, 1920x1080)" "$keeps" "$(((t1 - t0) / 1000000))" "$rss" >>"$out/table.txt"
    done
done
cleanup

# 3. The plot: frame time against virtual-screen area.
if command -v gnuplot >/dev/null; then
    gnuplot <<PLOT
set terminal pngcairo size 800,500
set output "$out/frame-time.png"
set title "tovixquads on the headless desktop"
set xlabel "virtual-screen area (megapixels)"
set ylabel "milliseconds"
set key left top
plot "$out/frame-time.dat" using (\$1/1e6):2 with linespoints title "frame time", \
     "$out/frame-time.dat" using (\$1/1e6):3 with linespoints title "one full-bitmap memcpy"
PLOT
fi

echo "Machine: $(nproc) cores, $(awk '/model name/ { \$1=\$2=\$3=""; print; exit }' /proc/cpuinfo | sed 's/^ *//')"
cat "$out/table.txt"
echo "plot: $out/frame-time.png"
