#!/usr/bin/env bash
# Whole-process timings on a 1,000,000-contact session, each against its
# baseline in the same run, runs interleaved and medians taken:
#   mailtray session stats (a load as a whole process)  against  cat FILE
#   mailtray session show / list                         against  session stats
#   the desktop program's start to a usable main window, beyond its deliberate waits
#   File > Open of the session until its lists show      against  session stats
# with the peak memory of each process against the file's size.
# Usage: bench/run_cli_bench.sh [build dir] [runs]
set -euo pipefail
# One virtual X server for the whole run, so its own start is not timed.
if [ -z "${DISPLAY:-}" ] && [ -z "${VELMORA_BENCH_UNDER_X:-}" ]; then
    VELMORA_BENCH_UNDER_X=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
build="${1:-build}"
runs="${2:-5}"
work="${TMPDIR:-/tmp}/velmora-bench"
file="$work/million.qmz"
mkdir -p "$work"
[ -s "$file" ] || "$build/bench/make_bench_session" "$file"
mailtray="$build/src/cli/mailtray"
probe="$build/bench/desktop_start_probe"
results="$work/cli-bench.txt"
: >"$results"

# name ms peak-KiB, one line per run.
. "$(dirname "$0")/measure.sh"
file_mib=$(mib "$file")

probe_run() {
    local out
    out=$("$probe" "$(date +%s%N)" "$@" 2>/dev/null)
    echo "$out" >&2
    # start: "start T ms (deliberate waits W ms, beyond them B ms), peak P MiB"
    echo "$out" | awk '/^start/ { print "start-beyond-waits", $10, int($13 * 1024) }
                       /^open/ { print "open", $2, int($(NF - 1) * 1024) }' >>"$results"
}

export QTWEBENGINE_DISABLE_SANDBOX=1
for i in $(seq "$runs"); do
    echo "run $i of $runs" >&2
    measure cat cat "$file"
    measure stats "$mailtray" session stats "$file"
    measure show "$mailtray" session show "$file"
    measure stats "$mailtray" session stats "$file"
    measure list "$mailtray" list "$file"
    if [ -x "$probe" ]; then
        probe_run
        measure stats "$mailtray" session stats "$file"
        probe_run "$file"
    fi
done

# The highest peak (KiB) of NAME's runs.
peak_kib() {
    awk -v name="$1" '$1 == name && $3 > p { p = $3 } END { print p + 0 }' "$results"
}
# `row NAME BASE GOAL`: NAME's median against BASE's, and its peak against the file.
row() {
    grep -q "^$1 " "$results" || return 0
    awk -v name="$1" -v base="$2" -v goal="$3" -v mib="$file_mib" -v ms="$(median_ms "$1")" \
        -v base_ms="$(median_ms "$2")" -v peak="$(peak_kib "$1")" 'BEGIN {
        printf "%-20s %7.0f ms  %5.2fx %-6s (goal %s)  peak %7.1f MiB = %.2fx file\n", name, ms,
            ms / base_ms, base, goal, peak / 1024, peak / 1024 / mib }'
}

printf "file %s MiB; medians of %d interleaved runs\n" "$file_mib" "$(grep -c '^cat ' "$results")"
row stats cat -
row show stats 3x
row list stats -
row open stats 2x
if grep -q '^start-beyond-waits ' "$results"; then
    awk -v ms="$(median_ms start-beyond-waits)" -v peak="$(peak_kib start-beyond-waits)" 'BEGIN {
        printf "%-20s %7.0f ms beyond the deliberate waits (goal 500 ms), peak %.1f MiB\n",
            "start", ms, peak / 1024 }'
fi
