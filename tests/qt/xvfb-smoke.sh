#!/usr/bin/env bash
# The real program on a virtual X server: starts moravel on the sample disk,
# walks the tree with the keyboard (the disk, its FAT32 volume, the root
# directory, each opened with Right, then RECORDS), takes screenshots with
# ImageMagick and checks them, checks the window's title, smallest size and
# class as the X server has them (the class is the menu entry's
# StartupWMClass). Escape leaves the window open. Made 1400x900, and then
# maximised, the list grows with the window (its white area measured in
# screenshots). A click on the header of Size (bytes), and then of Modified,
# sorts the list: Tab into the list selects the first row (Enter on it opens
# the Save dialog) and Space opens its preview, whose title names the row.
# Ctrl+Q ends the program, with status 0. Then, where ffmpeg and the FAT tools
# are there, it opens Preview... from the menu at the selected row (Shift+F10)
# on a recording that ffmpeg made onto a volume of mkfs.fat and mcopy, checks
# the picture's colours in a screenshot of it, and closes it with Escape. Under
# openbox where it is installed, as on a desktop.
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
    exec xvfb-run -a -s "-screen 0 1600x1200x24" "$0" --inner "$@"
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
# The layout's size is the smallest, and the window can be made larger.
hints=$(xprop -id "$window" WM_NORMAL_HINTS)
minimum=$(echo "$hints" | sed -n 's/.*minimum size: \([0-9]* by [0-9]*\).*/\1/p')
maximum=$(echo "$hints" | sed -n 's/.*maximum size: \([0-9]* by [0-9]*\).*/\1/p')
[ -n "$minimum" ] && [ "$minimum" != "$maximum" ] || fail "not of a size to change: $hints"
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
# on the labels' row, where a click changes nothing. The tree has the focus
# (Copy File has nothing to copy yet).
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --sync $((X + 8)) $((Y + 4)) click 1
settled
for key in Down Right Down Right Down Right Down; do
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

# Escape, with nothing running, leaves the window as it is.
xdotool key Escape
settled
kill -0 "$pid" 2>/dev/null || fail "Escape ended the program"
xwininfo -id "$window" | grep -q "Map State: IsViewable" || fail "Escape closed the window"

