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

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
