#!/usr/bin/env bash
# Installs what is missing, builds Moravel twice (a normal build and one with
# AddressSanitizer + UndefinedBehaviorSanitizer, in separate folders) and runs
# the whole test suite on each, then gives every fuzz target a short run
# (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

echo "== normal build"
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build --output-on-failure -j "$(nproc)"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DMORAVEL_SANITIZE=ON
ctest --test-dir build-asan --output-on-failure -j "$(nproc)"

echo "== fuzz targets, short pass"
scripts/fuzz.sh
