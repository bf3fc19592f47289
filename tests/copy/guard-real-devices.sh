#!/usr/bin/env bash
# The guard against writing to a disk being read, with the kernel's own devices:
# loop devices over the sample disk (read-only for reading, a second one at a
# partition's offset holding a file system), a FUSE view of the image
# (moravel-failing-disk) and fusefat serving a partition. Every copy that would
# land in the image must be refused before anything is written, and the image
# must be left as it was. A FAT16 drive served by fusefat must be refused as a
# FAT16 drive is.
#
#   guard-real-devices.sh MORAVEL_CLI MAKE_SAMPLE_DISK FAILING_DISK_TOOL
# Exits 77 (skipped) where loop devices or FUSE cannot be used.
set -euo pipefail
cli="$1" make_disk="$2" tool="$3"

skip() {
    echo "skipped: $*"
    exit 77
}
[ "$(id -u)" = 0 ] || skip "loop devices and mounts need root"
for command in losetup mkfs.ext4 mount fusefat fusermount fusermount3; do
    command -v "$command" >/dev/null || skip "$command is not installed"
done
[ -w /dev/fuse ] || skip "/dev/fuse cannot be used"

work="$(mktemp -d "${TMPDIR:-/tmp}/moravel-guard-XXXXXX")"
mounts=()
cleanup() {
    for mount in "${mounts[@]}"; do
        fusermount -u "$mount" 2>/dev/null || fusermount3 -u "$mount" 2>/dev/null ||
            umount "$mount" 2>/dev/null || true
    done
    # Every loop device over a file here, also one whose file was replaced.
    losetup --list --noheadings --output NAME,BACK-FILE | while read -r device file _; do
        case "$file" in "$work"/*) losetup -d "$device" 2>/dev/null || true ;; esac
    done
    rm -rf "$work"
}
trap cleanup EXIT

image="$work/disk.img"
"$make_disk" "$image" >/dev/null
# The sample disk's partitions: FAT32 at 2048, FAT16 (SYSTEM) after it.
fat32_start=2048
fat32_sectors=83891430
fat16_start=83893478
fat16_sectors=128520
settings="Hard Disk 1/Extended DOS Partition/16-Bit FAT Disk/Root Directory/BACKUP/SETTINGS.BAK"
backup="${settings%/*}"

loop() { # [losetup options] FILE: a new loop device, detached by cleanup
    losetup -f --show "$@" || skip "no loop device could be set up"
}
fusefat_mount() { # DEVICE MOUNTPOINT
    mkdir -p "$2"
    fusefat -o rw+ "$1" "$2" >/dev/null 2>&1 || skip "fusefat could not mount $1"
    mounts+=("$2")
}
unmount_last() {
    local last=$((${#mounts[@]} - 1))
    fusermount -u "${mounts[$last]}" 2>/dev/null || umount "${mounts[$last]}"
    unset "mounts[$last]"
}

failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}
state() { stat -c '%i %s %Y' "$image"; }
before=$(state)

# refused NAME EXPECTED_REASON COMMAND...: the copy exits 1 and says why.
refused() {
    local name="$1" reason="$2"
    shift 2
    local status=0
    "$@" >"$work/out.txt" 2>"$work/err.txt" || status=$?
    [ "$status" = 1 ] || fail "$name: exit $status, not 1: $(cat "$work/out.txt" "$work/err.txt")"
    grep -qF "$reason" "$work/err.txt" || fail "$name: no \"$reason\" in: $(cat "$work/err.txt")"
    [ "$(state)" = "$before" ] || fail "$name: the image was changed"
}

# 1. The image behind a read-only loop device that is being read.
reader=$(loop -r "$image")
refused "loop: the backing file" "a disk being read is read from it" \
    "$cli" --disk "$reader" copy "$settings" "$image"
[ ! -e "$image.part" ] || fail "loop: $image.part was made"
# A picture goes through the same guard as a copy, and never over a device node.
refused "loop: thumbnail to the backing file" "a disk being read is read from it" \
    "$cli" --disk "$reader" thumbnail "$settings" "$image"
refused "loop: thumbnail to the loop device" "it is a disk being read" \
    "$cli" --disk "$reader" thumbnail "$settings" "$reader"
[ -b "$reader" ] || fail "thumbnail: $reader is no block device any more"
[ ! -e "$image.part" ] && [ ! -e "$reader.part" ] || fail "thumbnail: a .part was made"

# 1. The image behind a FUSE view of it that is being read.
view="$work/view"
mkdir -p "$view"
"$tool" "$image" "$view" 2>"$work/tool.err" || skip "moravel-failing-disk: $(cat "$work/tool.err")"
mounts+=("$view")
refused "FUSE view: the image it serves" "a disk being read is read from it" \
    "$cli" --disk "$view/disk.img" copy "$settings" "$image"
unmount_last

# 2. An ext4 on a second loop device at the FAT16 partition's offset, while the
#    first loop device is read. The file system is made in a copy of the image.
copy_image="$work/copy.img"
cp --sparse=always "$image" "$copy_image"
copy_reader=$(loop -r "$copy_image")
inner=$(loop -o $((fat16_start * 512)) --sizelimit $((fat16_sectors * 512)) "$copy_image")
mkfs.ext4 -q "$inner"
mkdir -p "$work/ext4"
mount "$inner" "$work/ext4" || skip "the ext4 on $inner could not be mounted"
mounts+=("$work/ext4")
refused "second loop: a file" "loop device reads a disk being read" \
    "$cli" --disk "$copy_reader" copy "$settings" "$work/ext4/"
refused "second loop: a folder" "nothing is copied into" \
    "$cli" --disk "$copy_reader" copy "$backup" "$work/ext4/"
leftovers=$(find "$work/ext4" -mindepth 1 -not -path "$work/ext4/lost+found*")
[ -z "$leftovers" ] || fail "second loop: written there: $leftovers"
unmount_last

# 2. fusefat serving the image's own FAT32 partition, while the image is read.
partition=$(loop -o $((fat32_start * 512)) --sizelimit $((fat32_sectors * 512)) "$image")
before=$(state)
fusefat_mount "$partition" "$work/fat32"
refused "fusefat: a file" "loop device reads a disk being read" \
    "$cli" --disk "$image" copy "$settings" "$work/fat32/"
refused "fusefat: a folder" "nothing is copied into" \
    "$cli" --disk "$image" copy "$backup" "$work/fat32/"
refused "fusefat: a picture" "loop device reads a disk being read" \
    "$cli" --disk "$image" thumbnail "$settings" "$work/fat32/picture.png"
# Named from the folder it lies in, as well.
refused "fusefat: a picture by a bare name" "loop device reads a disk being read" \
    env -C "$work/fat32" "$cli" --disk "$image" thumbnail "$settings" picture.png
for name in SETTINGS.BAK SETTINGS.BAK.part BACKUP picture.png picture.png.part; do
    [ ! -e "$work/fat32/$name" ] || fail "fusefat: $name was made in the source volume"
done
unmount_last

# 6. fusefat serving a FAT16 partition of another disk: refused as FAT16.
fat16=$(loop -o $((fat16_start * 512)) --sizelimit $((fat16_sectors * 512)) "$copy_image")
mkfs.fat -F 16 "$fat16" >/dev/null
fusefat_mount "$fat16" "$work/fat16"
status=0
"$cli" --disk "$image" copy "$settings" "$work/fat16/" >"$work/out.txt" 2>&1 || status=$?
[ "$status" = 1 ] || fail "fusefat FAT16: exit $status: $(cat "$work/out.txt")"
grep -qF "uses the FAT16 file system" "$work/out.txt" ||
    fail "fusefat FAT16: not refused as FAT16: $(cat "$work/out.txt")"
unmount_last

[ "$failed" = 0 ] && echo "all passed"
exit "$failed"
