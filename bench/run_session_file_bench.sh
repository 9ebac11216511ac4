#!/usr/bin/env bash
# Times load/save of a 1,000,000-contact session against raw I/O of the same
# bytes and measures peak memory of a load. Usage: bench/run_session_file_bench.sh [build dir]
set -euo pipefail
build="${1:-build}"
"$build/bench/session_file_bench" --benchmark_format=console | tee /tmp/velmora-session-bench.txt
"$build/bench/session_memory_probe" "${TMPDIR:-/tmp}/velmora-bench/million.qmz" # goal: peak/file at most 2.5
awk '/^BM_/ {t[$1]=$2} END {
  printf "load/raw read %.2f (goal 3)   save/raw write %.2f\n", t["BM_LoadSession/min_time:2.000"]/t["BM_RawRead/min_time:2.000"], t["BM_SaveSession/min_time:2.000"]/t["BM_RawWrite/min_time:2.000"] }' /tmp/velmora-session-bench.txt
