#!/usr/bin/env bash
# Runs the Windows build under Wine: the test suites built for Windows (the
# window's among them, on Wine's null display driver), then moravel-cli.exe
# against the Linux moravel-cli on the sample disk (the listing must be the same
# byte for byte, and so must the copies). With Xvfb, xdotool and ImageMagick's
# import at hand, moravel.exe is then shown on the sample disk, browsed to
# RECORDS, and photographed into WINDOWS_BUILD/win32-window.png.
#
#   scripts/test-windows.sh [WINDOWS_BUILD [LINUX_BUILD]]
#
# WINDOWS_BUILD (default build-windows) comes from scripts/build-windows.sh,
# LINUX_BUILD (default build) from scripts/build.sh: its moravel-make-sample-disk
# makes the disk and its moravel-cli gives the reference. Wine runs in a fresh
# prefix in a temporary folder, which is removed at the end with the disk and
# the copies (the copies need about 6 GB in TMPDIR).
set -euo pipefail
cd "$(dirname "$0")/.."
windows="$(realpath "${1:-build-windows}")"
linux="$(realpath "${2:-build}")"

wine=""
for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then
        wine="$candidate"
        break
    fi
done
if [ -z "$wine" ]; then
    echo "wine64 is not installed (scripts/install-windows-deps.sh)" >&2
    exit 2
fi
wineserver="$(dirname "$wine")/wineserver"
if [ ! -x "$wineserver" ]; then
    wineserver="$(command -v wineserver || echo true)"
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/moravel-windows-XXXXXX")"
xvfb=""
trap '"$wineserver" -k 2>/dev/null || true; [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true; rm -rf "$work"' EXIT
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$wine" wineboot -i >/dev/null 2>&1
# The window's tests need no X server: Wine's null display driver, which the prefix takes once
# its first server has ended.
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
"$wineserver" -w

failed=0
step() {
    echo "== $*"
}

# The suites. Each runs in its own folder of the work area (Z: is the root of the
# Linux file system under Wine, so the paths the tests were built with resolve).
for suite in disk_tests tree_tests copy_tests cli_tests win32_tests failing_disk_tests; do
    program="$windows/bin/$suite.exe"
    if [ ! -f "$program" ]; then
        echo "$suite.exe was not built" >&2
        failed=1
        continue
    fi
    step "$suite"
    mkdir -p "$work/$suite"
    status=0
    (cd "$work/$suite" && "$wine" "$program" --gtest_brief=1) >"$work/$suite.log" 2>&1 || status=$?
    tail -n 40 "$work/$suite.log"
    if [ "$status" -ne 0 ]; then
        echo "$suite FAILED (exit status $status)" >&2
        failed=1
    fi
done

# moravel-cli.exe against moravel-cli.
cd "$work"
step "sample disk"
"$linux/bin/moravel-make-sample-disk" sample.img
cli_windows=("$wine" "$windows/bin/moravel-cli.exe" --disk sample.img)
cli_linux=("$linux/bin/moravel-cli" --disk sample.img)

step "list -r"
"${cli_linux[@]}" list -r >list-linux.txt
"${cli_windows[@]}" list -r >list-windows.txt
if cmp list-linux.txt list-windows.txt; then
    echo "list -r: the same $(wc -c <list-linux.txt) bytes, $(wc -l <list-linux.txt) lines"
else
    echo "list -r differs:" >&2
    diff list-linux.txt list-windows.txt | head -20 >&2
    failed=1
fi

step "list --json"
"${cli_linux[@]}" list -r --json >json-linux.txt
"${cli_windows[@]}" list -r --json >json-windows.txt
if cmp json-linux.txt json-windows.txt; then
    echo "list -r --json: the same $(wc -c <json-linux.txt) bytes"
else
    echo "list -r --json differs" >&2
    failed=1
fi

