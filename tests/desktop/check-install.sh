#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what a desktop needs of it:
# every program, library, menu entry, metainfo and icon in its place, the menu
# entry and the metainfo valid and agreeing with each other and with the
# installed programs and icons, and the installed programs working from bin/
# (the BIOS-service platform finds libDisk32.so, and info the media module,
# beside the program it links to).
#
#   check-install.sh BUILD_DIR SAMPLE_DISK_MAKER WINDOW_BUILT(0|1)
set -euo pipefail

build=$1
make_sample=$2
window=$3
id=org.moravel.moravel

# shellcheck source=install-prefix.sh
. "$(dirname "$0")/install-prefix.sh"

programs=(moravel-cli)
if [ "$window" = 1 ]; then
    programs+=(moravel)
fi

# Files in place.
expected=(
    libexec/moravel/libDisk32.so
    libexec/moravel/moravel-media.so
    share/applications/$id.desktop
    share/metainfo/$id.metainfo.xml
    share/icons/hicolor/scalable/apps/$id.svg
)
sizes=(16 24 32 48 64 128 256)
for size in "${sizes[@]}"; do
    expected+=("share/icons/hicolor/${size}x${size}/apps/$id.png")
done
for program in "${programs[@]}"; do
    expected+=("libexec/moravel/$program" "bin/$program")
done
for file in "${expected[@]}"; do
    [ -f "$prefix/$file" ] || fail "$file is not installed"
done
for program in "${programs[@]}"; do
    [ -x "$prefix/libexec/moravel/$program" ] || fail "libexec/moravel/$program is not executable"
    [ -L "$prefix/bin/$program" ] || fail "bin/$program is not a symbolic link"
    # Relative, so that the tree can be moved (DESTDIR, packaging).
    case "$(readlink "$prefix/bin/$program")" in
        /*) fail "bin/$program links to an absolute path: $(readlink "$prefix/bin/$program")" ;;
    esac
    [ "$(readlink -f "$prefix/bin/$program")" = "$(readlink -f "$prefix/libexec/moravel/$program")" ] ||
        fail "bin/$program does not lead to libexec/moravel/$program"
done

# Every PNG is a PNG of the size its folder names.
for size in "${sizes[@]}"; do
    png=$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png
    [ -f "$png" ] || continue
    # The signature, then IHDR's width and height at bytes 16 and 20, big-endian.
    header=$(od -An -v -tx1 -N24 "$png" | tr -d ' \n')
    signature=${header:0:16} width=${header:32:8} height=${header:40:8}
    if [ "$signature" != 89504e470d0a1a0a ]; then
        fail "$png is not a PNG"
        continue
    fi
    [ $((16#$width))x$((16#$height)) = "${size}x${size}" ] ||
        fail "$png is $((16#$width))x$((16#$height)), not ${size}x${size}"
done
svg=$prefix/share/icons/hicolor/scalable/apps/$id.svg
if [ -f "$svg" ]; then
    grep -q '<svg ' "$svg" || fail "$svg is not an SVG picture"
fi

# The menu entry and the metainfo are valid, and they agree.
desktop=$prefix/share/applications/$id.desktop
metainfo=$prefix/share/metainfo/$id.metainfo.xml
if [ -f "$desktop" ]; then
    # Clean: not even a hint (hints exit 0, but say the menu may misplace the entry).
    echo "desktop-file-validate $desktop"
    if ! desktop-file-validate "$desktop" >"$work/validate.txt" 2>&1; then
        cat "$work/validate.txt"
        fail "desktop-file-validate rejects $desktop"
    elif [ -s "$work/validate.txt" ]; then
        cat "$work/validate.txt"
        fail "desktop-file-validate has remarks on $desktop"
    fi
    exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
    [ -n "$exec_program" ] || fail "$desktop has no Exec"
    if [ "$window" = 1 ]; then
        [ -x "$prefix/bin/$exec_program" ] || fail "Exec=$exec_program is not installed in bin/"
    fi
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    [ "$icon" = "$id" ] || fail "Icon=$icon, not the application id $id"
fi
if [ -f "$metainfo" ]; then
    # Clean, the pedantic remarks included (they alone still exit 0).
    echo "appstreamcli validate --no-net --pedantic $metainfo"
    if ! appstreamcli validate --no-net --pedantic "$metainfo" >"$work/validate.txt" 2>&1; then
        cat "$work/validate.txt"
        fail "appstreamcli rejects $metainfo"
    else
        cat "$work/validate.txt"
        if grep -Eq '^[[:space:]]*[EWIP]: ' "$work/validate.txt"; then
            fail "appstreamcli has remarks on $metainfo"
        fi
    fi
    grep -q "<id>$id</id>" "$metainfo" || fail "the metainfo's id is not $id"
    grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
        fail "the metainfo does not launch $id.desktop"
    for binary in $(sed -n 's:.*<binary>\(.*\)</binary>.*:\1:p' "$metainfo"); do
        # The window's binary is named even where this build has no Qt.
        if [ "$binary" != moravel ] || [ "$window" = 1 ]; then
            [ -x "$prefix/bin/$binary" ] || fail "the metainfo provides $binary, which is not in bin/"
        fi
    done
fi

# The tree as the software centres read it: the metainfo beside its menu entry.
echo "appstreamcli validate-tree --no-net $prefix"
appstreamcli validate-tree --no-net "$prefix" || fail "appstreamcli rejects the installed tree"

# The installed command line, started from bin/, reads the sample disk both
# directly and through the BIOS disk-service library beside it, with the same result.
sample=$work/sample.img
"$make_sample" "$sample" >/dev/null
if [ -x "$prefix/bin/moravel-cli" ]; then
    "$prefix/bin/moravel-cli" --disk "$sample" list -r >"$work/direct.txt" ||
        fail "the installed moravel-cli cannot list the sample disk"
    "$prefix/bin/moravel-cli" --bios-services --disk "$sample" list -r >"$work/bios.txt" ||
        fail "the installed moravel-cli cannot list the sample disk through libDisk32.so"
    grep -q 'Film Night 2004-05-15\.ts' "$work/direct.txt" ||
        fail "the installed moravel-cli's listing lacks the sample's long recording"
    cmp -s "$work/direct.txt" "$work/bios.txt" ||
        fail "listings read directly and through libDisk32.so differ"
    # info looks into a recording through the media module beside the program.
    "$prefix/bin/moravel-cli" --disk "$sample" info \
        "Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS/NEWS0518.TS" >"$work/info.txt" ||
        fail "the installed moravel-cli cannot tell about the sample's recording"
    grep -q '^Media: ' "$work/info.txt" || fail "the installed moravel-cli's info has no Media line"
    ! grep '^Media: *not available' "$work/info.txt" ||
        fail "the installed moravel-cli does not find moravel-media.so"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed; installed files:" >&2
    (cd "$prefix" && find . ! -type d | sort) >&2
    exit 1
fi
echo "All installed files in place and valid (${#expected[@]} files)."
