#!/usr/bin/env bash
# The run command: bash scripts/run.sh tovixtiles|tovixquads [--wine]
# Installs what is missing, builds, and runs the program: on $DISPLAY until you quit it, or, with no
# display, on a virtual 1024x768 X display for a few seconds, saving a screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

program=${1:-}
mode=${2:-native}
case "$program" in
tovixtiles | tovixquads) ;;
*)
    echo "usage: bash scripts/run.sh tovixtiles|tovixquads [--wine]" >&2
    exit 2
    ;;
esac
case "$mode" in
native | --native) mode=native ;;
--wine) mode=wine ;;
*)
    echo "run.sh: unknown option $mode (use --wine for the Windows build under Wine)" >&2
    exit 2
    ;;
esac
folder=${program#tovix}

bash scripts/setup.sh
jobs=$(nproc)
if [[ $mode == native ]]; then
    cmake --preset native-release >/dev/null
    cmake --build --preset native-release -j "$jobs" --target "$program"
    command=("$root/build/native-release/$folder/$program")
else
    cmake --preset mingw >/dev/null
    cmake --build --preset mingw -j "$jobs" --target "$program"
    export WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    # Debian's wine64 package keeps its loader and server out of PATH.
    wine=/usr/lib/wine/wine64
    wineserver=/usr/lib/wine/wineserver64
    command=("$wine" "$root/build/mingw/$folder/$program.exe")
fi

xvfb_pid=""
cleanup() {
    if [[ $mode == wine ]]; then
        "$wineserver" -k 2>/dev/null || true
    fi
    if [[ -n $xvfb_pid ]]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT

if [[ -z ${DISPLAY:-} ]]; then
    # No display: a virtual one of our own; Xvfb picks a free display number and tells it.
    numberfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$numberfile" >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 200); do
        [[ -s $numberfile ]] && break
        sleep 0.05
    done
    number=$(tr -dc '0-9' <"$numberfile")
    rm -f "$numberfile"
    if [[ -z $number ]]; then
        echo "run.sh: the virtual X display did not start" >&2
        exit 1
    fi
    export DISPLAY=":$number"
    headless=1
else
    headless=0
fi

if [[ $mode == wine && ! -f $WINEPREFIX/system.reg ]]; then
    echo "run.sh: creating the Wine prefix (once, about 20 seconds)"
    "$wine" wineboot --init >/dev/null 2>&1 || true
    "$wineserver" -w
fi

if [[ $headless == 0 ]]; then
    status=0
    "${command[@]}" || status=$?
    echo "$program exited with code $status"
    exit 0
fi

shots="$root/build/screenshots"
mkdir -p "$shots"
shot="$shots/$program-$mode.png"
"${command[@]}" &
pid=$!
# Wine's first start in a new prefix takes a while; wait for the program's window to show.
for _ in $(seq 300); do
    if xwininfo -root -children 2>/dev/null | grep -q '"Tovix"'; then break; fi
    if ! kill -0 "$pid" 2>/dev/null; then break; fi
    sleep 0.1
done
sleep 3
import -window root "$shot"
xdotool key Escape
status=0
for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
    echo "run.sh: $program did not end on a key press; stopping it" >&2
    kill "$pid" 2>/dev/null || true
fi
wait "$pid" || status=$?
echo "screenshot: $shot"
echo "exit code: $status"
