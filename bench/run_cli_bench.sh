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
file_mib=$(awk -v b="$(stat -c %s "$file")" 'BEGIN { printf "%.1f", b / 1048576 }')
results="$work/cli-bench.txt"
: >"$results"

# name ms peak-KiB, one line per run.
. "$(dirname "$0")/measure.sh"

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

awk -v mib="$file_mib" '
function median(name,   n, i, j, t, v) {
    n = count[name]
    for (i = 1; i <= n; i++) v[i] = ms[name, i]
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
    return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
}
{ count[$1]++; ms[$1, count[$1]] = $2; if ($3 > peak[$1]) peak[$1] = $3 }
function row(name, base, goal) {
    if (!(name in count)) return
    printf "%-20s %7.0f ms  %5.2fx %-6s (goal %s)  peak %7.1f MiB = %.2fx file\n", name, median(name),
        median(name) / median(base), base, goal, peak[name] / 1024, peak[name] / 1024 / mib
}
END {
    printf "file %s MiB; medians of %d interleaved runs\n", mib, count["cat"]
    row("stats", "cat", "-")
    row("show", "stats", "3x")
    row("list", "stats", "-")
    row("open", "stats", "2x")
    if ("start-beyond-waits" in count)
        printf "%-20s %7.0f ms beyond the deliberate waits (goal 500 ms), peak %.1f MiB\n",
            "start", median("start-beyond-waits"), peak["start-beyond-waits"] / 1024
}' "$results"
