#!/usr/bin/env bash
# moravel-cli copy --rescue as a user runs it, on a disk whose sectors fail for
# real: the sample disk served by moravel-failing-disk (FUSE), with a bad area and
# scattered bad sectors in a recording. The rescue must end with the normal
# copy's bytes and outcome; stopped with Ctrl-C and run again, it must go on from
# its map without reading any of the recording's good sectors twice.
#
#   rescue-cli.sh MORAVEL_CLI MAKE_SAMPLE_DISK FAILING_DISK_TOOL
# Exits 77 (skipped) where FUSE cannot be used.
set -euo pipefail
cli="$1" make_disk="$2" tool="$3"

work="$(mktemp -d "${TMPDIR:-/tmp}/moravel-rescue-XXXXXX")"
mount="$work/mnt"
cleanup() {
    fusermount3 -u "$mount" 2>/dev/null || true
    [ -n "${server:-}" ] && wait "$server" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

if [ ! -w /dev/fuse ] || ! command -v fusermount3 >/dev/null; then
    echo "skipped: FUSE cannot be used here (/dev/fuse or fusermount3)"
    exit 77
fi

mkdir -p "$mount"
"$make_disk" "$work/sample.img" >/dev/null
trailer="Hard Disk 1/32-Bit FAT Disk/Root Directory/Archive 2003/TRAILER.TS"
info="$("$cli" --disk "$work/sample.img" info --json "$trailer")"
first=$(sed -n 's/^  "firstLba": \([0-9]*\),$/\1/p' <<<"$info")
fragments=$(sed -n 's/^  "fragments": \([0-9]*\),$/\1/p' <<<"$info")
size=$(sed -n 's/^  "size": \([0-9]*\),$/\1/p' <<<"$info")
[ "$fragments" = 1 ] || { echo "TRAILER.TS is no longer in one piece"; exit 1; }
sectors=$(((size + 511) / 512))
last=$((first + sectors - 1))

# A bad area of 400 sectors a third into the file, and three sectors on their own.
bad=(--bad "$((first + sectors / 3))-$((first + sectors / 3 + 399))"
    --bad "$((first + 10))" --bad "$((first + sectors / 2 + 7))" --bad "$((first + sectors - 2))")
"$tool" -f "${bad[@]}" --delay-ms 5 --log "$work/reads.log" "$work/sample.img" "$mount" \
    2>"$work/tool.err" &
server=$!
for _ in $(seq 300); do
    [ -e "$mount/disk.img" ] && break
    if ! kill -0 "$server" 2>/dev/null; then
        echo "skipped: moravel-failing-disk could not mount: $(cat "$work/tool.err")"
        exit 77
    fi
    sleep 0.1
done
[ -e "$mount/disk.img" ] || { echo "the failing disk was not mounted"; exit 1; }
cli=("$cli" --disk "$mount/disk.img")
failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}

status=0
"${cli[@]}" copy "$trailer" "$work/normal.ts" >"$work/normal.txt" 2>&1 || status=$?
[ "$status" = 1 ] || fail "the normal copy ended with $status, not 1: $(cat "$work/normal.txt")"
grep -q "403 sectors could not be read" "$work/normal.txt" ||
    fail "the normal copy did not name 403 sectors: $(cat "$work/normal.txt")"

# The delivered sectors of the recording in the log's lines from line $1 on.
delivered() {
    tail -n +"$1" "$work/reads.log" | awk -v first="$first" -v last="$last" '
        { for (s = int($1 / 512); s < int(($1 + $3) / 512); ++s)
              if (s >= first && s <= last) print s }'
}

# A rescue stopped with Ctrl-C once its map is there, then run again to its end.
start=$(($(wc -l <"$work/reads.log") + 1))
# A background job of a script ignores SIGINT unless told otherwise.
env --default-signal=INT "${cli[@]}" copy --rescue "$trailer" "$work/rescued.ts" \
    >"$work/first.txt" 2>&1 &
copier=$!
for _ in $(seq 600); do
    [ -e "$work/rescued.ts.moravel-map" ] && break
    sleep 0.05
done
kill -INT "$copier" 2>/dev/null || true
status=0
wait "$copier" || status=$?
stopped_in=$(sed -n 's/^pass //p' "$work/rescued.ts.moravel-map" 2>/dev/null || true)
[ "$stopped_in" != done ] || fail "the first run ended before Ctrl-C reached it"
[ "$status" = 1 ] || fail "the stopped rescue ended with $status, not 1"
# Stopped, the output has holes: it keeps its working name, and the report
# counts the bytes read into it, not its size.
[ ! -e "$work/rescued.ts" ] || fail "the stopped rescue's output has its final name"
kept=$(sed -n 's/.*interrupted; kept \([0-9]*\) bytes in .*rescued\.ts\.part$/\1/p' "$work/first.txt")
[ -n "$kept" ] && [ "$kept" -lt "$size" ] ||
    fail "the stopped rescue did not say what it read into rescued.ts.part: $(cat "$work/first.txt")"
status=0
"${cli[@]}" copy --rescue "$trailer" "$work/rescued.ts" >"$work/second.txt" 2>&1 || status=$?
[ "$status" = 1 ] || fail "the rescue ended with $status, not 1: $(cat "$work/second.txt")"
tail -n 1 "$work/normal.txt" >"$work/normal-outcome.txt"
tail -n 1 "$work/second.txt" >"$work/rescue-outcome.txt"
cmp -s "$work/normal-outcome.txt" "$work/rescue-outcome.txt" ||
    fail "outcomes differ: $(cat "$work/normal-outcome.txt") / $(cat "$work/rescue-outcome.txt")"
cmp "$work/normal.ts" "$work/rescued.ts" || fail "the rescued bytes differ from the normal copy's"
grep -q "^pass done" "$work/rescued.ts.moravel-map" || fail "the map does not say done"

twice=$(delivered "$start" | sort -n | uniq -d | wc -l)
all=$(delivered "$start" | sort -nu | wc -l)
[ "$twice" = 0 ] || fail "$twice good sectors of the recording were read twice"
[ "$all" = $((sectors - 403)) ] || fail "$all good sectors read, not $((sectors - 403))"
echo "rescue: $(cat "$work/rescue-outcome.txt")"
echo "rescue: $all good sectors read once each over two runs; the first stopped in its $stopped_in pass"

[ "$failed" = 0 ] || exit 1
echo "all passed"
