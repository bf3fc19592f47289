#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, folder build-fuzz) and runs every one of
# them, one at a time, on a copy of its corpus:
#
#   scripts/fuzz.sh                 the short pass CI runs: about a minute in all
#   scripts/fuzz.sh long MINUTES    MINUTES minutes for each target
#
# A target that crashes, fails one of its harness's checks, takes longer than 10 s
# on one input, leaks, or goes over the memory limit fails the pass (status 1);
# its input is kept in build-fuzz/artifacts/TARGET/. Turn it into a fixture in
# fuzz/findings/TARGET/ named after the defect, and fix the defect.
#
# The short pass works on a temporary copy of fuzz/corpus/ and fuzz/findings/, so
# what it finds never changes the checkout; the long pass keeps its growing corpus
# in build-fuzz/corpus/TARGET/ from one run to the next (merge it into
# fuzz/corpus/ by hand with -merge=1 when it is worth keeping).
set -euo pipefail
cd "$(dirname "$0")/.."

mode="${1:-short}"
case "$mode" in
    short) seconds=8 ;;
    long)
        minutes="${2:?usage: scripts/fuzz.sh long MINUTES}"
        seconds=$((minutes * 60))
        ;;
    *)
        echo "usage: scripts/fuzz.sh [short | long MINUTES]" >&2
        exit 2
        ;;
esac

targets=(partition_table volume fixed_root chain_directory chain disk copy rescue_map media_probe)

# Memory: the fuzz disk is 256 MiB (fuzz/MemoryDisk.h), so no FAT on it is larger
# than 256 MiB, and no listing may need more than that FAT and 64 MiB besides.
# Add what the instrumentation costs on top (AddressSanitizer's shadow, an eighth
# of the 320 MiB: 40 MiB; libFuzzer with its corpus and the sanitizer runtimes,
# about 50-110 MiB measured) and a listing of any disk stays under 512 MB, while
# one that holds a second FAT-sized block (two copies of a FAT, a chain buffer as
# large as the FAT) goes over it. A single allocation over 512 MB fails too.
rss_limit_mb=512
# AddressSanitizer keeps freed blocks back to catch a use after free; 64 MB of
# them still catches that, and leaves the resident memory to what the program holds.
export ASAN_OPTIONS="quarantine_size_mb=64:detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMORAVEL_FUZZ=ON -DMORAVEL_TESTS=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target moravel_fuzz_targets

root="$(pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=()
for target in "${targets[@]}"; do
    if [ "$mode" = long ]; then
        corpus="$root/build-fuzz/corpus/$target"
    else
        corpus="$work/corpus/$target"
    fi
    artifacts="$root/build-fuzz/artifacts/$target"
    mkdir -p "$corpus" "$artifacts"
    cp -n fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true
    cp -n fuzz/findings/"$target"/* "$corpus"/ 2>/dev/null || true
    log="$root/build-fuzz/fuzz-$target.log"
    echo "== fuzz_$target: $seconds s"
    # Run in the temporary folder: whatever libFuzzer writes beside itself stays out
    # of the checkout.
    if (cd "$work" && "$root/build-fuzz/bin/fuzz_$target" -max_total_time="$seconds" \
            -timeout=10 -rss_limit_mb="$rss_limit_mb" -print_final_stats=1 \
            -artifact_prefix="$artifacts/" "$corpus") >"$log" 2>&1; then
        grep -E "^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)" "$log" |
            tr -s ' \n' ' ' || true
        echo
    else
        echo "fuzz_$target FAILED (log: $log):"
        grep -E "check failed|ERROR|SUMMARY|Test unit written" "$log" | head -20 || true
        failed+=("$target")
    fi
done

echo "fuzz: $((${#targets[@]} - ${#failed[@]})) passed, ${#failed[@]} failed"
if [ ${#failed[@]} -ne 0 ]; then
    echo "failing targets: ${failed[*]}"
    exit 1
fi
