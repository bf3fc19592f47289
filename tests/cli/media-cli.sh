#!/usr/bin/env bash
# moravel-cli info and thumbnail on recordings that ffmpeg makes (MPEG-2 video
# with MP2 audio, and H.264), written in fragments onto a FAT32 volume made by
# mkfs.fat and filled by mcopy: the duration is ffprobe's to within 0.1 s, the
# tracks are named, a thumbnail is the test pattern's picture, and a file that
# is no stream says so. Text that describes a network stream (SDP) is no
# recording: info says so and opens no socket (watched with strace, where it is
# installed). Only info and thumbnail load FFmpeg's libraries: --version and
# list do not, and without the media module beside the program info still tells
# the rest and thumbnail says why it cannot. Beyond 4 GiB: the sample disk's 5 GB recording with a
# stream written over its first and last MB, whose duration info tells from
# at most 16 MB read.
#
#   media-cli.sh MORAVEL_CLI SAMPLE_DISK_MAKER
# Exits 77 (skipped) where ffmpeg or the FAT tools are not there.
set -euo pipefail
cli="$1" make_sample="$2"
for program in ffmpeg ffprobe mkfs.fat mcopy mdel mdir convert identify bc; do
    command -v "$program" >/dev/null || { echo "skipped: no $program"; exit 77; }
done
work="$(mktemp -d "${TMPDIR:-/tmp}/moravel-media-XXXXXX")"
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}

# Colour bars for 12 s with a tone, in the two codecs recorders use.
bars=(-f lavfi -i smptebars=duration=12:size=320x240:rate=25 -f lavfi -i sine=frequency=440:duration=12)
ffmpeg -loglevel error "${bars[@]}" -c:v mpeg2video -q:v 3 -c:a mp2 -f mpegts "$work/MPEG2.TS"
ffmpeg -loglevel error "${bars[@]}" -c:v libx264 -preset ultrafast -c:a aac -f mpegts "$work/H264.TS"
head -c 200000 /dev/urandom >"$work/NOISE.BIN"
printf 'v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\ns=Recording\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\n%s\r\n%s\r\n' \
    'm=video 5004 RTP/AVP 96' 'a=rtpmap:96 H264/90000' >"$work/STREAM.SDP"
# In fragments, each on a volume of its own (made by mkfs.fat).
. "$(dirname "$0")/fragmented-fat.sh"
for name in MPEG2.TS H264.TS; do
    truncate -s 40M "$work/$name.img"
    mkfs.fat -F 32 -s 1 -n REC "$work/$name.img" >/dev/null
    put_fragmented "$work/$name.img" "$work/$name" "$name"
done
image="$work/MPEG2.TS.img"
mcopy -i "$image" "$work/NOISE.BIN" ::NOISE.BIN
mcopy -i "$image" "$work/STREAM.SDP" ::STREAM.SDP
root="Hard Disk 1/32-Bit FAT Disk/Root Directory"
field() { sed -n "s/^    \"$1\": \([0-9.]*\),\?\$/\1/p"; }

for name in MPEG2.TS H264.TS; do
    json="$("$cli" --disk "$work/$name.img" info --json "$root/$name")"
    fragments=$(sed -n 's/^  "fragments": \([0-9]*\),$/\1/p' <<<"$json")
    [ "$fragments" -ge 2 ] || fail "$name is in $fragments fragment(s), not in several"
    ours=$(field durationSeconds <<<"$json")
    theirs=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/$name")
    [ -n "$ours" ] && awk -v a="$ours" -v b="$theirs" 'BEGIN { exit !((a - b) ^ 2 < 0.01) }' ||
        fail "$name lasts $ours s here, $theirs s by ffprobe"
done
text="$("$cli" --disk "$image" info "$root/MPEG2.TS")"
grep -qx "Container:      MPEG-TS (MPEG-2 Transport Stream)" <<<"$text" || fail "no container in: $text"
grep -qx "Video:          mpeg2video, 320x240, 25 frames/s" <<<"$text" || fail "no video in: $text"
grep -qx "Audio:          mp2, 1 channel, 44100 Hz" <<<"$text" || fail "no audio in: $text"
text="$("$cli" --disk "$work/H264.TS.img" info "$root/H264.TS")"
grep -qx "Video:          h264, 320x240, 25 frames/s" <<<"$text" || fail "no H.264 video in: $text"
grep -qx "Audio:          aac, 1 channel, 44100 Hz" <<<"$text" || fail "no AAC audio in: $text"
text="$("$cli" --disk "$image" info "$root/NOISE.BIN")"
grep -q "^Media:          no stream that the libraries know" <<<"$text" || fail "noise is not said to be no stream: $text"
if command -v strace >/dev/null; then
    # LeakSanitizer cannot work under ptrace (a sanitizer build); the other runs
    # here still look for leaks.
    text="$(ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
        strace -f -q -e trace=socket,bind -o "$work/sockets.txt" "$cli" --disk "$image" info "$root/STREAM.SDP")"
    ! grep -E 'socket\(AF_INET|bind\(' "$work/sockets.txt" || fail "a look at SDP text opened sockets"
else
    echo "strace is not installed: the sockets of a look at SDP text are not watched"
    text="$("$cli" --disk "$image" info "$root/STREAM.SDP")"
fi
grep -q "^Media:          no stream that the libraries know (it looks like SDP" <<<"$text" ||
    fail "SDP text is not said to be no stream: $text"

