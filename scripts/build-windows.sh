#!/usr/bin/env bash
# Cross-builds the core, moravel-cli.exe and the test programs for 64-bit Windows
# with mingw-w64 into build-windows/ (or FOLDER): build-windows.sh [FOLDER [cmake options]].
# The packages come from scripts/install-windows-deps.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
folder="${1:-build-windows}"
shift || true
jobs="${JOBS:-$(nproc)}"
cmake -S . -B "$folder" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$folder" -j "$jobs"
