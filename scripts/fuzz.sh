#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (in the sanitizer build's folder,
# scripts/sanitize.sh) and runs each for a bounded time.
# Usage: scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

bash scripts/sanitize.sh --configure-only
cmake --build build-sanitize --target fuzz_targets

status=0
for target in build-sanitize/tests/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus="build-sanitize/corpus/$name"
    mkdir -p "$corpus"
    seeds="tests/fuzz/seeds/$name"
    echo "== $name for ${seconds}s"
    log="build-sanitize/$name.log"
    if "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="build-sanitize/$name-" "$corpus" $( [ -d "$seeds" ] && echo "$seeds" ) \
        >"$log" 2>&1; then
        tail -n 5 "$log"
    else
        # The whole report and the input that failed, to reproduce it here.
        grep -vE '^#[0-9]+' "$log" | tail -n 80
        for input in "build-sanitize/$name-"*; do
            [ -f "$input" ] && { echo "-- $input"; head -c 512 "$input" | od -An -c; }
        done
        status=1
    fi
done
exit $status
