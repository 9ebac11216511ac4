# Sourced by the benchmark scripts. `measure NAME COMMAND...` runs the command
# with its output thrown away and appends "NAME ms peak-KiB" to "$results";
# "$work" holds the scratch file for the peak.
measure() {
    local name="$1"
    shift
    local start end
    start=$(date +%s%N)
    /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null
    end=$(date +%s%N)
    echo "$name $(((end - start) / 1000000)) $(cat "$work/rss")" >>"$results"
}

# `median` prints the median of the numbers on standard input (blank- or
# line-separated): the middle one, or the mean of the two middle ones.
median() {
    tr -s ' \t' '\n' | sort -g | awk 'NF { v[++n] = $1 }
        END { print (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2 }'
}

# `median_ms NAME` prints the median time of NAME's runs in "$results".
median_ms() {
    awk -v name="$1" '$1 == name { print $2 }' "$results" | median
}

# `mib FILE` prints the file's size in MiB, to one decimal.
mib() {
    awk -v b="$(stat -c %s "$1")" 'BEGIN { printf "%.1f", b / 1048576 }'
}
