#!/usr/bin/env bash
# moravel-cli list and copy on a volume made by mkfs.fat and filled by mcopy,
# served by moravel-failing-disk (FUSE) with bad sectors. A FAT sector bad in
# both copies cuts only the chain that runs through it; bad sectors of a folder
# hide only the entries they hold; each is reported, and the command ends with
# status 1. mtype over the image itself is the oracle of the files' bytes.
#
#   bad-sectors-cli.sh MORAVEL_CLI FAILING_DISK_TOOL
# Exits 77 (skipped) where FUSE or the FAT tools cannot be used.
set -euo pipefail
cli="$1" tool="$2"

work="$(mktemp -d "${TMPDIR:-/tmp}/moravel-bad-sectors-XXXXXX")"
mount="$work/mnt"
server=""
stop() {
    fusermount3 -u "$mount" 2>/dev/null || true
    [ -n "$server" ] && wait "$server" 2>/dev/null || true
    server=""
}
trap 'stop; rm -rf "$work"' EXIT

if [ ! -w /dev/fuse ] || ! command -v fusermount3 >/dev/null; then
    echo "skipped: FUSE cannot be used here (/dev/fuse or fusermount3)"
    exit 77
fi
for program in mkfs.fat mmd mcopy mtype; do
    command -v "$program" >/dev/null || { echo "skipped: no $program"; exit 77; }
done

# A FAT32 volume of 4 KiB clusters (no partition table): a folder of 40 files
# (42 entries with its dot entries: sectors 0-2 of its one cluster), a small
# file and one of 512 clusters, whose chain runs through FAT sectors 0-4.
image="$work/volume.img"
truncate -s 300M "$image"
mkfs.fat -F 32 -s 8 -n TEST "$image" >/dev/null
mmd -i "$image" ::REC
for i in $(seq 10 49); do
    printf 'file %s\n' "$i" >"$work/F$i.TS"
done
mcopy -i "$image" "$work"/F*.TS ::REC/
head -c 20000 /dev/urandom >"$work/A.TS"
head -c 2097152 /dev/urandom >"$work/LATE.TS"
mcopy -i "$image" "$work/A.TS" "$work/LATE.TS" ::

root="Hard Disk 1/32-Bit FAT Disk/Root Directory"
field() { sed -n "s/^  \"$1\": \([0-9]*\),\$/\1/p"; }
late="$("$cli" --disk "$image" info --json "$root/LATE.TS")"
first=$(field firstCluster <<<"$late")
folder=$("$cli" --disk "$image" info --json "$root/REC" | field firstLba)
reserved=$(od -An -tu2 -j14 -N2 "$image" | tr -d ' ')
perFat=$(od -An -tu4 -j36 -N4 "$image" | tr -d ' ')
# The FAT sector with the entries of the chain's 300th cluster, which holds
# those of no other file.
fatSector=$(((first + 300) * 4 / 512))
[ $((fatSector * 128)) -gt "$first" ] && [ $((fatSector * 128 + 127)) -lt $((first + 511)) ] ||
    { echo "LATE.TS does not span FAT sector $fatSector"; exit 1; }

serve() {
    "$tool" -f "$@" "$image" "$mount" 2>"$work/tool.err" &
    server=$!
    for _ in $(seq 300); do
        [ -e "$mount/disk.img" ] && return 0
        if ! kill -0 "$server" 2>/dev/null; then
            echo "skipped: moravel-failing-disk could not mount: $(cat "$work/tool.err")"
            exit 77
        fi
        sleep 0.1
    done
    echo "the failing disk was not mounted"
    exit 1
}
mkdir -p "$mount" "$work/out"
failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}
# Runs moravel-cli on the failing disk: its status in $status, its output in
# list.txt and list.err.
run() {
    status=0
    "$cli" --disk "$mount/disk.img" "$@" >"$work/list.txt" 2>"$work/list.err" || status=$?
}
count() { grep -c "$1" "$work/list.txt" || true; }

# 1. A FAT sector bad in both copies.
serve --bad "$((reserved + fatSector))" --bad "$((reserved + perFat + fatSector))"
run list -r
[ "$status" = 1 ] || fail "list with a lost FAT sector ended with $status, not 1"
[ "$(count 'F[1-4][0-9]     .TS 	file	8 B	8')" = 40 ] || fail "not every file of REC listed"
grep -q "A       .TS 	file	19.5 KB	20000	" "$work/list.txt" || fail "A.TS not listed whole"
grep -q "LATE    .TS 	file	2.0 MB	2097152	" "$work/list.txt" ||
    fail "LATE.TS not listed with its entry's size: $(cat "$work/list.txt")"
grep -q "^Sector $fatSector of the FAT .* the file \"LATE.TS\" in the root directory is listed" \
    "$work/list.err" || fail "the lost FAT sector is not reported: $(cat "$work/list.err")"
run copy "$root/A.TS" "$work/out/"
[ "$status" = 0 ] || fail "A.TS was not copied: $(cat "$work/list.err")"
mtype -i "$image" ::A.TS | cmp -s - "$work/out/A.TS" || fail "A.TS copied wrong"
run copy "$root/LATE.TS" "$work/out/"
[ "$status" = 1 ] || fail "the copy of LATE.TS ended with $status, not 1"
[ ! -e "$work/out/LATE.TS" ] || fail "LATE.TS was published"
known=$(((fatSector * 128 - first + 1) * 4096))  # up to the first cluster whose entry was lost
[ "$(stat -c %s "$work/out/LATE.TS.part")" = "$known" ] ||
    fail "LATE.TS.part does not hold the $known bytes its chain is known for"
cmp -s -n "$known" "$work/LATE.TS" "$work/out/LATE.TS.part" || fail "LATE.TS.part copied wrong"
grep -q "runs into sector $fatSector of the FAT" "$work/list.err" ||
    fail "the copy does not name the lost FAT sector: $(cat "$work/list.err")"
stop

# 2. A bad sector in the folder's cluster after its last entry.
serve --bad "$((folder + 7))"
run list -r
[ "$status" = 1 ] || fail "list with a bad folder tail ended with $status, not 1"
[ "$(count 'F[1-4][0-9]     .TS')" = 40 ] || fail "a bad folder tail hid files"
grep -q "^Bytes 3584-4095 of the folder \"REC\" could not be read (disk sector $((folder + 7)))" \
    "$work/list.err" || fail "the folder's bad tail is not reported: $(cat "$work/list.err")"
stop

# 3. A bad sector among the folder's entries: those of the others are listed.
serve --bad "$((folder + 1))"
run list -r
[ "$status" = 1 ] || fail "list with a bad folder sector ended with $status, not 1"
[ "$(count 'F[1-4][0-9]     .TS')" = 24 ] || fail "not the 24 files outside the bad sector"
grep -q "F49     .TS" "$work/list.txt" || fail "the files after the bad sector are not listed"
grep -q "^Bytes 512-1023 of the folder \"REC\" could not be read" "$work/list.err" ||
    fail "the folder's bad sector is not reported: $(cat "$work/list.err")"
stop

exit "$failed"
