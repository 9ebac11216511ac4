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

# `need_smtp_sink` installs Postfix's smtp-sink and smtp-source when missing,
# with Postfix itself left stopped.
need_smtp_sink() {
    if ! command -v smtp-sink >/dev/null || ! command -v smtp-source >/dev/null; then
        echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections
        DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends postfix >/dev/null
        postfix stop >/dev/null 2>&1 || true
    fi
}

# `free_port` prints a port nothing listens on; `wait_port PORT` waits (up to
# 10 s) until something does.
free_port() {
    /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
wait_port() {
    for _ in $(seq 100); do
        if (exec 3<>/dev/tcp/127.0.0.1/"$1") 2>/dev/null; then return 0; fi
        sleep 0.1
    done
    echo "nothing listens on port $1" >&2
    return 1
}

# `bench_workspace` makes the folder $work; at exit it is removed and every
# process whose pid is in $pids is stopped. `start_sink` starts smtp-sink on
# a free port of 127.0.0.1 (as nobody when run as root) and waits for it;
# its port in $sink_port.
pids=()
bench_workspace() {
    work=$(mktemp -d)
    trap bench_cleanup EXIT
}
bench_cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
start_sink() {
    sink_port=$(free_port)
    local args=(127.0.0.1:"$sink_port" 256)
    if [ "$(id -u)" -eq 0 ]; then
        args=(-u nobody "${args[@]}")
    fi
    smtp-sink "${args[@]}" &
    pids+=($!)
    wait_port "$sink_port"
}