copy_and_compare() {
    local treepath="$1" name="$2"
    shift 2
    rm -rf out-linux out-windows
    mkdir out-linux out-windows
    "${cli_linux[@]}" copy "$@" "$treepath" out-linux/ >out-linux.txt 2>&1 || true
    "${cli_windows[@]}" copy "$@" "$treepath" out-windows/ >out-windows.txt 2>&1 || true
    local same=1
    for file in out-linux/*; do
        local part="${file#out-linux/}"
        if cmp "$file" "out-windows/$part"; then
            echo "$part: the same $(stat -c %s "$file") bytes, modified $(date -u -r "out-windows/$part" '+%F %R') (Linux copy $(date -u -r "$file" '+%F %R'))"
        else
            same=0
        fi
    done
    if [ "$(ls out-linux)" != "$(ls out-windows)" ] || [ "$(ls out-linux | wc -l)" -eq 0 ]; then
        same=0
    fi
    if [ "$same" -ne 1 ]; then
        echo "copy of $name differs: Linux made [$(ls out-linux)], Windows [$(ls out-windows)]" >&2
        cat out-windows.txt >&2
        failed=1
    fi
    head -c 200 out-windows.txt
}

step "copy TRAILER.TS"
copy_and_compare "Hard Disk 1/32-Bit FAT Disk/Root Directory/Archive 2003/TRAILER.TS" TRAILER.TS
step "copy Evening News"
copy_and_compare "Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS/Evening News 2004-05-17.ts" \
    "Evening News"
step "copy Film Night in parts (5,000,000,000 bytes)"
copy_and_compare "Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS/Film Night 2004-05-15.ts" \
    "Film Night" --split always
rm -rf out-linux out-windows

# Paths are UTF-8 in the program and UTF-16 to Windows: a folder named with letters
# beyond ASCII must be the one written to.
step "copy into a folder named \"Été €\""
mkdir "Été €"
"${cli_windows[@]}" copy "Hard Disk 1/32-Bit FAT Disk/Root Directory/Archive 2003" "Été €" \
    >out-windows.txt 2>&1 || true
"${cli_linux[@]}" copy "Hard Disk 1/32-Bit FAT Disk/Root Directory/Archive 2003/TRAILER.TS" \
    trailer-linux.ts >/dev/null 2>&1 || true
if cmp trailer-linux.ts "Été €/Archive 2003/TRAILER.TS"; then
    echo "Été €/Archive 2003/TRAILER.TS: the same $(stat -c %s trailer-linux.ts) bytes"
else
    echo "the copy into \"Été €\" is not there or differs; the folder holds: $(find "Été €")" >&2
    cat out-windows.txt >&2
    failed=1
fi
rm -rf "Été €" trailer-linux.ts

# What needs FUSE or FFmpeg says so on Windows, with the usage status, and leaves
# no file behind.
step "mount and thumbnail: not available"
trailer="Hard Disk 1/32-Bit FAT Disk/Root Directory/Archive 2003/TRAILER.TS"
for command in mount thumbnail; do
    if [ "$command" = mount ]; then
        args=(mount M:)
    else
        args=(thumbnail "$trailer" thumb.png)
    fi
    status=0
    "${cli_windows[@]}" "${args[@]}" >out-windows.txt 2>err-windows.txt || status=$?
    tr -d '\r' <err-windows.txt >err.txt
    if [ "$status" -eq 2 ] && grep -q "^moravel-cli: $command is not available on Windows: " err.txt &&
        [ ! -e thumb.png ] && [ ! -e thumb.png.part ]; then
        echo "$command: $(cat err.txt)"
    else
        echo "$command on Windows: status $status, said: $(cat err.txt)" >&2
        failed=1
    fi
done
rm -f out-windows.txt err-windows.txt err.txt

# A look at the real window, when an X server can be made: the tree is clicked,
# browsed with the keyboard down to RECORDS, and the screen saved. Optional: the
# run does not fail without it.
shot="$windows/win32-window.png"
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null && command -v import >/dev/null; then
    step "screenshot"
    number=91
    while [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; do
        number=$((number + 1))
    done
    Xvfb ":$number" -screen 0 1024x768x24 >/dev/null 2>&1 &
    xvfb=$!
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w
    "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f >/dev/null 2>&1
    "$wineserver" -w
    export DISPLAY=":$number"
    # A Wine desktop of its own draws the window's frame, caption and icon.
    "$wine" explorer /desktop=moravel,800x560 "$windows/bin/moravel.exe" --disk sample.img \
        >/dev/null 2>&1 &
    desktop=""
    for _ in $(seq 60); do
        desktop="$(xdotool search --name "Wine desktop" 2>/dev/null | head -n 1 || true)"
        [ -n "$desktop" ] && break
        sleep 0.5
    done
    if [ -n "$desktop" ]; then
        sleep 3
        # The dialog is centred on the desktop: this is the empty lower part of the tree.
        xdotool mousemove 175 400 click 1
        sleep 0.5
        for key in Home Right Down Right Down Right Down; do
            xdotool key "$key"
            sleep 0.7
        done
        sleep 1
        import -window root -crop 800x560+0+0 "$shot" && echo "the window on the sample disk: $shot"
        xdotool key Escape || true
    else
        echo "no window to photograph"
    fi
    "$wineserver" -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    xvfb=""
    unset DISPLAY
fi

if [ "$failed" -ne 0 ]; then
    echo "FAILED" >&2
    exit 1
fi
echo "all passed"
