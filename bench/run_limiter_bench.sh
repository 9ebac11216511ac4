#!/usr/bin/env bash
# The run's rate limit across connections: COUNT recipients sent with
# `connections` CONNECTIONS and ratePerMinute RATE to the test suite's SMTP
# server on loopback, which stamps each accepted message with its time. Prints
# the most deliveries any 10-second window held (goal: at most RATE / 6 plus
# 5 %), the whole run's pace and the number delivered. A cap, not a speed:
# a busy machine can only make the figures lower, never better.
#
# Usage: bench/run_limiter_bench.sh [build dir] [COUNT] [CONNECTIONS] [RATE]
set -euo pipefail
build="${1:-build}"
count="${2:-2000}"
connections="${3:-10}"
rate="${4:-600}"
cmake --build "$build" --target make_bench_session mailtray >/dev/null
mailtray="$build/src/cli/mailtray"
here=$(cd "$(dirname "$0")/.." && pwd)

work=$(mktemp -d)
server=""
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir "$work/received"
coproc SERVER { exec /usr/bin/python3 "$here/tests/delivery/smtp_test_server.py" --dir "$work/received" --pipelining; }
server=$SERVER_PID
read -r port <&"${SERVER[0]}"

echo "Offer for everyone." >"$work/body.txt"
"$mailtray" draft new "$work/offer.eml" --from "Ann Lee <ann@example.org>" \
    --subject "Winter offer" --body-file "$work/body.txt" >/dev/null
"$build/bench/make_bench_session" "$work/list.qmz" "$count"
"$mailtray" settings set "$work/list.qmz" smtpServer=127.0.0.1 smtpPort="$port" smtpSecurity=none \
    connections="$connections" ratePerMinute="$rate" messagesPerConnection=100 >/dev/null
start=$(date +%s.%N)
"$mailtray" send "$work/list.qmz" "$work/offer.eml" --recipients entire | tail -n 1
end=$(date +%s.%N)

/usr/bin/python3 - "$work/received" "$rate" "$start" "$end" <<'PY'
import glob, json, sys
folder, rate, start, end = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4])
times = sorted(json.load(open(p))["at"] for p in glob.glob(folder + "/*.json"))
most, j = 0, 0
for i, t in enumerate(times):
    while times[j] <= t - 10:
        j += 1
    most = max(most, i - j + 1)
goal = rate / 6 * 1.05
print(f"delivered {len(times)} in {end - start:.1f} s ({len(times) / (end - start) * 60:.0f} a minute, "
      f"limit {rate}); most in any 10 s window: {most} (goal <= {goal:.0f})")
sys.exit(0 if most <= goal else 1)
PY
