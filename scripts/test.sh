#!/usr/bin/env bash
# The test command: installs what is missing, builds the Windows programs and the native build,
# and runs every test (unit, headless program, end-to-end under X and Wine, soak, short fuzzing).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=$(nproc)
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$jobs"

cmake --preset native -DTOVIX_WINDOWS_BUILD_DIR="$PWD/build/mingw" >/dev/null
cmake --build --preset native -j "$jobs"
ctest --preset native

cmake --preset native-release >/dev/null
cmake --build --preset native-release -j "$jobs"
ctest --preset soak

if [[ -f fuzz/run.sh ]]; then
    bash fuzz/run.sh
fi
