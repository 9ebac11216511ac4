#!/usr/bin/env bash
# Sending near and at a distance, whole process (`mailtray send` from start to
# exit), against Postfix's smtp-sink, rounds interleaved so that a busy machine
# slows every contender alike; medians printed.
#
# 1. Loopback: COUNT messages of SIZE bytes over one held connection
#    (messagesPerConnection=COUNT, default security: EHLO and PIPELINING):
#    this build, an older `mailtray` (BASE, when given) and
#    `smtp-source -s 1 -d -m COUNT -l SIZE`. Ratio >= 1.00: at least as fast.
# 2. Distance: the same through /work/shared/tools/latency_proxy.py with
#    DELAY ms each way (25 ms round trip at 12.5), FAR_COUNT messages:
#    messages per round trip of one connection (goal >= 0.8).
#
# 3. With PARALLEL=1 also several connections at once: connections=4 on
#    loopback against `smtp-source -s 4 -d`, connections=10 at a distance
#    against `smtp-source -s 10 -d` (this build only).
#
# Usage: bench/run_distance_bench.sh [build dir] [COUNT] [SIZE] [ROUNDS] [FAR_COUNT] [BASE] [DELAY]
set -euo pipefail
build="${1:-build}"
count="${2:-20000}"
size="${3:-5120}"
rounds="${4:-3}"
far_count="${5:-500}"
base="${6:-}"
delay="${7:-12.5}"
proxy_script="${LATENCY_PROXY:-/work/shared/tools/latency_proxy.py}"

. "$(dirname "$0")/measure.sh"
need_smtp_sink
cmake --build "$build" --target make_bench_session mailtray >/dev/null

bench_workspace

start_sink
far_port=$(free_port)
/usr/bin/python3 "$proxy_script" --listen "$far_port" --target 127.0.0.1:"$sink_port" \
    --delay-ms "$delay" >/dev/null &
pids+=($!)
wait_port "$far_port"

mailtray="$build/src/cli/mailtray"
head -c "$size" /dev/zero | tr '\0' 'x' | fold -w 72 >"$work/body.txt"
"$mailtray" draft new "$work/offer.eml" --from "Ann Lee <ann@example.org>" \
    --subject "Winter offer" --body-file "$work/body.txt" >/dev/null
# One session per size; each run sends from a fresh copy (its own journal).
for n in "$count" "$far_count"; do
    "$build/bench/make_bench_session" "$work/list-$n.qmz" "$n"
    "$mailtray" settings set "$work/list-$n.qmz" smtpServer=127.0.0.1 smtpPort="$sink_port" \
        smtpSecurity=auto messagesPerConnection="$n" >/dev/null
done

# Messages per second of one `mailtray send` ($1 program, $2 list size, $3
# port, $4 connections at once).
send_rate() {
    local dir="$work/run-$RANDOM$RANDOM" start end delivered
    mkdir -p "$dir"
    cp "$work/list-$2.qmz" "$dir/list.qmz"
    "$mailtray" settings set "$dir/list.qmz" smtpPort="$3" >/dev/null
    if [ "${4:-1}" -gt 1 ]; then
        "$mailtray" settings set "$dir/list.qmz" connections="$4" >/dev/null
    fi
    start=$(date +%s.%N)
    "$1" send "$dir/list.qmz" "$work/offer.eml" --recipients entire >"$dir/out" 2>&1 || true
    end=$(date +%s.%N)
    delivered=$(grep -oE '^Delivered [0-9]+' "$dir/out" | tail -n 1 | awk '{print $2}')
    echo "$1: $(grep -E '^Delivered [0-9]+' "$dir/out" | tail -n 1)" >>"$work/summaries"
    rm -rf "$dir"
    awk -v n="${delivered:-0}" -v s="$start" -v e="$end" 'BEGIN { printf "%.1f\n", n / (e - s) }'
}
# Messages per second of smtp-source ($1 message count, $2 port, then its options).
source_rate() {
    local n="$1" port="$2" start end
    shift 2
    start=$(date +%s.%N)
    smtp-source "$@" -m "$n" -l "$size" -f ann@example.org -t r@example.net 127.0.0.1:"$port"
    end=$(date +%s.%N)
    awk -v n="$n" -v s="$start" -v e="$end" 'BEGIN { printf "%.1f\n", n / (e - s) }'
}

near_ours=() near_base=() near_source=() far_ours=() far_base=() far_source=()
for round in $(seq "$rounds"); do
    a=$(send_rate "$mailtray" "$count" "$sink_port")
    b=0
    [ -n "$base" ] && b=$(send_rate "$base" "$count" "$sink_port")
    c=$(source_rate "$count" "$sink_port" -s 1 -d)
    d=$(send_rate "$mailtray" "$far_count" "$far_port")
    e=0
    [ -n "$base" ] && e=$(send_rate "$base" "$far_count" "$far_port")
    f=$(source_rate "$far_count" "$far_port" -s 1 -d)
    near_ours+=("$a") near_base+=("$b") near_source+=("$c")
    far_ours+=("$d") far_base+=("$e") far_source+=("$f")
    echo "round $round (messages/s): loopback ours $a, base $b, smtp-source $c;" \
        "distance ours $d, base $e, smtp-source $f"
done
m() { echo "$@" | median; }
sort "$work/summaries" | uniq -c
awk -v n="$count" -v s="$size" -v r="$rounds" -v fn="$far_count" -v d="$delay" \
    -v a="$(m "${near_ours[@]}")" -v b="$(m "${near_base[@]}")" -v c="$(m "${near_source[@]}")" \
    -v e="$(m "${far_ours[@]}")" -v f="$(m "${far_base[@]}")" -v g="$(m "${far_source[@]}")" 'BEGIN {
    rt = 2 * d / 1000
    printf "medians of %d interleaved rounds, messages of %d bytes, one connection (messages/s):\n", r, s
    printf "  loopback, %d messages: ours %.1f, base %.1f, smtp-source -s 1 -d %.1f; ours/smtp-source %.2f\n",
        n, a, b, c, a / c
    printf "  %.1f ms round trip, %d messages: ours %.1f (%.2f per round trip), base %.1f (%.2f), smtp-source -s 1 -d %.1f (%.2f)\n",
        rt * 1000, fn, e, e * rt, f, f * rt, g, g * rt }'

if [ "${PARALLEL:-0}" = 1 ]; then
    near4=() source4=() far10=() source10=()
    for round in $(seq "$rounds"); do
        a=$(send_rate "$mailtray" "$count" "$sink_port" 4)
        c=$(source_rate "$count" "$sink_port" -s 4 -d)
        d=$(send_rate "$mailtray" "$far_count" "$far_port" 10)
        f=$(source_rate "$far_count" "$far_port" -s 10 -d)
        near4+=("$a") source4+=("$c") far10+=("$d") source10+=("$f")
        echo "round $round (messages/s): loopback connections=4 $a, smtp-source -s 4 -d $c;" \
            "distance connections=10 $d, smtp-source -s 10 -d $f"
    done
    awk -v a="$(m "${near4[@]}")" -v c="$(m "${source4[@]}")" -v d="$(m "${far10[@]}")" \
        -v f="$(m "${source10[@]}")" 'BEGIN {
        printf "  loopback, connections=4: ours %.1f, smtp-source -s 4 -d %.1f, ratio %.2f\n", a, c, a / c
        printf "  distance, connections=10: ours %.1f, smtp-source -s 10 -d %.1f (goal >= 250)\n", d, f }'
fi
