#!/usr/bin/env bash
# Load and save of a 1,000,000-contact session against reading and writing
# the same bytes raw, repetitions interleaved at random and medians taken
# (the machine may be shared), then the peak memory of a load against the
# file's size: every figure as a ratio against its baseline from this run.
# With --callgrind, also the instructions a load executes per contact, a
# figure that does not depend on what else the machine is doing.
# Usage: bench/run_session_file_bench.sh [build dir] [repetitions] [--callgrind]
set -euo pipefail
build="${1:-build}"
repetitions="${2:-5}"
callgrind="${3:-}"
results=/tmp/velmora-session-bench.txt
"$build/bench/session_file_bench" --benchmark_repetitions="$repetitions" \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
    --benchmark_format=console | tee "$results"
file="${TMPDIR:-/tmp}/velmora-bench/million.qmz" # written by the benchmark
memory=$("$build/bench/session_memory_probe" "$file")
echo "$memory"
awk -v memory="$memory" '
/^BM_[A-Za-z]+.*_median / { name = $1; sub(/\/.*/, "", name); t[name] = $2 }
END {
    printf "medians of %d interleaved repetitions\n", reps
    printf "load %6.0f ms  raw read  %6.0f ms  load/raw read  %.2fx (goal 3x)\n",
        t["BM_LoadSession"], t["BM_RawRead"], t["BM_LoadSession"] / t["BM_RawRead"]
    printf "save %6.0f ms  raw write %6.0f ms  save/raw write %.2fx\n",
        t["BM_SaveSession"], t["BM_RawWrite"], t["BM_SaveSession"] / t["BM_RawWrite"]
    match(memory, /peak RSS [0-9.]+/)
    peak = substr(memory, RSTART + 9, RLENGTH - 9)
    match(memory, /peak\/file [0-9.]+/)
    printf "load peak memory %s MiB = %sx the file (goal 2.5x)\n", peak, substr(memory, RSTART + 10, RLENGTH - 10)
}' reps="$repetitions" "$results"
if [ "$callgrind" = "--callgrind" ]; then
    out=$(mktemp)
    valgrind --tool=callgrind --callgrind-out-file="$out" \
        "$build/bench/session_memory_probe" "$file" >/dev/null 2>&1 || true
    callgrind_annotate "$out" 2>/dev/null | awk '/PROGRAM TOTALS/ {
        gsub(",", "", $1); printf "load instructions %.0f per contact (callgrind)\n", $1 / 1000000 }'
    rm -f "$out"
fi
