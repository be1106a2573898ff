#!/usr/bin/env bash
# The test command: installs what is missing, builds the Windows programs and the native build,
# and runs every test (the port, the programs on the headless desktop, end to end on X servers
# natively and under Wine, short soaks), then fuzzes for a while.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=$(nproc)
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$jobs"

cmake --preset native -DTOVIX_WINDOWS_BUILD_DIR="$PWD/build/mingw" >/dev/null
cmake --build --preset native -j "$jobs"
ctest --preset native

bash fuzz/run.sh
