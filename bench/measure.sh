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
