#!/usr/bin/env bash
# Usage: udisks-cli.sh MORAVEL_CLI FAILING_DISK IMAGE   (inside udisks-session.sh IMAGE)
#
# moravel-cli as user nobody, who may not open /dev/loopN, reads the recorder's
# disk through udisks2: the disk list without --disk, a copy byte for byte the
# same as the copy from the image, a read-only mount of the drive tree that nobody
# makes and ends (its file the same bytes again), the refusal when polkit says
# no, and a disk that stops answering during a copy (its loop device's backing
# file served by FAILING_DISK, which is killed).
set -euo pipefail

cli=$1 failing=$2 image=$3
python=/usr/bin/python3
work=$(mktemp -d /tmp/udisks-cli.XXXXXX)
chmod 0777 "$work"
server=""
served=""
# Undone in this order also when a step fails: the loop device holds the served
# file open, so it goes before the FUSE mount can.
cleanup() {
    [ -n "$server" ] && kill -9 "$server" 2>/dev/null
    [ -n "$served" ] && loop-remove "$served" >/dev/null 2>&1
    for mount in "$work/served" "$work/mnt"; do
        if mountpoint -q "$mount"; then
            fusermount3 -u "$mount" 2>/dev/null || fusermount3 -uz "$mount" 2>/dev/null || true
        fi
    done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

as_nobody() {
    runuser -u nobody -- env DBUS_SYSTEM_BUS_ADDRESS="$DBUS_SYSTEM_BUS_ADDRESS" "$@"
}

# The open flags (octal) with which a process of $1 (pgrep -f) holds $2; empty
# while none does.
flags_of() {
    local pid fd
    for pid in $(pgrep -f -- "$1"); do
        for fd in /proc/"$pid"/fd/*; do
            if [ "$(readlink "$fd")" = "$2" ]; then
                awk '/^flags:/ {print $2}' "/proc/$pid/fdinfo/${fd##*/}"
                return
            fi
        done
    done 2>/dev/null
}

# The first item of a JSON listing whose name starts with $2: its field $3.
field_of() {
    "$python" -c '
import json, sys
def walk(items):
    for item in items:
        yield item
        yield from walk(item.get("children", []))
for item in walk(json.load(open(sys.argv[1]))):
    if item["name"].startswith(sys.argv[2]):
        print(item[sys.argv[3]])
        break
' "$@"
}

echo "== the disk list through udisks2, without --disk"
as_nobody "$cli" list -r --json >"$work/list.json" || fail "list -r --json exited $?"
device=$(field_of "$work/list.json" "Hard Disk" device)
[ "$device" = "$MORAVEL_TEST_LOOP" ] || fail "Hard Disk 1 is '$device', not $MORAVEL_TEST_LOOP"
[ "$(field_of "$work/list.json" "Hard Disk" bus)" = loop ] || fail "the loop disk's bus"
as_nobody "$cli" info "Hard Disk 1" | grep -qx "Device: *$MORAVEL_TEST_LOOP" ||
    fail "info names no device"
recording=$(field_of "$work/list.json" "TRAILER" path)
[ -n "$recording" ] || fail "no recordings in the list: $(head -c 600 "$work/list.json")"
echo "listed $device, bus loop, with $recording"

echo "== a copy through udisks2 is the copy from the image"
as_nobody "$cli" copy "$recording" "$work/through-udisks.ts" || fail "the copy exited $?"
"$cli" --disk "$image" copy "$recording" "$work/from-image.ts" >/dev/null
cmp "$work/through-udisks.ts" "$work/from-image.ts" || fail "the copies differ"
echo "identical: $(stat -c %s "$work/from-image.ts") bytes"

echo "== a read-only mount through udisks2, made and ended by nobody"
mkdir "$work/mnt"
chown nobody "$work/mnt"
as_nobody "$cli" mount "$work/mnt" 2>"$work/err" || fail "the mount exited $?: $(cat "$work/err")"
# Only the user who mounted reads it (FUSE's rule without allow_other).
as_nobody cmp "$work/mnt/$recording" "$work/from-image.ts" || fail "the mount's file differs from the copy"
! cmp -s "$work/mnt/$recording" "$work/from-image.ts" 2>/dev/null || fail "root read nobody's mount"
flags=$(flags_of "mount $work/mnt" "$MORAVEL_TEST_LOOP")
[ -n "$flags" ] || fail "the mount does not hold $MORAVEL_TEST_LOOP"
(((8#$flags & 3) == 0)) || fail "the mount holds $MORAVEL_TEST_LOOP with flags $flags: not read-only"
! as_nobody touch "$work/mnt/$recording" 2>/dev/null || fail "a file of the mount could be changed"
as_nobody fusermount3 -u "$work/mnt" || fail "nobody could not end the mount"
mountpoint -q "$work/mnt" && fail "still mounted"
echo "mounted by nobody, $MORAVEL_TEST_LOOP held with flags $flags (read-only), unmounted"

echo "== polkit refuses"
polkit-allow
set +e
as_nobody "$cli" list >"$work/out" 2>"$work/err"
status=$?
set -e
cat "$work/err"
[ "$status" -eq 1 ] || fail "exit $status, not 1"
grep -qx "moravel-cli: Not authorized to read $MORAVEL_TEST_LOOP" "$work/err" ||
    fail "no refusal naming the disk"
! grep -qi "internal error" "$work/err" || fail "an internal error"
polkit-allow org.freedesktop.udisks2.open-device org.freedesktop.udisks2.open-device-system

echo "== the disk stops answering during a copy"
mkdir "$work/served"
"$failing" -f --good-delay-us 400 "$image" "$work/served" &
server=$!
for _ in $(seq 300); do [ -e "$work/served/disk.img" ] && break; sleep 0.1; done
served=$(loop-add "$work/served/disk.img")
film=$(field_of "$work/list.json" "Film Night" path)
as_nobody "$cli" --disk "$served" copy "$film" "$work/film.ts" >"$work/out" 2>"$work/err" &
copy=$!
# Read-only on every path: the descriptor udisks2 handed over cannot write.
flags=""
for _ in $(seq 300); do
    flags=$(flags_of "--disk $served copy" "$served")
    [ -n "$flags" ] && [ -e "$work/film.ts.part" ] && break
    sleep 0.1
done
[ -n "$flags" ] || fail "the copy never held $served open"
(((8#$flags & 3) == 0)) || fail "$served is open with flags $flags: not read-only"
echo "$served is held with flags $flags (read-only)"
# The copy is under way once its output has its first MB.
for _ in $(seq 300); do
    [ "$(stat -c %s "$work/film.ts.part" 2>/dev/null || echo 0)" -gt 1048576 ] && break
    sleep 0.1
done
kill -9 "$server"
server=""
# Pulled out, a disk leaves nothing to read; here the kernel still caches what
# the dead server served.
echo 1 >/proc/sys/vm/drop_caches
status=0
wait "$copy" || status=$?
cat "$work/err"
[ "$status" -eq 1 ] || fail "exit $status, not 1"
grep -q "The disk $served no longer answers" "$work/err" || fail "no word of the disk"
[ -e "$work/film.ts.part" ] || fail "no .part output"
[ ! -e "$work/film.ts" ] || fail "an output under the final name"
echo "stopped; kept $(stat -c %s "$work/film.ts.part") bytes in film.ts.part"
loop-remove "$served" >/dev/null
served=""
fusermount3 -u "$work/served" || fail "the dead server's mount could not be ended"
echo "PASS"