# FFmpeg's libraries are loaded only to look into a recording.
LD_DEBUG=files "$cli" --version 2>"$work/loaded.txt" >/dev/null
! grep -q 'file=libavcodec' "$work/loaded.txt" || fail "moravel-cli --version loads libavcodec"
LD_DEBUG=files "$cli" --disk "$image" list "$root" 2>"$work/loaded.txt" >/dev/null
! grep -q 'file=libavcodec' "$work/loaded.txt" || fail "moravel-cli list loads libavcodec"
LD_DEBUG=files "$cli" --disk "$image" info "$root/MPEG2.TS" 2>"$work/loaded.txt" >/dev/null
grep -q 'file=libavcodec' "$work/loaded.txt" || fail "info does not load libavcodec (LD_DEBUG shows no loads?)"
# Without the media module beside it, the program still tells the rest.
mkdir "$work/alone"
cp "$cli" "$work/alone/"
alone="$work/alone/$(basename "$cli")"
text="$("$alone" --disk "$image" info "$root/MPEG2.TS")" || fail "info without the media module failed"
grep -q "^Size:           " <<<"$text" || fail "info without the media module: $text"
grep -q "^Media:          not available: $work/alone/moravel-media.so: " <<<"$text" ||
    fail "info without the media module does not say so: $text"
if "$alone" --disk "$image" thumbnail "$root/MPEG2.TS" "$work/alone.png" 2>"$work/err.txt"; then
    fail "a thumbnail was made without the media module"
fi
grep -q "MPEG2.TS\": the media module could not be loaded: $work/alone/moravel-media.so: " "$work/err.txt" ||
    fail "thumbnail without the media module: $(cat "$work/err.txt")"
[ ! -e "$work/alone.png" ] && [ ! -e "$work/alone.png.part" ] || fail "thumbnail left a file without the media module"

# The thumbnail: the bars' picture. The first bar is light grey, the second yellow.
for at in 50% 3; do
    out="$work/thumb-$at.png"
    "$cli" --disk "$image" thumbnail --at "$at" "$root/MPEG2.TS" "$out" >"$work/thumb.txt" ||
        fail "thumbnail --at $at failed: $(cat "$work/thumb.txt")"
    [ -e "$out" ] && [ ! -e "$out.part" ] || { fail "no whole $out"; continue; }
    [ "$(identify -format %wx%h "$out")" = 320x240 ] || fail "the thumbnail is $(identify -format %wx%h "$out")"
    pixel() { convert "$out" -format "%[fx:int(255*p{$1,60}.r)] %[fx:int(255*p{$1,60}.g)] %[fx:int(255*p{$1,60}.b)]" info:; }
    read -r r g b <<<"$(pixel 20)"
    [ "$r" -ge 150 ] && [ "$g" -ge 150 ] && [ "$b" -ge 150 ] || fail "the first bar is $r $g $b, not light grey"
    read -r r g b <<<"$(pixel 66)"
    [ "$r" -ge 150 ] && [ "$g" -ge 150 ] && [ "$b" -le 60 ] || fail "the second bar is $r $g $b, not yellow"
done
grep -q "320x240 at 0:0[2-4]" "$work/thumb.txt" || fail "--at 3 did not take a picture near 3 s: $(cat "$work/thumb.txt")"
if "$cli" --disk "$image" thumbnail "$root/NOISE.BIN" "$work/noise.png" 2>"$work/err.txt"; then
    fail "a thumbnail of noise was made"
fi
grep -q "NOISE.BIN\": no stream that the libraries know" "$work/err.txt" || fail "noise: $(cat "$work/err.txt")"
[ ! -e "$work/noise.png" ] || fail "a PNG of noise was left"
# 5 GB: a stream at the start, and one 50 minutes later at the end; between them
# the sample's own bytes. The image is the test's own copy.
"$make_sample" "$work/sample.img" >/dev/null
film="Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS/Film Night 2004-05-15.ts"
json="$("$cli" --disk "$work/sample.img" info --json "$film")"
first=$(sed -n 's/^  "firstLba": \([0-9]*\),$/\1/p' <<<"$json")
ffmpeg -loglevel error "${bars[@]}" -c:v mpeg2video -c:a mp2 -output_ts_offset 3000 -f mpegts "$work/END.TS"
end_size=$(stat -c %s "$work/END.TS")
dd if="$work/MPEG2.TS" of="$work/sample.img" bs=512 seek="$first" conv=notrunc status=none
dd if="$work/END.TS" of="$work/sample.img" bs=64K seek=$((first * 512 + 5000000000 - end_size)) \
    oflag=seek_bytes conv=notrunc status=none
json="$("$cli" --disk "$work/sample.img" info --json "$film")"
start=$(ffprobe -v error -show_entries format=start_time -of csv=p=0 "$work/MPEG2.TS")
stop=$(ffprobe -v error -show_entries format=start_time,duration -of csv=p=0 "$work/END.TS" |
    awk -F, '{ print $1 + $2 }')
ours=$(field durationSeconds <<<"$json")
read_bytes=$(field bytesRead <<<"$json")
[ -n "$ours" ] && awk -v a="$ours" -v b="$(echo "$stop - $start" | bc)" 'BEGIN { exit !((a - b) ^ 2 < 0.01) }' ||
    fail "the 5 GB recording lasts $ours s here, not $stop - $start s"
[ -n "$read_bytes" ] && [ "$read_bytes" -le 16000000 ] || fail "info read $read_bytes bytes of 5 GB"
echo "info read $read_bytes bytes of the 5 GB recording"
exit "$failed"
