#!/bin/sh
# Makes the copy image (2 GB recording, no holes), measures the program's copy of it
# into /dev/null and into a tmpfs folder against dd (32 KiB and 256 KiB blocks) and
# mcopy in a process of its own, then deletes the image and every output.
#
# usage: bench/run-copy.sh [-b PROGRAM] [-d FOLDER] [-o FOLDER] [-r RUNS] [-s BYTES]
#   -b  the moravel-bench-copy program (default: $MORAVEL_BENCH_COPY, else the
#       build/bin/moravel-bench-copy beside this folder, else the first of the
#       other build*/bin: a sanitizer build's times say nothing)
#   -d  the folder to work in: a new folder is made in it for the image, and
#       removed at the end (default: ${TMPDIR:-/tmp})
#   -o  the folder the copies are written to (default: /dev/shm, a tmpfs)
#   -r  rounds counted, each timing every copy once, after a check round
#       that compares the outputs (default 5)
#   -s  the recording's size in bytes (default 2000000000)
# Exit status: that of "measure" (0 target holds, 3 it does not, 1 error).
set -eu

here=$(cd "$(dirname "$0")" && pwd)
bench=${MORAVEL_BENCH_COPY:-}
parent=${TMPDIR:-/tmp}
runs=5
size=2000000000
out=/dev/shm

while getopts b:d:o:r:s: option; do
    case $option in
        b) bench=$OPTARG ;;
        d) parent=$OPTARG ;;
        o) out=$OPTARG ;;
        r) runs=$OPTARG ;;
        s) size=$OPTARG ;;
        *) sed -n '6,15p' "$0" >&2; exit 2 ;;
    esac
done

if [ -z "$bench" ]; then
    for candidate in "$here"/../build/bin/moravel-bench-copy "$here"/../build*/bin/moravel-bench-copy; do
        if [ -x "$candidate" ]; then
            bench=$candidate
            break
        fi
    done
fi
if [ -z "$bench" ] || [ ! -x "$bench" ]; then
    echo "run-copy.sh: moravel-bench-copy not found; build it or pass -b PROGRAM" >&2
    exit 1
fi
for tool in dd mcopy cmp; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "run-copy.sh: $tool not found; run scripts/install-deps.sh" >&2
        exit 1
    fi
done

# The image (the recording plus about 150 MB), and in the check round four outputs
# at once.
case $size in
    ''|*[!0-9]*) echo "run-copy.sh: -s wants a number of bytes" >&2; exit 2 ;;
esac
check_free() {  # FOLDER KIB
    free_kib=$(df -Pk "$1" | awk 'NR == 2 { print $4 }')
    if [ "$free_kib" -lt "$2" ]; then
        echo "run-copy.sh: $1 has $((free_kib / 1024)) MiB free; this needs $(($2 / 1024)) MiB" >&2
        exit 1
    fi
}
check_free "$parent" $(( (size + 256 * 1024 * 1024) / 1024 ))
check_free "$out" $(( size * 4 / 1024 ))

folder=$(mktemp -d "$parent/moravel-copy-XXXXXX")
image=$folder/copy.img
cleanup() {
    rm -f "$image" "$image.layout"
    rmdir "$folder"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$bench" make "$image" --size "$size"
echo
status=0
"$bench" measure "$image" --runs "$runs" --out "$out" || status=$?
exit $status
