#!/usr/bin/env bash
# Two relays against one, at a distance: whole-process `mailtray send` of
# COUNT messages of SIZE bytes through /work/shared/tools/latency_proxy.py
# (DELAY ms each way), to two smtp-sink servers. One relay with CONNS
# connections (the baseline) and a pool of two relays with CONNS connections
# each, weights 1:1, rounds interleaved; medians printed. Run it on a quiet
# machine.
#
# Usage: bench/run_pool_bench.sh [build dir] [COUNT] [SIZE] [ROUNDS] [CONNS] [DELAY]
set -euo pipefail
build="${1:-build}"
count="${2:-2000}"
size="${3:-5120}"
rounds="${4:-3}"
conns="${5:-4}"
delay="${6:-12.5}"
proxy_script="${LATENCY_PROXY:-/work/shared/tools/latency_proxy.py}"

. "$(dirname "$0")/measure.sh"
need_smtp_sink
cmake --build "$build" --target make_bench_session mailtray >/dev/null

bench_workspace
# A sink behind the proxy; the proxy's port in $far_port (no subshell, so
# that the cleanup knows both processes).
far_sink() {
    local proxy
    start_sink
    proxy=$(free_port)
    /usr/bin/python3 "$proxy_script" --listen "$proxy" --target 127.0.0.1:"$sink_port" \
        --delay-ms "$delay" >/dev/null &
    pids+=($!)
    wait_port "$proxy"
    far_port="$proxy"
}
far_sink
first="$far_port"
far_sink
second="$far_port"

mailtray="$build/src/cli/mailtray"
head -c "$size" /dev/zero | tr '\0' 'x' | fold -w 72 >"$work/body.txt"
"$mailtray" draft new "$work/offer.eml" --from "Ann Lee <ann@example.org>" \
    --subject "Winter offer" --body-file "$work/body.txt" >/dev/null
"$build/bench/make_bench_session" "$work/one.qmz" "$count"
"$mailtray" settings set "$work/one.qmz" smtpServer=127.0.0.1 smtpPort="$first" \
    smtpSecurity=auto messagesPerConnection=100 connections="$conns" >/dev/null
cp "$work/one.qmz" "$work/two.qmz"
"$mailtray" settings set "$work/two.qmz" relay.2.server=127.0.0.1 relay.2.port="$second" \
    relay.2.connections="$conns" >/dev/null

# Messages per second of one `mailtray send` over a copy of session $1.
send_rate() {
    local dir="$work/run-$RANDOM$RANDOM" start end delivered
    mkdir -p "$dir"
    cp "$work/$1.qmz" "$dir/list.qmz"
    start=$(date +%s.%N)
    "$mailtray" send "$dir/list.qmz" "$work/offer.eml" --recipients entire >"$dir/out" 2>&1 || true
    end=$(date +%s.%N)
    delivered=$(grep -oE '^Delivered [0-9]+' "$dir/out" | tail -n 1 | awk '{print $2}')
    rm -rf "$dir"
    awk -v n="${delivered:-0}" -v s="$start" -v e="$end" 'BEGIN { printf "%.1f\n", n / (e - s) }'
}

ones=() twos=()
for round in $(seq "$rounds"); do
    a=$(send_rate one)
    b=$(send_rate two)
    ones+=("$a") twos+=("$b")
    echo "round $round (messages/s): one relay $a, two relays $b"
done
m() { echo "$@" | median; }
awk -v a="$(m "${ones[@]}")" -v b="$(m "${twos[@]}")" -v n="$count" -v c="$conns" \
    -v d="$delay" -v r="$rounds" 'BEGIN {
    printf "medians of %d rounds, %d messages, %.1f ms round trip, %d connections per relay:\n", r, n, 2 * d, c
    printf "  one relay %.1f/s, two relays %.1f/s, ratio %.2f\n", a, b, b / a }'
