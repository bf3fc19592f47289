#!/bin/sh
# Makes the 1 TiB-class scan image, measures the folder scan on it in a process of
# its own (so that the memory the making took does not count), then deletes it.
#
# usage: bench/run-scan.sh [-b PROGRAM] [-i IMAGE] [-r RUNS] [-c] [-s]
#   -b  the moravel-bench-scan program (default: $MORAVEL_BENCH_SCAN, else the
#       build/bin/moravel-bench-scan beside this folder, else the first of the
#       other build*/bin: a sanitizer build's times say nothing)
#   -i  where to make the image (must not exist yet; default: a new temporary folder)
#   -r  warm runs after the first one (default 5)
#   -c  drop the image's cached pages before the first scan (a cold first run)
#   -s  then the slow-disk run (root only): the image served by moravel-failing-disk
#       at about 31 MB/s (--good-delay-us 15), the page cache dropped before each
#       listing; wall time and bytes read (from the server's log) of the root,
#       RECORDS and list -r, beside the physical minimum worked out from the image
# Exit status: that of "measure" (0 targets hold, 3 one does not, 1 error).
set -eu

here=$(cd "$(dirname "$0")" && pwd)
bench=${MORAVEL_BENCH_SCAN:-}
image=
runs=5
cold=
slow=

while getopts b:i:r:cs option; do
    case $option in
        s) slow=1 ;;
        b) bench=$OPTARG ;;
        i) image=$OPTARG ;;
        r) runs=$OPTARG ;;
        c) cold=--cold ;;
        *) sed -n '5,15p' "$0" >&2; exit 2 ;;
    esac
done

if [ -z "$bench" ]; then
    for candidate in "$here"/../build/bin/moravel-bench-scan "$here"/../build*/bin/moravel-bench-scan; do
        if [ -x "$candidate" ]; then
            bench=$candidate
            break
        fi
    done
fi
if [ -z "$bench" ] || [ ! -x "$bench" ]; then
    echo "run-scan.sh: moravel-bench-scan not found; build it or pass -b PROGRAM" >&2
    exit 1
fi

folder=
if [ -z "$image" ]; then
    folder=$(mktemp -d "${TMPDIR:-/tmp}/moravel-scan-XXXXXX")
    image=$folder/scan.img
elif [ -e "$image" ]; then
    echo "run-scan.sh: $image exists; give a path for a new image" >&2
    exit 1
fi
cleanup() {
    rm -f "$image"
    if [ -n "$folder" ]; then
        rmdir "$folder"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$bench" make "$image"
# Written pages stay in the cache until flushed; only flushed pages can be dropped.
if [ -n "$cold" ]; then
    sync "$image"
fi
echo
status=0
"$bench" measure "$image" --runs "$runs" $cold || status=$?
if [ -n "$slow" ]; then
    echo
    sh "$here/slow-scan.sh" "$(dirname "$bench")" "$image" || status=1
fi
exit $status
