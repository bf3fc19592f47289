#!/usr/bin/env bash
# Tries the udisks test session the way the program uses udisks, as user nobody:
# the disk list, a read-only Block.OpenDevice, the refusal when polkit says no,
# and a second loop device coming and going. Exits 77 where the machine cannot
# hold the session (see udisks-session.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [[ ${1:-} != --in-session ]]; then
    command -v sfdisk >/dev/null || { echo "SKIP: sfdisk missing (package fdisk)"; exit 77; }
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    # Two 16 MiB disks with an MBR partition table: sector 0 ends in 55 AA.
    truncate -s 16M "$work/disk.img"
    echo ',,c' | sfdisk -q "$work/disk.img"
    cp --sparse=always "$work/disk.img" "$work/second.img"
    status=0
    "$here/udisks-session.sh" "$work/disk.img" -- "$0" --in-session "$work" || status=$?
    exit "$status"
fi
work=$2

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

as_nobody() {
    runuser -u nobody -- env DBUS_SYSTEM_BUS_ADDRESS="$DBUS_SYSTEM_BUS_ADDRESS" "$@"
}

probe() { # the probe's source comes on stdin: nobody needs no access to this tree
    as_nobody /usr/bin/python3 - "$@" <"$here/udisks-probe.py"
}

object_of() { echo "/org/freedesktop/UDisks2/block_devices/${1#/dev/}"; }

listed() { # DEVICE [SIZE]: udisks lists DEVICE (with SIZE)
    local list
    list=$(probe list) # whole: grep -q must not cut the probe short
    grep -q "^$(object_of "$1") $1 ${2:-[0-9]*}\( \|\$\)" <<<"$list"
}

echo "== the disk list, as nobody"
probe list | tee "$work/list.txt"
grep -qx "$(object_of "$MORAVEL_TEST_LOOP") $MORAVEL_TEST_LOOP 16777216 loop=$work/disk.img" \
    "$work/list.txt" || fail "udisks does not list $MORAVEL_TEST_LOOP over $work/disk.img"

echo "== Block.OpenDevice(\"r\"), as nobody"
probe open "$MORAVEL_TEST_LOOP" || fail "no read-only descriptor of $MORAVEL_TEST_LOOP"

echo "== Block.OpenDevice(\"r\") when polkit refuses every action"
polkit-allow >/dev/null
status=0
probe open "$MORAVEL_TEST_LOOP" | tee "$work/refused.txt" || status=$?
[[ $status -eq 3 ]] || fail "OpenDevice was not refused (exit $status)"
grep -q '^refused: org\.freedesktop\.UDisks2\.Error\.NotAuthorized' "$work/refused.txt" ||
    fail "the refusal is not NotAuthorized"

echo "== Block.OpenDevice(\"r\") with only open-device (a loop device is a system device)"
polkit-allow org.freedesktop.udisks2.open-device >/dev/null
status=0
probe open "$MORAVEL_TEST_LOOP" || status=$?
[[ $status -eq 3 ]] || fail "OpenDevice of a loop device needs no open-device-system (exit $status)"
polkit-allow org.freedesktop.udisks2.open-device org.freedesktop.udisks2.open-device-system \
    >/dev/null
probe open "$MORAVEL_TEST_LOOP" || fail "OpenDevice refused once granted again"

echo "== a second loop device comes and goes"
dbus-monitor --system "sender='org.freedesktop.UDisks2',type='signal'" >"$work/signals.txt" 2>&1 &
monitor=$!
for ((i = 0; i < 100; i++)); do
    grep -q NameAcquired "$work/signals.txt" && break
    sleep 0.1
done
second=$(loop-add "$work/second.img")
listed "$second" 16777216 || fail "udisks does not list $second after loop-add"
echo "$second listed with 16777216 bytes"
loop-remove "$second"
if listed "$second"; then
    listed "$second" 0 || fail "udisks lists $second with a size after loop-remove"
    echo "$second listed with 0 bytes"
else
    echo "$second no more listed"
fi
# The sizes udisks signalled for the second device so far.
signalled_sizes() {
    awk -v path="$(object_of "$second")" '
        /^signal/ { ours = index($0, "path=" path ";") > 0; next }
        ours && /string "Size"/ { getline; printf " %s", $NF }' "$work/signals.txt"
}
# The monitor writes the signals as they come: until the size 0 of the detach.
for ((i = 0; i < 300; i++)); do
    [[ $(signalled_sizes) =~ \ 0$ ]] && break
    sleep 0.1
done
kill "$monitor"
wait "$monitor" 2>/dev/null || true
echo "signals from udisks about $second, or its manager:"
sed -n 's/^signal .*path=\([^;]*\); interface=[^;]*; member=\([A-Za-z]*\)$/  \2 \1/p' \
    "$work/signals.txt" | grep -e "$(object_of "$second")\$" -e ' /org/freedesktop/UDisks2$' |
    tee "$work/seen.txt"
sizes=$(signalled_sizes)
echo "Size of $second as udisks signalled it:$sizes"
[[ $sizes =~ \ 16777216(\ .*)?\ 0$ ]] ||
    fail "udisks did not signal the size of $second at setup, then 0 at detach"
echo "PASS"
