#!/usr/bin/env bash
# moravel-cli mount's read throughput beside moravel-cli copy to /dev/null: a
# 2 GB recording (moravel-bench-copy's image, in the page cache) read whole
# through the mount by dd (1 MiB blocks) and by cat, each in a fresh mount so
# that the kernel's cache of the mounted file starts empty, against the copy.
# Prints the best of RUNS (3) runs of each, in MB/s (10^6 bytes per second), and
# the ratios to the copy (goal: at least 0.8).
#
#   bench/run-mount.sh [BUILD]      (BUILD defaults to build; needs /dev/fuse)
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(realpath "${1:-build}")"
runs="${RUNS:-3}"
size=2000000000
work="$(mktemp -d "${TMPDIR:-/tmp}/moravel-mount-bench-XXXXXX")"
mnt="$work/mnt"
mkdir -p "$mnt"
trap 'fusermount3 -u "$mnt" 2>/dev/null || true; rm -rf "$work"' EXIT

"$build/bin/moravel-bench-copy" make "$work/copy.img" --size "$size" >/dev/null
cli=("$build/bin/moravel-cli" --disk "$work/copy.img")
file="Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS/Recording 0001.ts"
cat "$work/copy.img" >/dev/null  # into the page cache, for every reader alike

now() { date +%s.%N; }
best() { sort -g | head -n 1; }
: >"$work/copy" && : >"$work/dd" && : >"$work/cat"
for _ in $(seq "$runs"); do
    t0=$(now)
    "${cli[@]}" copy "$file" /dev/null >/dev/null
    echo "$(now) - $t0" | bc >>"$work/copy"
    for reader in dd cat; do
        "${cli[@]}" mount "$mnt"
        t0=$(now)
        if [ "$reader" = dd ]; then
            dd if="$mnt/$file" of=/dev/null bs=1M status=none
        else
            cat "$mnt/$file" >/dev/null
        fi
        echo "$(now) - $t0" | bc >>"$work/$reader"
        fusermount3 -u "$mnt"
    done
done
copy=$(best <"$work/copy")
printf '%-28s %8.3f s  %7.1f MB/s\n' "moravel-cli copy /dev/null" "$copy" "$(echo "$size / $copy / 1000000" | bc -l)"
for reader in dd cat; do
    seconds=$(best <"$work/$reader")
    printf '%-28s %8.3f s  %7.1f MB/s  %.2fx the copy\n' "mount, $reader" "$seconds" \
        "$(echo "$size / $seconds / 1000000" | bc -l)" "$(echo "$copy / $seconds" | bc -l)"
done
