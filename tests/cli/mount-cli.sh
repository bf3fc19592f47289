#!/usr/bin/env bash
# moravel-cli mount, for real (FUSE): the sample disk and a volume made by
# mkfs.fat and filled by mcopy with fragmented files. Every file read through
# the mount is the bytes that moravel-cli copy gives (and mtype, on the mkfs.fat
# volume); sizes beyond 4 GiB and dates are the entries' true ones; every change
# is refused; a bad sector (moravel-failing-disk under the mount) fails the read
# with EIO, or reads as 0xE5 bytes with --fill. ffprobe and ffmpeg read a
# recording through it.
#
#   mount-cli.sh MORAVEL_CLI SAMPLE_DISK_MAKER FAILING_DISK_TOOL
# Exits 77 (skipped) where FUSE or the FAT tools cannot be used.
set -euo pipefail
cli="$1" make_sample="$2" tool="$3"

work="$(mktemp -d "${TMPDIR:-/tmp}/moravel-mount-XXXXXX")"
mnt="$work/mnt" disk="$work/disk"
mkdir -p "$mnt" "$disk" "$work/out"
unmount() {
    fusermount3 -u "$1" 2>/dev/null || true
}
trap 'unmount "$mnt"; unmount "$disk"; rm -rf "$work"' EXIT

if [ ! -w /dev/fuse ] || ! command -v fusermount3 >/dev/null; then
    echo "skipped: FUSE cannot be used here (/dev/fuse or fusermount3)"
    exit 77
fi
for program in mkfs.fat mcopy mtype mdel mdir; do
    command -v "$program" >/dev/null || { echo "skipped: no $program"; exit 77; }
done
failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}
# mount IMAGE [OPTIONS]: moravel-cli mount in the background, as a user runs it.
mount() {
    local image=$1
    shift
    "$cli" --disk "$image" mount "$@" "$mnt" 2>"$work/mount.err" ||
        { echo "moravel-cli mount failed: $(cat "$work/mount.err")"; exit 1; }
}

# 1. The sample disk: names, true sizes, dates, bytes.
"$make_sample" "$work/sample.img" >/dev/null
mount "$work/sample.img"
records="$mnt/Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS"
tree="Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS"
expected=$'Evening News 2004-05-17.ts\nFilm Night 2004-05-15.ts\nNEWS0518.TS\nNature 2004-05-16.ts'
[ "$(ls "$records")" = "$expected" ] || fail "RECORDS holds: $(ls "$records")"
[ "$(ls "$mnt/Hard Disk 1")" = $'16-Bit FAT Disk\n32-Bit FAT Disk\nExtended DOS Partition' ] ||
    fail "the disk holds: $(ls "$mnt/Hard Disk 1")"
[ "$(stat -c %s "$records/Film Night 2004-05-15.ts")" = 5000000000 ] ||
    fail "Film Night is $(stat -c %s "$records/Film Night 2004-05-15.ts") bytes, not 5000000000"
[ "$(TZ=UTC0 stat -c %y "$mnt/Hard Disk 1/32-Bit FAT Disk/Root Directory/Archive 2003/Marathon 2003-10-12.ts" |
    cut -c1-16)" = "2003-10-12 08:55" ] || fail "Marathon does not have its entry's date"
for name in "NEWS0518.TS" "Evening News 2004-05-17.ts"; do
    "$cli" --disk "$work/sample.img" copy "$tree/$name" "$work/out/copy" >/dev/null
    cmp -s "$records/$name" "$work/out/copy" || fail "$name read through the mount differs from its copy"
done
# Past 4 GiB: the recording lies in one piece, so the image holds its bytes there.
field() { sed -n "s/^  \"$1\": \([0-9]*\),\$/\1/p"; }
info="$("$cli" --disk "$work/sample.img" info --json "$tree/Film Night 2004-05-15.ts")"
[ "$(field fragments <<<"$info")" = 1 ] || fail "Film Night is not in one piece"
first=$(field firstLba <<<"$info")
cmp -s <(dd if="$records/Film Night 2004-05-15.ts" bs=1M skip=4500 count=4 status=none) \
    <(dd if="$work/sample.img" bs=512 skip=$((first + 4500 * 2048)) count=8192 status=none) ||
    fail "Film Night past 4 GiB differs from the disk's bytes"
[ "$(tail -c 100 "$records/Film Night 2004-05-15.ts" | wc -c)" = 100 ] || fail "the end of Film Night cannot be read"

