#!/bin/sh
# What moravel-cli costs to start, command by command, on the sample disk: the
# wall time of --version, list of a folder, check and copy of a small file, and
# info of a recording (the one command here that looks into streams, and so
# loads FFmpeg's libraries), beside mdir listing the same folder; and how many
# shared libraries each run loads (LD_DEBUG=libs). The times are hyperfine's
# mean and deviation over at least 50 runs, without a shell between; without
# hyperfine, the mean of a loop of 50 runs, the shell that starts each included.
#
# usage: bench/run-startup.sh BINDIR
set -eu

bin=$1
cli=$bin/moravel-cli
make_sample=$bin/moravel-make-sample-disk
for program in "$cli" "$make_sample"; do
    if [ ! -x "$program" ]; then
        echo "run-startup.sh: $program not found" >&2
        exit 1
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/moravel-startup-XXXXXX")
trap 'rm -rf "$work"' EXIT
disk=$work/sample.img
"$make_sample" "$disk" >/dev/null
fat16="Hard Disk 1/16-Bit FAT Disk/Root Directory"
records="Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS"
# The commands, one a line: a name, a tab, the command (its words quoted as for
# a shell; hyperfine splits them the same way).
tab=$(printf '\t')
commands="version$tab'$cli' --version
list$tab'$cli' --disk '$disk' list '$fat16/SYSTEM'
check$tab'$cli' --disk '$disk' check '$fat16/DISKINFO.BIN'
copy$tab'$cli' --disk '$disk' copy '$fat16/DISKINFO.BIN' '$work/out.bin'
info$tab'$cli' --disk '$disk' info '$records/NEWS0518.TS'"
if command -v mdir >/dev/null; then
    # The sample's 16-bit volume begins at sector 83893478.
    export MTOOLS_SKIP_CHECK=1
    commands="$commands
mdir${tab}mdir -i '$disk@@$((83893478 * 512))' ::/SYSTEM"
fi

echo "Shared libraries loaded (LD_DEBUG=libs):"
echo "$commands" | while IFS="$tab" read -r name command; do
    count=$(eval "LD_DEBUG=libs $command" 2>&1 >/dev/null | grep -c 'calling init:' || true)
    printf '  %-8s %4d\n' "$name" "$count"
done

echo "Wall time:"
echo "$commands" | while IFS="$tab" read -r name command; do
    if command -v hyperfine >/dev/null; then
        hyperfine -N --warmup 5 --min-runs 50 --export-json "$work/time.json" "$command" \
            >/dev/null 2>&1
        mean=$(sed -n 's/^ *"mean": \([0-9.e-]*\),$/\1/p' "$work/time.json" | head -1)
        stddev=$(sed -n 's/^ *"stddev": \([0-9.e-]*\),$/\1/p' "$work/time.json" | head -1)
        printf '  %-8s %7.2f ms +- %.2f ms\n' "$name" \
            "$(echo "$mean * 1000" | bc -l)" "$(echo "$stddev * 1000" | bc -l)"
    else
        start=$(date +%s%N)
        i=0
        while [ $i -lt 50 ]; do
            eval "$command" >/dev/null 2>&1 || true
            i=$((i + 1))
        done
        end=$(date +%s%N)
        printf '  %-8s %7.2f ms (mean of 50)\n' "$name" \
            "$(echo "($end - $start) / 50 / 1000000" | bc -l)"
    fi
done
