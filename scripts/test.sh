#!/usr/bin/env bash
# The test command: installs what is missing, builds the Windows programs and the native build,
# and runs every test (the port, the programs on the headless desktop, end to end on X servers
# natively, under Wine and under screen-saver daemons, the packages, short soaks), then fuzzes.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=$(nproc)
# The packages the tests look into: the Windows ZIP and the .deb of the optimised build.
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$jobs"
(cd build/mingw && cpack -G ZIP >/dev/null)
cmake --preset native-release >/dev/null
cmake --build --preset native-release -j "$jobs" --target tovixtiles tovixquads tovix-idle packaged_docs
(cd build/native-release && cpack -G DEB >/dev/null)

cmake --preset native -DTOVIX_WINDOWS_BUILD_DIR="$PWD/build/mingw" -DTOVIX_RELEASE_BUILD_DIR="$PWD/build/native-release" >/dev/null
cmake --build --preset native -j "$jobs"
ctest --preset native

bash fuzz/run.sh
