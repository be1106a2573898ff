#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer, ASan, UBSan) and runs the fuzz target for a while,
# growing a working corpus under build/fuzz/corpus. A failing input lands in build/fuzz/ and
# makes the exit status non-zero; replay it with build/fuzz/fuzz/fuzz_tiles FILE.
#
#   fuzz/run.sh [SECONDS]     (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" >/dev/null
mkdir -p build/fuzz/corpus
build/fuzz/fuzz/fuzz_tiles -max_total_time="${1:-20}" -timeout=30 -max_len=40 -len_control=0 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/ build/fuzz/corpus
