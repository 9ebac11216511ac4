#!/usr/bin/env bash
# Every send figure in one command, against Postfix's smtp-sink on 127.0.0.1.
#
# 1. Speed: COUNT messages of SIZE bytes, ROUNDS rounds, each round running
#    in turn (interleaved, so that a busy machine slows all alike):
#      Mailtray, messagesPerConnection=1    vs  smtp-source -s 1    (a session per message)
#      Mailtray, messagesPerConnection=100  vs  smtp-source -s 1 -d (one connection for all)
#    both Mailtray runs keeping their journal. Prints the medians and ratios
#    (ratio >= 1.00: Mailtray is at least as fast).
# 2. Scale: `mailtray send` of SCALE recipients (messagesPerConnection=100):
#    its peak RSS against the peak of `mailtray session stats` on the same
#    session (the loaded session); the goal is at most 100 MB above it.
#
# Usage: bench/run_send_bench.sh [build dir] [COUNT] [SIZE] [ROUNDS] [SCALE]
set -euo pipefail
build="${1:-build}"
count="${2:-20000}"
size="${3:-5120}"
rounds="${4:-3}"
scale="${5:-100000}"

# Postfix only for its test tools: "No configuration" installs it without a
# mail server of its own; none may be left running, and port 25 is not used.
if ! command -v smtp-sink >/dev/null || ! command -v smtp-source >/dev/null; then
    echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends postfix >/dev/null
    postfix stop >/dev/null 2>&1 || true
fi

cmake --build "$build" --target send_run_probe make_bench_session mailtray >/dev/null

work=$(mktemp -d)
port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
sink_args=(127.0.0.1:"$port" 256)
if [ "$(id -u)" -eq 0 ]; then
    sink_args=(-u nobody "${sink_args[@]}")
fi
smtp-sink "${sink_args[@]}" &
sink=$!
trap 'kill "$sink" 2>/dev/null || true; wait "$sink" 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 50); do
    if (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null; then break; fi
    sleep 0.1
done

# Messages per second of one Mailtray run ($1 messages per connection).
ours() {
    local dir="$work/run-$RANDOM$RANDOM"
    mkdir -p "$dir"
    "$build/bench/send_run_probe" "$port" "$count" "$size" "$1" "$dir" |
        awk '/^send run:/ {print $(NF-1)}'
    rm -rf "$dir"
}
# Messages per second of smtp-source with the options given.
theirs() {
    local start end
    start=$(date +%s.%N)
    smtp-source "$@" -m "$count" -l "$size" -f ann@example.org -t r@example.net \
        127.0.0.1:"$port"
    end=$(date +%s.%N)
    awk -v n="$count" -v s="$start" -v e="$end" 'BEGIN { printf "%.1f\n", n / (e - s) }'
}
# median, shared with the other benchmark scripts.
. "$(dirname "$0")/measure.sh"

ours1=() source1=() ours100=() source100=()
for round in $(seq "$rounds"); do
    ours1+=("$(ours 1)")
    source1+=("$(theirs -s 1)")
    ours100+=("$(ours 100)")
    source100+=("$(theirs -s 1 -d)")
    echo "round $round (messages/s): per-connection 1: ours ${ours1[-1]}, smtp-source ${source1[-1]};" \
        "per-connection 100: ours ${ours100[-1]}, smtp-source -d ${source100[-1]}"
done
m_ours1=$(echo "${ours1[@]}" | median)
m_source1=$(echo "${source1[@]}" | median)
m_ours100=$(echo "${ours100[@]}" | median)
m_source100=$(echo "${source100[@]}" | median)
awk -v n="$count" -v s="$size" -v r="$rounds" -v a="$m_ours1" -v b="$m_source1" \
    -v c="$m_ours100" -v d="$m_source100" 'BEGIN {
    printf "%d messages of %d bytes, medians of %d interleaved rounds (messages/s):\n", n, s, r
    printf "  messagesPerConnection=1:   ours %.1f, smtp-source -s 1    %.1f, ratio %.2f\n", a, b, a / b
    printf "  messagesPerConnection=100: ours %.1f, smtp-source -s 1 -d %.1f, ratio %.2f\n", c, d, c / d }'

# Scale: peak RSS of a whole send run against that of the loaded session.
mailtray="$build/src/cli/mailtray"
"$build/bench/make_bench_session" "$work/scale.qmz" "$scale"
"$mailtray" settings set "$work/scale.qmz" smtpServer=127.0.0.1 smtpPort="$port" \
    smtpSecurity=auto messagesPerConnection=100 >/dev/null
head -c "$size" /dev/zero | tr '\0' 'x' | fold -w 72 >"$work/body.txt"
"$mailtray" draft new "$work/offer.eml" --from "Ann Lee <ann@example.org>" \
    --subject "Winter offer" --body-file "$work/body.txt" >/dev/null
peak_kb() { awk -F': ' '/Maximum resident set size/ {print $2}' "$1"; }
/usr/bin/time -v -o "$work/stats.time" "$mailtray" session stats "$work/scale.qmz" >/dev/null
status=0
/usr/bin/time -v -o "$work/send.time" "$mailtray" send "$work/scale.qmz" "$work/offer.eml" \
    --recipients entire >"$work/send.out" 2>&1 || status=$?
stats_kb=$(peak_kb "$work/stats.time")
send_kb=$(peak_kb "$work/send.time")
grep -E '^Delivered [0-9]' "$work/send.out" | tail -n 1
awk -v n="$scale" -v a="$stats_kb" -v b="$send_kb" -v st="$status" 'BEGIN {
    printf "scale: %d contacts: session stats peak %.1f MB, send run peak %.1f MB (exit %d): %.1f MB above the loaded session (goal <= 100)\n",
        n, a / 1024, b / 1024, st, (b - a) / 1024 }'
