#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer, ASan, UBSan) and runs each fuzz target for a bounded
# time, growing a working corpus under build/fuzz/corpus/<target> from the committed seeds in
# fuzz/corpus/<target>. Crashing inputs land in build/fuzz/artifacts/; the exit status is non-zero
# if any target crashed.
#
#   fuzz/run.sh [SECONDS] [TARGET...]     SECONDS per target (default 20); all targets by default
#
# Replay a crash:  build/fuzz/fuzz/TARGET build/fuzz/artifacts/TARGET-crash-...
# (FUZZ_VERBOSE=1 prints the layout or the messages the input makes.)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-20}
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then
    targets=(fuzz_quit_rules fuzz_layouts fuzz_quads_layouts)
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

build=build/fuzz
mkdir -p "$build/artifacts"
failed=()
for target in "${targets[@]}"; do
    corpus="$build/corpus/$target"
    mkdir -p "$corpus"
    echo "== $target: ${seconds}s"
    # New inputs go to the first directory; the committed seeds are only read.
    if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=60 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$target-" "$corpus" "fuzz/corpus/$target"; then
        failed+=("$target")
    fi
done

if ((${#failed[@]} > 0)); then
    echo "fuzz: crashes in ${failed[*]}; inputs in $build/artifacts/" >&2
    exit 1
fi