# The list's white area in a screenshot of the window: "left right top bottom"
# of the longest white run across the window's middle, and down its right end.
white_run() {  # picture, crop (WxH+X+Y): "start end" of the longest white run
    convert "$1" -crop "$2" +repage -depth 8 txt:- | awk -F'[ ,:]+' '
        NR > 1 { white = ($0 ~ /#FFFFFF/); i = NR - 2
                 if (white) { if (!run) first = i; run++; if (run > best) { best = run; from = first } }
                 else run = 0 }
        END { print from, from + best - 1 }'
}
list_area() {
    local picture=$1 width height row column
    width=$(identify -format %w "$picture")
    height=$(identify -format %h "$picture")
    read -r left right <<<"$(white_run "$picture" "${width}x1+0+$((height / 2))")"
    read -r top bottom <<<"$(white_run "$picture" "1x${height}+$((right - 2))+0")"
    echo "$left $right $top $bottom"
}
# The pixel's colour at x y.
pixel() {
    convert "$1" -format "%[pixel:p{$2,$3}]" info:
}
# The header's sections: the x of each line between them, on the header's top
# row (below the list's frame), where no title is written.
header_lines() {
    local picture=$1 left=$2 right=$3 top=$4 y frame
    frame=$(pixel "$picture" $((left - 1)) $((top + 40)))
    y=$((top - 1))
    while [ "$y" -gt 0 ] && [ "$(pixel "$picture" $((right - 2)) "$y")" != "$frame" ]; do
        y=$((y - 1))
    done
    convert "$picture" -crop "$((right - left + 1))x1+$left+$((y + 1))" +repage -depth 8 txt:- |
        awk -v left="$left" -F'[ ,:]+' 'NR == 2 { back = $NF } NR > 1 && $NF != back { print left + $1 }'
    echo "header $y" >&2
}
shot_window() {
    import -window "$window" "$1"
}
before=$work/before.png
shot_window "$before"
read -r left right top bottom <<<"$(list_area "$before")"
echo "list at first: $left..$right x $top..$bottom"

# Made 1400x900 the list takes the room: as much wider and taller as the window.
eval "$(xdotool getwindowgeometry --shell "$window")"
old_width=$WIDTH
old_height=$HEIGHT
xdotool windowsize "$window" 1400 900
for _ in $(seq 100); do
    xwininfo -id "$window" | grep -q "Width: 1400" && xwininfo -id "$window" | grep -q "Height: 900" &&
        break
    sleep 0.1
done
xwininfo -id "$window" | grep -q "Width: 1400" || fail "the window was not made 1400 wide"
settled
large=$output/moravel-xvfb-1400x900.png
shot_window "$large"
echo "screenshot: $large"
read -r left2 right2 top2 bottom2 <<<"$(list_area "$large")"
echo "list at 1400x900: $left2..$right2 x $top2..$bottom2"
grew_across=$(((right2 - left2) - (right - left)))
grew_down=$(((bottom2 - top2) - (bottom - top)))
[ "$grew_across" -eq $((1400 - old_width)) ] ||
    fail "the list grew $grew_across across as the window grew $((1400 - old_width)): see $large"
[ "$grew_down" -eq $((900 - old_height)) ] ||
    fail "the list grew $grew_down down as the window grew $((900 - old_height)): see $large"

# The preview of the row that Tab into the list selects, by its window's title.
preview_title_after() {
    local title=$1
    shift
    xdotool key "$@"
    preview=$(find_window "$title - Preview")
    [ -n "$preview" ] || fail "no preview of $title after $*"
    xdotool key Escape
    for _ in $(seq 100); do
        xdotool search --name "$title - Preview" >/dev/null 2>&1 || return 0
        sleep 0.1
    done
    fail "Escape did not close the preview of $title"
}
click_header() {  # x of the section's middle
    xdotool mousemove --sync "$1" "$header_y" click 1
    settled
}
mapfile -t lines < <(header_lines "$large" "$left2" "$right2" "$top2" 2>"$work/header")
header_y=$(($(sed -n 's/header //p' "$work/header") + 8))
[ "${#lines[@]}" -eq 3 ] || fail "the header shows ${#lines[@]} lines between sections: ${lines[*]}"
# Where the window's own area is on the screen (xdotool's geometry counts the
# frame in).
X=$(xwininfo -id "$window" | sed -n 's/.*Absolute upper-left X: *//p')
Y=$(xwininfo -id "$window" | sed -n 's/.*Absolute upper-left Y: *//p')
header_y=$((Y + header_y))
# Tab into the list selects its first row: Enter asks where to copy it (the
# Save dialog, cancelled here).
xdotool key Tab
settled
xdotool key Return
save=$(find_window "Save As")
[ -n "$save" ] || fail "Enter on the list's row opened no Save dialog"
xdotool key Escape
for _ in $(seq 100); do
    xdotool search --name "^Save As$" >/dev/null 2>&1 || break
    sleep 0.1
done
settled
# By size (bytes): the smallest recording first; Home selects it, Space previews it.
click_header $((X + (lines[1] + lines[2]) / 2))
preview_title_after "NEWS0518.TS" Home space
# By date: the oldest first.
click_header $((X + (lines[2] + right2) / 2))
preview_title_after "Film Night 2004-05-15.ts" Home space

# Maximised, the list grows again.
xdotool mousemove --sync $((X + 300)) $((Y - 8)) click --repeat 2 --delay 50 1
for _ in $(seq 100); do
    xprop -id "$window" _NET_WM_STATE | grep -q MAXIMIZED_HORZ && break
    sleep 0.1
done
xprop -id "$window" _NET_WM_STATE | grep -q MAXIMIZED_HORZ || fail "the window was not maximised"
settled
maximised=$work/maximised.png
shot_window "$maximised"
read -r left3 right3 top3 bottom3 <<<"$(list_area "$maximised")"
eval "$(xdotool getwindowgeometry --shell "$window")"
[ $((right3 - left3)) -eq $((right2 - left2 + WIDTH - 1400)) ] ||
    fail "maximised to $WIDTH, the list is $((right3 - left3 + 1)) wide"

# Ctrl+Q ends the program: it must end with status 0.
end_program() {
    xdotool key ctrl+q
    for _ in $(seq 50); do
        if ! kill -0 "$pid" 2>/dev/null; then
            break
        fi
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        fail "Ctrl+Q did not end the program"
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
# The tree's root directory, then the list's first row (Tab selects it), then
# Preview... (P) from the menu that Shift+F10 opens at it.
for key in Down Right Down Right Down Right Tab shift+F10 p; do
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
