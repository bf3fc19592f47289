#!/usr/bin/env bash
# moravel-cli mount's read throughput beside moravel-cli copy to /dev/null: a
# 2 GB recording (moravel-bench-copy's image, in the page cache) read whole
# through the mount by dd (1 MiB blocks) and by cat, each in a fresh mount so
# that the kernel's cache of the mounted file starts empty, against the copy.
# Prints the best of RUNS (3) runs of each, in MB/s (10^6 bytes per second), and
# the ratios to the copy (goal: at least 0.8).
#
# With DISK_MBPS=N (root, cgroup v1's blkio), every reader reads from the disk
# instead, as from a recorder's disk: the page cache is dropped before each read,
# and the image's disk gives the copy and the mount at most N MB/s (the readers
# run in a cgroup of their own). SIZE sets the recording's bytes (2000000000; with
# DISK_MBPS, 600000000).
#
#   bench/run-mount.sh [BUILD]      (BUILD defaults to build; needs /dev/fuse)
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(realpath "${1:-build}")"
runs="${RUNS:-3}"
size="${SIZE:-$([ -n "${DISK_MBPS:-}" ] && echo 600000000 || echo 2000000000)}"
work="$(mktemp -d "${TMPDIR:-/tmp}/moravel-mount-bench-XXXXXX")"
mnt="$work/mnt"
mkdir -p "$mnt"
cgroup=""
cleanup() {
    fusermount3 -u "$mnt" 2>/dev/null || true
    rm -rf "$work"
    if [ -n "$cgroup" ]; then
        echo $$ >"$(dirname "$cgroup")/tasks"  # out of it, so that it can go
        rmdir "$cgroup" 2>/dev/null || true
    fi
}
trap cleanup EXIT

"$build/bin/moravel-bench-copy" make "$work/copy.img" --size "$size" >/dev/null
cli=("$build/bin/moravel-cli" --disk "$work/copy.img")
file="Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS/Recording 0001.ts"
# Before each read: the page cache as the readers find it.
before_read() { :; }
if [ -n "${DISK_MBPS:-}" ]; then
    # The throttle holds for a whole disk: the partition's disk, where it is one.
    device="/sys/dev/block/$(stat -c '%Hd:%Ld' "$work/copy.img")"
    [ -e "$device/partition" ] && device="$(dirname "$(realpath "$device")")"
    disk="$(cat "$device/dev")"
    cgroup="/sys/fs/cgroup/blkio/moravel-bench-$$"
    mkdir "$cgroup"
    echo "$disk $((DISK_MBPS * 1000000))" >"$cgroup/blkio.throttle.read_bps_device"
    echo $$ >"$cgroup/tasks"  # this shell, and every reader it starts
    # The program's own libraries (FFmpeg's among them, some 140) come back into
    # memory at once: the running mount has them mapped, and the copy's start
    # would otherwise read them from the throttled disk too.
    before_read() {
        sync && echo 3 >/proc/sys/vm/drop_caches
        "${cli[@]}" --version >/dev/null
    }
    echo "from disk $disk at most $DISK_MBPS MB/s, $size bytes"
else
    cat "$work/copy.img" >/dev/null  # into the page cache, for every reader alike
fi

now() { date +%s.%N; }
best() { sort -g | head -n 1; }
: >"$work/copy" && : >"$work/dd" && : >"$work/cat"
for _ in $(seq "$runs"); do
    before_read
    t0=$(now)
    "${cli[@]}" copy "$file" /dev/null >/dev/null
    echo "$(now) - $t0" | bc >>"$work/copy"
    for reader in dd cat; do
        "${cli[@]}" mount "$mnt"
        before_read
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
