#!/usr/bin/env bash
# Usage: udisks-session.sh IMAGE -- COMMAND [ARGS...]
#
# Runs COMMAND against a real udisks daemon on a private D-Bus system bus,
# with IMAGE attached read-only as a loop device, so that the program's
# udisks path (Block.OpenDevice, the ObjectManager's disk list) can be tried
# as an ordinary user. The session starts, and stops again when COMMAND ends:
#   - dbus-daemon with a system bus on $MORAVEL_UDISKS_SESSION_DIR/system_bus_socket,
#     open to every user (a user such as nobody can call udisks on it);
#   - python3-dbusmock's polkitd, which answers udisksd's authorization checks;
#   - systemd-udevd, unless one already answers (udisksd lists only the block
#     devices udev has seen, and learns of new loop devices from udev's events);
#   - /usr/libexec/udisks2/udisksd;
#   - a read-only loop device over IMAGE (losetup -r), which IMAGE is never
#     written through.
#
# COMMAND runs with:
#   DBUS_SYSTEM_BUS_ADDRESS     the private bus (keep it across runuser: -w or env)
#   MORAVEL_TEST_LOOP           /dev/loopN over IMAGE, listed by udisks with its size
#   MORAVEL_UDISKS_SESSION_DIR  the session's folder (logs: dbus.log, polkitd.log,
#                               udevd.log, udisksd.log)
#   PATH                        with the session's helpers first:
#     polkit-allow [ACTION...]  the polkit actions granted from now on; none: every
#                               action is refused. The session starts granting
#                               org.freedesktop.udisks2.open-device and
#                               org.freedesktop.udisks2.open-device-system.
#     loop-add IMAGE            attaches IMAGE read-only, prints /dev/loopN once
#                               udisks lists it with a size (root only)
#     loop-remove /dev/loopN    detaches a device that loop-add made, returns once
#                               udisks lists it no more or with size 0 (root only)
#
# Exits with COMMAND's exit code; 77 (skip) with "SKIP: reason" when the machine
# cannot hold the session (not root, no loop devices, a component missing).
# Whatever happens (COMMAND fails, Ctrl-C), everything the session started is
# stopped and every loop device it made is detached.
set -euo pipefail

UDISKSD=/usr/libexec/udisks2/udisksd
PYTHON=/usr/bin/python3 # Debian's, where python3-dbusmock is installed
WAIT_SECONDS=20

skip() {
    echo "SKIP: $*"
    exit 77
}

fail() {
    echo "udisks-session: $*" >&2
    exit 1
}

