#!/usr/bin/env bash
# The first run: installs what is missing, builds Moravel and makes the sample
# recorder disk (a sparse image). With a display (DISPLAY or WAYLAND_DISPLAY) and
# the desktop window built, it opens the window on the sample disk. Without one it
# shows the command line instead: it lists everything on the disk, copies the
# sample's 5 GB recording in parts into build/sample-copy/, shows the parts and
# removes them again.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo

sample=build/sample-recorder-disk.img
build/bin/moravel-make-sample-disk "$sample" >/dev/null
echo "Sample recorder disk: $sample"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/bin/moravel ]; then
    echo "Opening the desktop window on it."
    exec build/bin/moravel --disk "$sample"
fi

echo
if [ ! -x build/bin/moravel ]; then
    echo "The desktop window was not built (it needs Qt 6 Widgets), so here is the command line instead."
else
    echo "There is no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so here is the command line instead of the desktop window."
fi

cli=build/bin/moravel-cli
echo
echo "\$ $cli --disk $sample list -r"
"$cli" --disk "$sample" list -r

# The sample's long recording: 5,000,000,000 bytes, more than a FAT32 file can hold.
recording="Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS/Film Night 2004-05-15.ts"
copies=build/sample-copy
echo
free_kib=$(df -Pk build | awk 'NR == 2 { print $4 }')
if [ "$free_kib" -lt $((5200 * 1024)) ]; then
    echo "Copying the 5 GB recording needs about 5 GB free beside build/; there is $((free_kib / 1024)) MB, so the copy is left out."
else
    rm -rf "$copies"
    mkdir -p "$copies"
    trap 'rm -rf "$copies"' EXIT
    echo "\$ $cli --disk $sample copy --split always \"$recording\" $copies/"
    "$cli" --disk "$sample" copy --split always "$recording" "$copies/"
    echo
    echo "The recording in parts (whole clusters, at most 4 GiB - 2 bytes each):"
    ls -l "$copies"
    rm -rf "$copies"
    trap - EXIT
    echo "The parts were removed again, to free the 5 GB."
fi

echo
if [ -x build/bin/moravel ]; then
    echo "To open the desktop window on the sample disk, on a machine with a display:"
    echo "    build/bin/moravel --disk $sample"
    echo "or under a virtual X server without a screen: xvfb-run build/bin/moravel --disk $sample"
else
    echo "The desktop window is built once Qt 6 Widgets is installed (qt6-base-dev); then, with a display:"
    echo "    build/bin/moravel --disk $sample"
fi
