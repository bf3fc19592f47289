#!/usr/bin/env bash
# The rescue copy beside GNU ddrescue on failing disks: the sample disk's 1 GB
# recording "Nature 2004-05-16.ts" (or one of RECORDING_MB MB, as a recorder's
# short one) served by moravel-failing-disk (FUSE) with
# three bad areas of 2,000 sectors and 50 scattered bad sectors, every failed read
# costing 20 ms (DELAY_MS), on both kinds of drive:
#   A  a read returns the bytes before its first bad sector;
#   B  a read that reaches a bad sector fails as a whole (--fail-whole-request),
#      as through many USB-SATA bridges, whose largest request is 128 KiB.
# On each: the normal copy (its bytes are the reference); the rescue with
# --retries 0 and ddrescue 1.27 (defaults, no retries either; restricted to the
# recording's bytes with -i/-s/-o and a mapfile), each timed until every readable
# byte of the recording had come in (from the server's log, whose lines carry the
# time each read ended) and until it ended, with its reads and failed reads from
# the log; the rescue's final bytes against the normal copy's (ddrescue leaves
# bad sectors unwritten, the rescue writes 0xE5 as the copy does); and a rescue
# killed (SIGKILL) in its copy pass and run again with its map, which must not
# read again what the map had as copied.
#
#   bench/run-rescue.sh [BUILD] [MODELS]   (BUILD defaults to build, MODELS to "A B";
#                                           needs /dev/fuse and ddrescue)
# REQUEST_KIB=N sets the kernel's largest request to the disk on both models (by
# default the kernel's own on model A, here 1 MiB, and 128 KiB on model B).
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(realpath "${1:-build}")"
models="${2:-A B}"
delay="${DELAY_MS:-20}"
command -v ddrescue >/dev/null || {
    echo "run-rescue.sh: ddrescue not found (Debian gddrescue; scripts/install-deps.sh installs it)" >&2
    exit 1
}
# The outputs go to memory where it can be had: the write-back of this machine's
# own disk would time both tools instead of the failing one.
scratch="${TMPDIR:-/tmp}"
[ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && scratch=/dev/shm
work="$(mktemp -d "$scratch/moravel-rescue-bench-XXXXXX")"
mount="$work/mnt"
mkdir -p "$mount"
cleanup() {
    fusermount3 -u "$mount" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

now() { date +%s.%N; }
seconds() { echo "$2 - $1" | bc; }

if [ -n "${RECORDING_MB:-}" ]; then
    # A recording of that many MB (10^6 bytes), in one piece on a FAT32 volume
    # made by mkfs.fat and filled by mcopy.
    truncate -s $((RECORDING_MB + 300))M "$work/sample.img"
    mkfs.fat -F 32 -s 8 -n REC "$work/sample.img" >/dev/null
    head -c "$((RECORDING_MB * 1000000))" /dev/urandom >"$work/rec.ts"
    mcopy -i "$work/sample.img" "$work/rec.ts" ::REC.TS
    rm "$work/rec.ts"
    file="Hard Disk 1/32-Bit FAT Disk/Root Directory/REC.TS"
else
    "$build/bin/moravel-make-sample-disk" "$work/sample.img" >/dev/null
    file="Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS/Nature 2004-05-16.ts"
fi
info="$("$build/bin/moravel-cli" --disk "$work/sample.img" info --json "$file")"
first=$(sed -n 's/^  "firstLba": \([0-9]*\),$/\1/p' <<<"$info")
size=$(sed -n 's/^  "size": \([0-9]*\),$/\1/p' <<<"$info")
[ "$(sed -n 's/^  "fragments": \([0-9]*\),$/\1/p' <<<"$info")" = 1 ] || {
    echo "the recording is not in one piece"
    exit 1
}
sectors=$(((size + 511) / 512))
last=$((first + sectors - 1))
bad=()
for share in 20 50 80; do
    start=$((first + sectors * share / 100))
    bad+=(--bad "$start-$((start + 1999))")
done
for i in $(seq 1 50); do
    bad+=(--bad "$((first + sectors * (2 * i - 1) / 100 + 3))")
done
# On a short recording a scattered bad sector may fall in a bad area.
bad_sectors=$(printf '%s\n' "${bad[@]}" | grep -v -- --bad | awk -F- '
    { last = NF > 1 ? $2 : $1; for (s = $1; s <= last; ++s) seen[s] = 1 }
    END { print length(seen) }')
echo "recording: $size bytes, sectors $first-$last; $bad_sectors bad sectors; a failed read costs $delay ms"

# measure NAME LOG FROM_LINE START END: one tool's run from the log's lines after
# FROM_LINE: when the last good sector of the recording first came in, reads, failed reads.
measure() {
    tail -n +"$(($3 + 1))" "$2" | python3 -c '
import sys
name, start, end, first, last, bad = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), *map(int, sys.argv[4:])
good = last - first + 1 - bad
seen = bytearray(last - first + 1)
count = reads = failed = 0
readable = None
for line in sys.stdin:
    fields = line.split()
    offset, got = int(fields[0]), int(fields[2])
    reads += 1
    failed += "EIO" in fields
    if got and readable is None:
        for s in range(max(offset // 512, first), min((offset + got + 511) // 512, last + 1)):
            if not seen[s - first]:
                seen[s - first] = 1
                count += 1
        if count >= good:
            readable = float(fields[-1][1:]) - start
readable = float("nan") if readable is None else readable
print(f"{name:9} all readable bytes in {readable:8.2f} s"
      f"  ({count} of {good} good sectors)   ended after {end - start:8.2f} s"
      f"   reads {reads:7}   failed {failed:6} ({failed - bad:+d} beyond the bad sectors)")
' "$1" "$4" "$5" "$first" "$last" "$bad_sectors"
}

for model in $models; do
    case "$model" in
        A) kind=() request_kib="${REQUEST_KIB:-}" ;;
        B) kind=(--fail-whole-request) request_kib="${REQUEST_KIB:-128}" ;;
        *) echo "unknown drive model $model (A or B)" >&2; exit 1 ;;
    esac
    log="$work/reads-$model.log"
    "$build/bin/moravel-failing-disk" "${bad[@]}" "${kind[@]}" ${request_kib:+--request-kib "$request_kib"} --delay-ms "$delay" \
        --log "$log" --log-times "$work/sample.img" "$mount"
    cli=("$build/bin/moravel-cli" --disk "$mount/disk.img")
    echo
    requests="the kernel's own"
    [ -n "$request_kib" ] && requests="$request_kib KiB"
    echo "== drive model $model; largest request: $requests"

    t0=$(now)
    "${cli[@]}" copy "$file" "$work/normal.ts" >"$work/normal.txt" 2>&1 || true
    echo "normal    ended after $(seconds "$t0" "$(now)") s   ($(tail -n 1 "$work/normal.txt" | cut -c1-90))"

    from=$(wc -l <"$log")
    t0=$(now)
    "${cli[@]}" copy --rescue --retries 0 "$file" "$work/rescued.ts" >"$work/rescue.txt" 2>&1 || true
    measure moravel "$log" "$from" "$t0" "$(now)"
    if cmp -s "$work/normal.ts" "$work/rescued.ts"; then
        echo "          final bytes: the same as the normal copy's"
    else
        echo "          final bytes: DIFFER from the normal copy's"
    fi

    from=$(wc -l <"$log")
    t0=$(now)
    ddrescue -q -i $((first * 512)) -s "$size" -o 0 "$mount/disk.img" "$work/dd.ts" "$work/dd.map" \
        >/dev/null 2>&1 || true
    measure ddrescue "$log" "$from" "$t0" "$(now)"

    # Killed (a crash) in its copy pass once its first map is there, then run
    # again: nothing its map had as copied may be read again. What it read after
    # its last map (at most a second's reading) is read again: the map did not
    # know it yet.
    rm -f "$work/rescued.ts" "$work/rescued.ts.moravel-map"
    "${cli[@]}" copy --rescue --retries 0 "$file" "$work/rescued.ts" >/dev/null 2>&1 &
    copier=$!
    while kill -0 "$copier" 2>/dev/null && [ ! -e "$work/rescued.ts.moravel-map" ]; do
        sleep 0.02
    done
    kill -KILL "$copier" 2>/dev/null || true
    wait "$copier" 2>/dev/null || true
    cp "$work/rescued.ts.moravel-map" "$work/killed.map"
    start_line=$(($(wc -l <"$log") + 1))
    "${cli[@]}" copy --rescue --retries 0 "$file" "$work/rescued.ts" >/dev/null 2>&1 || true
    again=$(tail -n +"$start_line" "$log" | awk -v first="$first" -v last="$last" '
        FILENAME == ARGV[1] { if ($3 == "copied") { lo[n] = $1; hi[n] = $1 + $2; ++n } next }
        { for (s = int($1 / 512); s < int(($1 + $3) / 512); ++s) {
              if (s < first || s > last) continue
              o = (s - first) * 512
              for (i = 0; i < n; ++i) if (o >= lo[i] && o < hi[i]) { ++count; break }
          } }
        END { print count + 0 }' "$work/killed.map" -)
    resumed="the same final bytes as the normal copy's"
    cmp -s "$work/normal.ts" "$work/rescued.ts" || resumed="final bytes DIFFER from the normal copy's"
    echo "resumed   killed in the $(sed -n 's/^pass //p' "$work/killed.map") pass with" \
        "$(awk '$3 == "copied" { n += $2 } END { print n + 0 }' "$work/killed.map") bytes copied;" \
        "$again sectors the map had as copied read again; $resumed"
    fusermount3 -u "$mount"
    rm -f "$work"/*.ts "$work"/*.map "$work"/*.moravel-map
done