if [[ $# -lt 3 || $2 != -- ]]; then
    echo "usage: $0 IMAGE -- COMMAND [ARGS...]" >&2
    exit 2
fi
image=$1
shift 2
[[ -f $image || -b $image ]] || fail "no disk image at $image"

[[ $(id -u) -eq 0 ]] || skip "not root (loop devices and udisksd need root)"
[[ -e /dev/loop-control ]] || skip "no /dev/loop-control"
[[ -x $UDISKSD ]] || skip "$UDISKSD missing (package udisks2)"
command -v dbus-daemon >/dev/null || skip "dbus-daemon missing (package dbus)"
command -v busctl >/dev/null || skip "busctl missing (package systemd)"
command -v udevadm >/dev/null || skip "udevadm missing (package udev)"
if ! [[ -x $PYTHON ]] || ! $PYTHON -c 'import dbusmock' 2>/dev/null; then
    skip "python3-dbusmock missing for $PYTHON"
fi
udevd=
for candidate in /lib/systemd/systemd-udevd /usr/lib/systemd/systemd-udevd; do
    if [[ -x $candidate ]]; then
        udevd=$candidate
        break
    fi
done
[[ -n $udevd ]] || udevadm control --ping 2>/dev/null || skip "no systemd-udevd (package udev)"

# Everything the session starts, to stop when it ends.
session=
dbus_pid=
polkit_pid=
udevd_pid=
udisksd_pid=

stop() { # PID: TERM, then KILL after 5 s
    local pid=$1 i
    kill -TERM "$pid" 2>/dev/null || return 0
    for ((i = 0; i < 50; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

cleanup() {
    set +e
    [[ -n $udisksd_pid ]] && stop "$udisksd_pid"
    if [[ -n $session && -f $session/loops ]]; then
        local loop
        while read -r loop; do
            [[ -n $loop ]] && losetup -d "$loop" 2>/dev/null
        done <"$session/loops"
    fi
    if [[ -n $udevd_pid ]]; then
        udevadm settle --timeout=5 2>/dev/null
        stop "$udevd_pid"
    fi
    [[ -n $polkit_pid ]] && stop "$polkit_pid"
    [[ -n $dbus_pid ]] && stop "$dbus_pid"
    [[ -n $session ]] && rm -rf "$session"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Until COMMAND SECONDS: true once COMMAND succeeds, false when the time is up.
wait_for() {
    local seconds=$1 i
    shift
    for ((i = 0; i < seconds * 10; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

alive() { kill -0 "$1" 2>/dev/null; }

on_bus() {
    busctl --system call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus \
        NameHasOwner s "$1" 2>/dev/null | grep -qx 'b true'
}

# /tmp, not $TMPDIR: the bus socket's path must stay short, and nobody must reach it.
session=$(mktemp -d /tmp/udisks-session.XXXXXX)
chmod 0755 "$session"
export MORAVEL_UDISKS_SESSION_DIR=$session
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$session/system_bus_socket
: >"$session/loops"
started=$(date +%s%N)

cat >"$session/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>$DBUS_SYSTEM_BUS_ADDRESS</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow receive_sender="*"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
EOF
# umask 000: the socket is made srwxrwxrwx, for every user.
(umask 000 && exec dbus-daemon --config-file="$session/bus.conf" --nofork --print-address \
    >"$session/dbus.address" 2>"$session/dbus.log") &
dbus_pid=$!
wait_for "$WAIT_SECONDS" test -s "$session/dbus.address" ||
    fail "dbus-daemon did not start: $(cat "$session/dbus.log")"
[[ $(stat -c %a "$session/system_bus_socket") == 777 ]] || chmod 0666 "$session/system_bus_socket"

$PYTHON -m dbusmock --system --template polkitd >"$session/polkitd.log" 2>&1 &
polkit_pid=$!
wait_for "$WAIT_SECONDS" on_bus org.freedesktop.PolicyKit1 ||
    fail "the polkitd mock did not come on the bus: $(cat "$session/polkitd.log")"

cat >"$session/bin-polkit-allow" <<EOF
#!/bin/sh
# polkit-allow [ACTION...]: grants exactly these polkit actions; none refuses all.
export DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SYSTEM_BUS_ADDRESS
exec busctl --system call org.freedesktop.PolicyKit1 /org/freedesktop/PolicyKit1/Authority \\
    org.freedesktop.DBus.Mock SetAllowed as "\$#" "\$@"
EOF

# udisksd sees only the block devices that udev has processed, and new loop
# devices only through udev's events: a udevd must run for the whole session.
if ! udevadm control --ping 2>/dev/null; then
    "$udevd" >"$session/udevd.log" 2>&1 &
    udevd_pid=$!
    wait_for "$WAIT_SECONDS" udevadm control --ping 2>/dev/null ||
        fail "systemd-udevd did not start: $(cat "$session/udevd.log")"
fi
udevadm trigger --subsystem-match=block --action=add
udevadm settle --timeout="$WAIT_SECONDS"

"$UDISKSD" >"$session/udisksd.log" 2>&1 &
udisksd_pid=$!
if ! wait_for "$WAIT_SECONDS" on_bus org.freedesktop.UDisks2; then
    alive "$udisksd_pid" || fail "udisksd exited: $(cat "$session/udisksd.log")"
    fail "udisksd did not take org.freedesktop.UDisks2 within ${WAIT_SECONDS}s"
fi

cat >"$session/bin-loop-add" <<EOF
#!/usr/bin/env bash
# loop-add IMAGE: attaches IMAGE read-only, prints /dev/loopN once udisks lists it.
set -euo pipefail
export DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SYSTEM_BUS_ADDRESS
[[ \$# -eq 1 ]] || { echo "usage: loop-add IMAGE" >&2; exit 2; }
loop=\$(losetup -r -f --show "\$1")
echo "\$loop" >>"$session/loops"
object=/org/freedesktop/UDisks2/block_devices/\${loop#/dev/}
for ((i = 0; i < $WAIT_SECONDS * 10; i++)); do
    size=\$(busctl --system get-property org.freedesktop.UDisks2 "\$object" \\
        org.freedesktop.UDisks2.Block Size 2>/dev/null || true)
    if [[ -n \$size && \$size != "t 0" ]]; then
        echo "\$loop"
        exit 0
    fi
    sleep 0.1
done
echo "loop-add: udisks did not list \$loop with a size within ${WAIT_SECONDS}s" >&2
exit 1
EOF

cat >"$session/bin-loop-remove" <<EOF
#!/usr/bin/env bash
# loop-remove /dev/loopN: detaches it, returns once udisks lists it no more or with size 0.
set -euo pipefail
export DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SYSTEM_BUS_ADDRESS
[[ \$# -eq 1 ]] || { echo "usage: loop-remove /dev/loopN" >&2; exit 2; }
loop=\$1
grep -qx -- "\$loop" "$session/loops" ||
    { echo "loop-remove: \$loop was not made by loop-add" >&2; exit 2; }
losetup -d "\$loop"
sed -i "\\|^\$loop\\\$|d" "$session/loops"
object=/org/freedesktop/UDisks2/block_devices/\${loop#/dev/}
for ((i = 0; i < $WAIT_SECONDS * 10; i++)); do
    size=\$(busctl --system get-property org.freedesktop.UDisks2 "\$object" \\
        org.freedesktop.UDisks2.Block Size 2>/dev/null || true)
    [[ -z \$size || \$size == "t 0" ]] && exit 0
    sleep 0.1
done
echo "loop-remove: udisks still lists \$loop with \$size after ${WAIT_SECONDS}s" >&2
exit 1
EOF

mkdir "$session/bin"
for helper in polkit-allow loop-add loop-remove; do
    mv "$session/bin-$helper" "$session/bin/$helper"
    chmod 0755 "$session/bin/$helper"
done
export PATH=$session/bin:$PATH

polkit-allow org.freedesktop.udisks2.open-device org.freedesktop.udisks2.open-device-system \
    >/dev/null

MORAVEL_TEST_LOOP=$(loop-add "$image")
export MORAVEL_TEST_LOOP
echo "udisks-session: $MORAVEL_TEST_LOOP over $image, ready in" \
    "$((($(date +%s%N) - started) / 1000000)) ms" >&2

set +e
"$@"
status=$?
set -e
exit "$status"
