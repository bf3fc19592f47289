#!/usr/bin/env bash
# Installs what is missing, builds Moravel, makes the sample recorder disk (a
# sparse image) and lists everything on it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo

sample=build/sample-recorder-disk.img
build/bin/moravel-make-sample-disk "$sample" >/dev/null
echo "Sample recorder disk: $sample"
echo
build/bin/moravel-cli --disk "$sample" list -r
