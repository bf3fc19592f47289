#!/usr/bin/env bash
# The rescue copy against the normal copy on a failing disk: the sample disk's
# 1 GB recording "Nature 2004-05-16.ts" served by moravel-failing-disk (FUSE) with
# three bad areas of 2,000 sectors and 50 scattered bad sectors, every failed read
# costing 20 ms (DELAY_MS). Measured: the normal copy (it retries a failed run
# sector by sector); the rescue, its time until every readable byte is in the
# output (its map says so: the trim pass has ended) and its total time; the same
# final bytes; and a rescue killed (SIGKILL) in its copy pass and run again with
# its map, which must not read again what the map had as copied.
#
#   bench/run-rescue.sh [BUILD]       (BUILD defaults to build; needs /dev/fuse)
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(realpath "${1:-build}")"
delay="${DELAY_MS:-20}"
work="$(mktemp -d "${TMPDIR:-/tmp}/moravel-rescue-bench-XXXXXX")"
mount="$work/mnt"
mkdir -p "$mount"
cleanup() {
    fusermount3 -u "$mount" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

now() { date +%s.%N; }
seconds() { echo "$2 - $1" | bc; }

"$build/bin/moravel-make-sample-disk" "$work/sample.img" >/dev/null
file="Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS/Nature 2004-05-16.ts"
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
bad_sectors=$((3 * 2000 + 50))
echo "recording: $size bytes, sectors $first-$last; $bad_sectors bad sectors; a failed read costs $delay ms"

"$build/bin/moravel-failing-disk" "${bad[@]}" --delay-ms "$delay" --log "$work/reads.log" \
    "$work/sample.img" "$mount"
cli=("$build/bin/moravel-cli" --disk "$mount/disk.img")

t0=$(now)
"${cli[@]}" copy "$file" "$work/normal.ts" >"$work/normal.txt" 2>&1 || true
normal=$(seconds "$t0" "$(now)")
echo "normal copy:  $normal s   ($(tail -n 1 "$work/normal.txt" | cut -c1-100))"

t0=$(now)
"${cli[@]}" copy --rescue "$file" "$work/rescued.ts" >"$work/rescue.txt" 2>&1 &
copier=$!
readable=""
while kill -0 "$copier" 2>/dev/null; do
    if [ -z "$readable" ] && grep -qE "^pass (scrape|retry|done)" "$work/rescued.ts.moravel-map" 2>/dev/null; then
        readable=$(seconds "$t0" "$(now)")
    fi
    sleep 0.05
done
wait "$copier" || true
total=$(seconds "$t0" "$(now)")
[ -n "$readable" ] || readable=$total
copied=$(awk '$3 == "copied" { n += $2 } END { print n + 0 }' "$work/rescued.ts.moravel-map")
echo "rescue:       all readable bytes in after $readable s ($copied bytes), done after $total s"
echo "              ($(tail -n 1 "$work/rescue.txt" | cut -c1-100))"
echo "speed-up to all readable bytes: $(echo "scale=1; $normal / $readable" | bc)x"
if cmp -s "$work/normal.ts" "$work/rescued.ts"; then
    echo "final bytes: the same as the normal copy's"
else
    echo "final bytes: DIFFER from the normal copy's"
fi

# Killed (a crash) in its copy pass once its first map is there, then run again:
# nothing its map had as copied may be read again. What it read after its last
# map (at most a second's reading) is read again: the map did not know it yet.
rm -f "$work/rescued.ts" "$work/rescued.ts.moravel-map"
"${cli[@]}" copy --rescue "$file" "$work/rescued.ts" >/dev/null 2>&1 &
copier=$!
while kill -0 "$copier" 2>/dev/null && [ ! -e "$work/rescued.ts.moravel-map" ]; do
    sleep 0.02
done
kill -KILL "$copier" 2>/dev/null || true
wait "$copier" 2>/dev/null || true
cp "$work/rescued.ts.moravel-map" "$work/killed.map"
echo "killed in the $(sed -n 's/^pass //p' "$work/killed.map") pass; its map: $(awk '$3 == "copied" { n += $2 } END { print n + 0 }' "$work/killed.map") bytes copied"
start_line=$(($(wc -l <"$work/reads.log") + 1))
"${cli[@]}" copy --rescue "$file" "$work/rescued.ts" >/dev/null 2>&1 || true
again=$(tail -n +"$start_line" "$work/reads.log" | awk -v first="$first" -v last="$last" '
    FILENAME == ARGV[1] { if ($3 == "copied") { lo[n] = $1; hi[n] = $1 + $2; ++n } next }
    { for (s = int($1 / 512); s < int(($1 + $3) / 512); ++s) {
          if (s < first || s > last) continue
          o = (s - first) * 512
          for (i = 0; i < n; ++i) if (o >= lo[i] && o < hi[i]) { ++count; break }
      } }
    END { print count + 0 }' "$work/killed.map" -)
echo "resumed rescue: $again sectors that the map had as copied were read again"
if cmp -s "$work/normal.ts" "$work/rescued.ts"; then
    echo "resumed rescue: the same final bytes as the normal copy's"
else
    echo "resumed rescue: final bytes DIFFER from the normal copy's"
fi
