#!/usr/bin/env bash
# Installs what is missing and builds Moravel.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "Built into build/bin."
