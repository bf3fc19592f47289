#!/usr/bin/env bash
# The real program on a virtual X server: starts moravel on the sample disk,
# walks the tree with the keyboard (the disk, its FAT32 volume, the root
# directory, each opened with Right), takes screenshots with ImageMagick and
# checks them, checks the window's title, fixed size and class as the X server
# has them (the class is the menu entry's StartupWMClass), and closes the window
# with Escape: the program must end with status 0. Then, where ffmpeg and the
# FAT tools are there, it opens Preview... on a recording that ffmpeg made onto
# a volume of mkfs.fat and mcopy, checks the picture's colours in a screenshot
# of it, and closes it with Escape. Under openbox where it is installed, as on a
# desktop.
#
#   xvfb-smoke.sh PROGRAM SAMPLE_DISK_MAKER OUTPUT_DIR DESKTOP_FILE
#
# Exit status 77 (skipped) when Xvfb, xvfb-run, xdotool, xprop or ImageMagick
# is missing.
set -euo pipefail

if [ "${1:-}" != --inner ]; then
    for tool in Xvfb xvfb-run xauth xdotool xprop xwininfo import convert; do
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
manager=""
cleanup() {
    for running in $pid $manager; do
        if kill -0 "$running" 2>/dev/null; then
            kill "$running" 2>/dev/null || true
        fi
    done
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
if command -v openbox >/dev/null 2>&1; then
    openbox >"$work/openbox.log" 2>&1 &
    manager=$!
    # Running once it has said so on the root window (EWMH).
    for _ in $(seq 300); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
        sleep 0.1
    done
fi

"$program" --disk "$work/sample.img" >"$work/out.log" 2>&1 &
pid=$!

# The window of that title, once it is there (up to 30 s); nothing when it never is.
find_window() {
    local found
    for _ in $(seq 300); do
        found=$(xdotool search --name "$1" 2>/dev/null | head -1 || true)
        if [ -n "$found" ]; then
            echo "$found"
            return
        fi
        sleep 0.1
    done
}
# Waits until the window is on the screen (mapped and viewable).
shown() {
    for _ in $(seq 300); do
        xwininfo -id "$1" 2>/dev/null | grep -q "Map State: IsViewable" && return
        sleep 0.1
    done
    fail "window $1 was never shown"
}
# Waits until the screen has taken in what was sent: two pictures of it in a row
# are the same (a key that opens a folder shows its rows after the disk is read).
settled() {
    local last="" now same=0
    for _ in $(seq 300); do
        now=$(import -window root png:- 2>/dev/null | md5sum)
        if [ "$now" = "$last" ]; then
            same=$((same + 1))
            [ "$same" -ge 2 ] && return
        else
            same=0
        fi
        last=$now
        sleep 0.1
    done
    fail "the screen never settled"
}
window=$(find_window "Veltrano Harddisk Recorder Utility")
[ -n "$window" ] || fail "no window came up: $(cat "$work/out.log")"
shown "$window"

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
settled
xdotool key Tab  # from Copy File to the tree
for key in Down Right Down Right Down Right; do
    xdotool key "$key"
    settled
done
shot=$output/moravel-xvfb.png
import -window "$window" "$shot"
echo "screenshot: $shot"

colours=$(convert "$shot" -format %k info:)
[ "$colours" -gt 30 ] || fail "the screenshot has $colours colours"
if convert "$output/moravel-xvfb-start.png" "$shot" -metric AE -compare -format "%[distortion]" info: \
    2>/dev/null | grep -qx 0; then
    fail "the tree did not change under the keys"
fi

# Escape ends the program: it must end with status 0.
end_program() {
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
}
end_program

for tool in ffmpeg mkfs.fat mcopy; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "ok (no preview: $tool is not installed)"
        exit 0
    fi
done
# Colour bars with a tone, as a recorder's transport stream.
ffmpeg -loglevel error -f lavfi -i smptebars=duration=12:size=320x240:rate=25 \
    -f lavfi -i sine=frequency=440:duration=12 -c:v mpeg2video -q:v 3 -c:a mp2 -f mpegts \
    "$work/NEWS0518.TS"
mkfs.fat -C -F 32 -s 1 -n RECORDER "$work/recorder.img" 40000 >/dev/null
mcopy -i "$work/recorder.img" "$work/NEWS0518.TS" ::NEWS0518.TS
"$program" --disk "$work/recorder.img" >"$work/out.log" 2>&1 &
pid=$!
window=$(find_window "Veltrano Harddisk Recorder Utility")
[ -n "$window" ] || fail "no window came up on the recording: $(cat "$work/out.log")"
shown "$window"
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --sync $((X + 8)) $((Y + 4)) click 1
settled
# The tree's root directory, then the list's first row, then Preview... (P) from
# the menu that Shift+F10 opens.
xdotool key Tab
for key in Down Right Down Right Down Right Tab space shift+F10 p; do
    xdotool key "$key"
    settled
done
preview=$(find_window "NEWS0518.TS - Preview")
[ -n "$preview" ] || fail "Preview... opened no window"
# The share of the preview's picture in a colour (each bar is some 6% of the
# window; the window's grey and white are not near).
share_of() {
    convert "$work/preview.png" -fuzz 8% -fill "rgb(1,2,3)" -opaque "$1" -fuzz 0 \
        -fill black +opaque "rgb(1,2,3)" -fill white -opaque "rgb(1,2,3)" -format "%[fx:mean]" info:
}
# The bars' light grey and yellow are in the preview's picture once it is read
# and decoded (on its own thread).
for _ in $(seq 300); do
    import -window "$preview" "$work/preview.png"
    awk -v share="$(share_of "rgb(191,191,0)")" 'BEGIN { exit !(share > 0.03) }' && break
    sleep 0.1
done
shot=$output/moravel-xvfb-preview.png
import -window root "$shot"
echo "screenshot: $shot"
for colour in "rgb(191,191,191)" "rgb(191,191,0)"; do
    share=$(share_of "$colour")
    awk -v share="$share" 'BEGIN { exit !(share > 0.03) }' ||
        fail "the preview shows little $colour (share $share): see $shot"
done
xdotool key Escape
for _ in $(seq 50); do
    xdotool search --name "NEWS0518.TS - Preview" >/dev/null 2>&1 || break
    sleep 0.1
done
if xdotool search --name "NEWS0518.TS - Preview" >/dev/null 2>&1; then
    fail "Escape did not close the preview"
fi
kill -0 "$pid" 2>/dev/null || fail "closing the preview ended the program"
end_program
echo "ok"
