#!/usr/bin/env bash
# Installs the Debian 12 packages that the Windows build needs, if any is
# missing: the mingw-w64 cross compiler (posix threads), GoogleTest's sources
# (built by the cross build), the header-only CLI11 and nlohmann-json, and Wine
# to run the Windows tests and program. Code-page names need no iconv there:
# Windows converts them itself (MultiByteToWideChar). Runs apt-get as root, or through sudo.
set -euo pipefail

packages=(
    cmake ninja-build
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    googletest
    nlohmann-json3-dev libcli11-dev
    wine64
)

. "$(dirname "$0")/install-missing.sh"
install_missing "${packages[@]}"
