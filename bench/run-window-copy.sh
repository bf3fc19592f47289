#!/bin/sh
# Makes the copy image (a 2 GB recording, no holes, as run-copy.sh makes it),
# measures Copy File in the desktop window beside moravel-cli's copy of the same
# recording into a tmpfs, then deletes the image and every output.
#
# usage: bench/run-window-copy.sh [-b FOLDER] [-d FOLDER] [-o FOLDER] [-r RUNS] [-s BYTES]
#   -b  the build's bin folder with moravel-bench-copy, moravel-bench-window-copy
#       and moravel-cli (default: build/bin beside this folder, else the first
#       other build*/bin that has moravel-bench-window-copy)
#   -d  the folder to work in: a new folder is made in it for the image, and
#       removed at the end (default: ${TMPDIR:-/tmp})
#   -o  the folder the copies are written to (default: /dev/shm, a tmpfs)
#   -r  rounds counted, after a check round that compares the outputs (default 5)
#   -s  the recording's size in bytes (default 2000000000)
# Exit status: that of "measure" (0 target holds, 3 it does not, 1 error).
set -eu

here=$(cd "$(dirname "$0")" && pwd)
bin=""
parent=${TMPDIR:-/tmp}
runs=5
size=2000000000
out=/dev/shm

while getopts b:d:o:r:s: option; do
    case $option in
        b) bin=$OPTARG ;;
        d) parent=$OPTARG ;;
        o) out=$OPTARG ;;
        r) runs=$OPTARG ;;
        s) size=$OPTARG ;;
        *) sed -n '6,16p' "$0" >&2; exit 2 ;;
    esac
done

if [ -z "$bin" ]; then
    for candidate in "$here"/../build/bin "$here"/../build*/bin; do
        if [ -x "$candidate/moravel-bench-window-copy" ]; then
            bin=$candidate
            break
        fi
    done
fi
for program in moravel-bench-copy moravel-bench-window-copy moravel-cli; do
    if [ -z "$bin" ] || [ ! -x "$bin/$program" ]; then
        echo "run-window-copy.sh: $program not found; build it (the window's needs Qt 6) or pass -b FOLDER" >&2
        exit 1
    fi
done
command -v cmp >/dev/null 2>&1 || { echo "run-window-copy.sh: cmp not found" >&2; exit 1; }

case $size in
    ''|*[!0-9]*) echo "run-window-copy.sh: -s wants a number of bytes" >&2; exit 2 ;;
esac
check_free() {  # FOLDER KIB
    free_kib=$(df -Pk "$1" | awk 'NR == 2 { print $4 }')
    if [ "$free_kib" -lt "$2" ]; then
        echo "run-window-copy.sh: $1 has $((free_kib / 1024)) MiB free; this needs $(($2 / 1024)) MiB" >&2
        exit 1
    fi
}
check_free "$parent" $(( (size + 256 * 1024 * 1024) / 1024 ))
check_free "$out" $(( size * 2 / 1024 + 1024 ))

folder=$(mktemp -d "$parent/moravel-window-copy-XXXXXX")
image=$folder/copy.img
cleanup() {
    rm -f "$image" "$image.layout"
    rmdir "$folder"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$bin/moravel-bench-copy" make "$image" --size "$size"
echo
status=0
"$bin/moravel-bench-window-copy" measure "$image" --runs "$runs" --out "$out" \
    --cli "$bin/moravel-cli" || status=$?
exit $status
