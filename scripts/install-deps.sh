#!/usr/bin/env bash
# Installs the Debian 12 packages that Moravel needs to build and test, if any
# is missing (among them the desktop window's Qt 6, the screenless X server its
# tests run under, the validators of the menu entry and the metainfo, and man,
# groff and bash-completion, which check moravel-cli's manual page and bash
# completion). Runs apt-get as root, or through sudo.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    nlohmann-json3-dev libcli11-dev
    dosfstools mtools fusefat e2fsprogs
    libfuse3-dev fuse3
    libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
    ffmpeg # the tests make their recordings with it, and ffprobe is their oracle
    strace # the media test watches that a look at SDP text opens no socket
    libblkid-dev util-linux ntfs-3g exfatprogs
    clang libclang-rt-14-dev
    qt6-base-dev qt6-base-dev-tools libqt6test6
    xvfb xauth xdotool imagemagick openbox # the real window is driven under a window manager
    desktop-file-utils appstream
    man-db groff-base bash-completion
    gddrescue # bench/run-rescue.sh reads the same failing disk with ddrescue
    hyperfine # bench/run-startup.sh times the programs' start with it
    udisks2 udev systemd python3-dbusmock libsystemd-dev polkitd # disks through udisks2 over D-Bus, and its test session
)

. "$(dirname "$0")/install-missing.sh"
install_missing "${packages[@]}"
