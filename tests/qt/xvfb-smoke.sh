#!/usr/bin/env bash
# The real program on a virtual X server: starts moravel on the sample disk,
# walks the tree with the keyboard (the disk, its FAT32 volume, the root
# directory, each opened with Right), takes screenshots with ImageMagick and
# checks them, checks the window's title, fixed size and class as the X server
# has them (the class is the menu entry's StartupWMClass), and closes the window
# with Escape: the program must end with status 0.
#
#   xvfb-smoke.sh PROGRAM SAMPLE_DISK_MAKER OUTPUT_DIR DESKTOP_FILE
#
# Exit status 77 (skipped) when Xvfb, xvfb-run, xdotool, xprop or ImageMagick
# is missing.
set -euo pipefail

if [ "${1:-}" != --inner ]; then
    for tool in Xvfb xvfb-run xauth xdotool xprop import convert; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
            exit 77
        fi
    done
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" --inner "$@"
fi
shift
program=$1
make_sample=$2
output=$3
desktop_file=$4

work=$(mktemp -d)
pid=""
cleanup() {
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        kill "$pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

mkdir -p "$output"
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR=$work/runtime
export XDG_CONFIG_HOME=$work/config
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
"$make_sample" "$work/sample.img" >/dev/null

"$program" --disk "$work/sample.img" >"$work/out.log" 2>&1 &
pid=$!

window=""
for _ in $(seq 100); do
    window=$(xdotool search --name "Veltrano Harddisk Recorder Utility" 2>/dev/null | head -1 || true)
    if [ -n "$window" ]; then
        break
    fi
    sleep 0.1
done
[ -n "$window" ] || fail "no window came up: $(cat "$work/out.log")"
sleep 0.5

title=$(xprop -id "$window" _NET_WM_NAME)
case $title in
    *'"Veltrano Harddisk Recorder Utility"'*) ;;
    *) fail "window title: $title" ;;
esac
hints=$(xprop -id "$window" WM_NORMAL_HINTS)
minimum=$(echo "$hints" | sed -n 's/.*minimum size: \([0-9]* by [0-9]*\).*/\1/p')
maximum=$(echo "$hints" | sed -n 's/.*maximum size: \([0-9]* by [0-9]*\).*/\1/p')
[ -n "$minimum" ] && [ "$minimum" = "$maximum" ] || fail "not of a fixed size: $hints"
# WM_CLASS is "instance", "class": desktops match the class with the menu entry.
class=$(xprop -id "$window" WM_CLASS | sed -n 's/.*", "\(.*\)"$/\1/p')
startup_class=$(sed -n 's/^StartupWMClass=//p' "$desktop_file")
[ -n "$class" ] && [ "$class" = "$startup_class" ] ||
    fail "the window's class '$class' is not the menu entry's StartupWMClass '$startup_class'"
icon=$(xprop -id "$window" _NET_WM_ICON)
case $icon in
    *"Icon ("*) ;;
    *) fail "no window icon: $icon" ;;
esac

import -window "$window" "$output/moravel-xvfb-start.png"

# The keyboard goes where the pointer is (no window manager): into the window,
# on the labels' row, where a click changes nothing.
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --sync $((X + 8)) $((Y + 4)) click 1
sleep 0.2
xdotool key Tab  # from Copy File to the tree
for key in Down Right Down Right Down Right; do
    xdotool key "$key"
    sleep 0.3
done
sleep 0.5
shot=$output/moravel-xvfb.png
import -window "$window" "$shot"
echo "screenshot: $shot"

colours=$(convert "$shot" -format %k info:)
[ "$colours" -gt 30 ] || fail "the screenshot has $colours colours"
if convert "$output/moravel-xvfb-start.png" "$shot" -metric AE -compare -format "%[distortion]" info: \
    2>/dev/null | grep -qx 0; then
    fail "the tree did not change under the keys"
fi

xdotool key Escape
for _ in $(seq 50); do
    if ! kill -0 "$pid" 2>/dev/null; then
        break
    fi
    sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
    fail "Escape did not end the program"
fi
status=0
wait "$pid" || status=$?
pid=""
[ "$status" -eq 0 ] || fail "the program ended with status $status: $(cat "$work/out.log")"
echo "ok"
