#!/bin/sh
# The folder scan from a slow disk: the scan image served by moravel-failing-disk
# at about 31 MB/s (15 us a sector, as a USB 2.0 adapter), the page cache dropped
# before each listing. For the root, RECORDS and list -r it reports the wall time
# and the bytes read (counted in the server's log), beside the physical minimum:
# the partition table and boot sectors, the clusters of the folders listed, and
# the FAT sectors that hold the entries of every chain the listing must walk
# (the folders' own, and the files' whose true sizes it shows), worked out from
# the image's own listing; its time is those bytes at the served disk's own
# sequential rate, measured first. Then the window (offscreen, when
# moravel-bench-window-copy is built): RECORDS's first rows and its last size.
#
# usage: bench/slow-scan.sh BINDIR IMAGE   (as root: the cache is dropped)
set -eu

bin=$1
image=$2
cli=$bin/moravel-cli
server=$bin/moravel-failing-disk
for program in "$cli" "$server"; do
    if [ ! -x "$program" ]; then
        echo "slow-scan.sh: $program not found" >&2
        exit 1
    fi
done
if [ "$(id -u)" != 0 ]; then
    echo "slow-scan.sh: not root: the page cache cannot be dropped, the runs would be warm" >&2
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/moravel-slow-XXXXXX")
mount=$work/disk
log=$work/reads.log
mkdir "$mount"
cleanup() {
    fusermount3 -u "$mount" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$cli" --disk "$image" list -r --json >"$work/all.json"
"$server" --good-delay-us 15 --log "$log" "$image" "$mount"
for _ in 1 2 3 4 5 6 7 8 9 10; do
    [ -e "$mount/disk.img" ] && break
    sleep 0.2
done

# The served disk's own sequential rate, from a read of 64 MiB of its FAT in
# large requests: the minimum's time is its bytes at that rate.
sync
echo 3 >/proc/sys/vm/drop_caches
start=$(date +%s.%N)
dd if="$mount/disk.img" of=/dev/null bs=4M count=16 iflag=skip_bytes skip=$((2080 * 512)) 2>/dev/null
end=$(date +%s.%N)
rate=$(python3 -c "print(round(64 * 2**20 / ($end - $start)))")
echo "disk rate      $(python3 -c "print(f'{$rate / 1e6:.1f}')") MB/s (64 MiB read in 4 MiB requests, cache dropped)"

root="Hard Disk 1/32-Bit FAT Disk/Root Directory"
printf '%-10s %9s %14s %14s %9s %7s %7s\n' case seconds "bytes read" "minimum" "min. s" "x bytes" "x time"
measure() {  # measure CASE ARGS...
    name=$1
    shift
    sync
    echo 3 >/proc/sys/vm/drop_caches
    : >"$log"
    start=$(date +%s.%N)
    "$cli" --disk "$mount/disk.img" "$@" >/dev/null
    end=$(date +%s.%N)
    bytes=$(awk '$4 != "EIO" { sum += $3 } END { print sum + 0 }' "$log")
    python3 - "$work/all.json" "$name" "$start" "$end" "$bytes" "$rate" <<'EOF'
import json
import sys

listing, case, start, end, read = sys.argv[1], sys.argv[2], float(sys.argv[3]), float(sys.argv[4]), int(sys.argv[5])
rate = float(sys.argv[6])
items = json.load(open(listing))


def walk(nodes, parents=()):
    for node in nodes:
        yield node, parents
        yield from walk(node.get("children", []), parents + (node,))


volume = next(node for node, _ in walk(items) if node["kind"] == "volume")
cluster_bytes = volume["clusterSize"]
fat_entry_bits = volume["fatKind"]


def fat_sectors(node):
    # A chain of one fragment: its entries, from the first cluster on.
    if node.get("clusters", 0) == 0:
        return set()
    if node.get("fragments", 1) != 1:
        sys.exit("slow-scan.sh: a chain in more than one fragment: its FAT sectors are not known here")
    first = node["firstCluster"]
    last = first + node["clusters"]  # the entry of the last cluster holds the end mark
    return set(range(first * fat_entry_bits // 8 // 512, (last * fat_entry_bits + 7) // 8 // 512 + 1))


folders = [node for node, _ in walk(items) if node["kind"] in ("root", "directory")]
root = next(node for node in folders if node["kind"] == "root")
records = next(node for node in folders if node["path"].endswith("/RECORDS"))
if case == "root":
    listed, sized = [root], []
elif case == "RECORDS":
    listed, sized = [root, records], [n for n, p in walk(items) if p and p[-1] is records and n["kind"] == "file"]
else:
    listed, sized = folders, [n for n, _ in walk(items) if n["kind"] == "file"]
sectors = set()
for node in listed + sized:
    sectors |= fat_sectors(node)
minimum = 2 * 512 + len(sectors) * 512 + sum(node["clusters"] for node in listed) * cluster_bytes
seconds = minimum / rate
print(f"{case:<10} {end - start:9.3f} {read:14,} {minimum:14,} {seconds:9.3f} "
      f"{read / minimum:7.2f} {(end - start) / seconds:7.2f}")
EOF
}

measure root list "$root"
measure RECORDS list "$root/RECORDS"
measure "list -r" list -r

# The window (offscreen): the time from the selection of RECORDS to its first
# rows, and to the last size in its row.
window=$bin/moravel-bench-window-copy
if [ -x "$window" ]; then
    sync
    echo 3 >/proc/sys/vm/drop_caches
    : >"$log"
    mkdir -m 700 "$work/run"
    XDG_RUNTIME_DIR=$work/run QT_QPA_PLATFORM=offscreen "$window" scan "$mount/disk.img" --runs 0 >"$work/window.txt"
    bytes=$(awk '$4 != "EIO" { sum += $3 } END { print sum + 0 }' "$log")
    sed -n 's/^ *first row \(.*\)/window     RECORDS: first row \1, bytes read '"$bytes"'/p' "$work/window.txt"
fi