# Nothing changes the disk.
before=$(stat -c "%s %Y %Z" "$work/sample.img")  # a write would change its times
touch "$records/new.ts" 2>/dev/null && fail "a file was created"
(echo x >>"$records/NEWS0518.TS") 2>/dev/null && fail "a file was appended to"
mv "$records/NEWS0518.TS" "$records/n.ts" 2>/dev/null && fail "a file was renamed"
chmod 666 "$records/NEWS0518.TS" 2>/dev/null && fail "a file's mode was changed"
mkdir "$records/new" 2>/dev/null && fail "a folder was made"
rm "$records/NEWS0518.TS" 2>/dev/null && fail "a file was removed"
err=$( (: >"$records/NEWS0518.TS") 2>&1 || true)
[[ $err == *"Read-only file system"* ]] || fail "a write is not refused as on a read-only file system: $err"
unmount "$mnt"
[ "$(stat -c "%s %Y %Z" "$work/sample.img")" = "$before" ] || fail "the image changed"

# 2. mkfs.fat and mcopy: a file in two fragments, mtype the oracle.
image="$work/volume.img"
truncate -s 64M "$image"
mkfs.fat -F 32 -s 1 -n REC "$image" >/dev/null
for i in 1 3; do
    head -c $((300000 + i * 1000)) /dev/urandom >"$work/part$i"
    mcopy -i "$image" "$work/part$i" "::F$i.TS"
done
head -c 3000000 /dev/urandom >"$work/long"
if command -v ffmpeg >/dev/null; then
    ffmpeg -loglevel error -f lavfi -i smptebars=duration=4:size=320x240:rate=25 \
        -c:v mpeg2video -f mpegts "$work/BARS.TS"
    mcopy -i "$image" "$work/BARS.TS" ::BARS.TS
fi
. "$(dirname "$0")/fragmented-fat.sh"
put_fragmented "$image" "$work/long" "Long name of a recording.ts"
[ "$("$cli" --disk "$image" info --json "Hard Disk 1/32-Bit FAT Disk/Root Directory/Long name of a recording.ts" |
    field fragments)" = 2 ] || fail "the long file is not in two fragments"
mount "$image"
root="$mnt/Hard Disk 1/32-Bit FAT Disk/Root Directory"
for name in F1.TS F3.TS "Long name of a recording.ts"; do
    mtype -i "$image" "::$name" | cmp -s - "$root/$name" || fail "$name differs from mtype's bytes"
done
# Players and converters read a recording through it as from any file.
if command -v ffprobe >/dev/null && command -v ffmpeg >/dev/null; then
    [ "$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$root/BARS.TS")" = \
        "$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/BARS.TS")" ] ||
        fail "ffprobe reads another duration through the mount"
    ffmpeg -loglevel error -i "$root/BARS.TS" -f framemd5 "$work/mounted.md5"
    ffmpeg -loglevel error -i "$work/BARS.TS" -f framemd5 "$work/from-file.md5"
    cmp -s "$work/mounted.md5" "$work/from-file.md5" || fail "ffmpeg -i decodes other frames through the mount"
fi
unmount "$mnt"

# 3. A bad sector in a file (under the mount, a failing disk): EIO, or 0xE5 with --fill.
long=$("$cli" --disk "$image" info --json "Hard Disk 1/32-Bit FAT Disk/Root Directory/Long name of a recording.ts" |
    field firstLba)
"$tool" -f --bad "$((long + 100))" "$image" "$disk" 2>"$work/tool.err" &
for _ in $(seq 300); do
    [ -e "$disk/disk.img" ] && break
    sleep 0.1
done
[ -e "$disk/disk.img" ] || { echo "skipped: moravel-failing-disk could not mount: $(cat "$work/tool.err")"; exit 77; }
mount "$disk/disk.img"
err=$(cat "$root/Long name of a recording.ts" 2>&1 >/dev/null || true)
[[ $err == *"Input/output error"* ]] || fail "a bad sector did not fail the read with EIO: $err"
# The 4 KiB pages before the one that holds the bad sector (bytes 51200-51711).
head -c 49152 "$root/Long name of a recording.ts" | cmp -s - <(head -c 49152 "$work/long") ||
    fail "the bytes before the bad sector cannot be read"
unmount "$mnt"
mount "$disk/disk.img" --fill
"$cli" --disk "$disk/disk.img" copy "Hard Disk 1/32-Bit FAT Disk/Root Directory/Long name of a recording.ts" \
    "$work/out/filled" >/dev/null 2>&1 || true
cmp -s "$root/Long name of a recording.ts" "$work/out/filled" || fail "--fill does not read as the copy fills"
unmount "$mnt"
exit "$failed"
