#!/usr/bin/env bash
# Sends COUNT messages of about SIZE bytes, one SMTP session each, to Postfix's
# smtp-sink on 127.0.0.1: first as a Mailtray send run, then with Postfix's
# smtp-source (one message per session, one session at a time), and prints
# both rates. Usage: bench/run_send_bench.sh [build dir] [COUNT] [SIZE]
set -euo pipefail
build="${1:-build}"
count="${2:-2000}"
size="${3:-5120}"

# Postfix only for its test tools: "No configuration" installs it without a
# mail server of its own.
if ! command -v smtp-sink >/dev/null || ! command -v smtp-source >/dev/null; then
    echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends postfix >/dev/null
fi

cmake --build "$build" --target send_run_probe >/dev/null

port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
sink_args=(127.0.0.1:"$port" 256)
if [ "$(id -u)" -eq 0 ]; then
    sink_args=(-u nobody "${sink_args[@]}")
fi
smtp-sink "${sink_args[@]}" &
sink=$!
trap 'kill "$sink" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    if (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null; then break; fi
    sleep 0.1
done

"$build/bench/send_run_probe" "$port" "$count" "$size" | tee /tmp/velmora-send-bench.txt
ours=$(awk '/^send run:/ {print $(NF-1)}' /tmp/velmora-send-bench.txt)

start=$(date +%s.%N)
smtp-source -s 1 -m "$count" -l "$size" -f ann@example.org -t r@example.net 127.0.0.1:"$port"
end=$(date +%s.%N)
awk -v n="$count" -v s="$start" -v e="$end" -v ours="$ours" 'BEGIN {
    theirs = n / (e - s)
    printf "smtp-source: %d messages in %.3f s = %.1f messages/s\n", n, e - s, theirs
    printf "ratio send run / smtp-source: %.2f\n", ours / theirs }'
