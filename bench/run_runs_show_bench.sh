#!/usr/bin/env bash
# `mailtray runs show` on a session with many large runs, against the cost of
# reading every journal (`runs list`) and of reading the one journal (cat).
# Runs interleaved, medians taken. A show should cost about one journal,
# whatever the number of runs beside it.
# Usage: bench/run_runs_show_bench.sh [build dir] [journals] [recipients each] [runs] [other mailtray]
# With a fifth argument, that program's `runs show` is timed too (an older build).
set -euo pipefail
build="${1:-build}"
journals="${2:-20}"
recipients="${3:-100000}"
runs="${4:-5}"
other="${5:-}"
mailtray="$build/src/cli/mailtray"
work="${TMPDIR:-/tmp}/velmora-runs-bench"
session="$work/campaign.qmz"
folder="$session.runs"
rm -rf "$work"
mkdir -p "$folder"
cp "$(dirname "$0")/../examples/sample.qmz" "$session"

# Journals as a run writes them: a header, the planned list, one delivered
# attempt each, the end.
python3 - "$folder" "$journals" "$recipients" <<'PY'
import json, sys
folder, journals, recipients = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for j in range(journals):
    run_id = "20261207-%02d%02d00" % (9 + j // 60, j % 60)
    with open(f"{folder}/{run_id}.jsonl", "w") as out:
        out.write(json.dumps({"type": "run", "v": 1, "id": run_id, "started": "12/07/2026 09:30",
                              "draft": "/drafts/offer.eml", "format": 1, "draftSha256": "0" * 64,
                              "subject": "Winter offer", "recipients": recipients}) + "\n")
        for n in range(1, recipients + 1):
            out.write(json.dumps({"type": "recipient", "n": n, "slot": n,
                                  "address": f"person{n}@example.org"}) + "\n")
        for n in range(1, recipients + 1):
            out.write(json.dumps({"type": "attempt", "n": n, "outcome": "delivered", "code": "250",
                                  "text": "2.0.0 Ok: queued", "at": "12/07/2026 09:31",
                                  "final": True, "stamp": "12/07/2026", "stampNumber": 1}) + "\n")
        out.write(json.dumps({"type": "end", "finished": True, "stoppedEarly": False,
                              "at": "12/07/2026 10:00"}) + "\n")
PY
# The newest run: the one the name lookup finds last in a directory scan.
target=$(ls "$folder" | sort | tail -n 1)
target="${target%.jsonl}"
results="$work/results.txt"
: >"$results"

. "$(dirname "$0")/measure.sh"
journal_mib=$(mib "$folder/$target.jsonl")

for i in $(seq "$runs"); do
    echo "run $i of $runs" >&2
    measure cat cat "$folder/$target.jsonl"
    measure show "$mailtray" runs show "$session" "$target"
    [ -z "$other" ] || measure other-show "$other" runs show "$session" "$target"
    measure list "$mailtray" runs list "$session"
done

other_ms=""
[ -z "$other" ] || other_ms=$(median_ms other-show)
awk -v journals="$journals" -v recipients="$recipients" -v mib="$journal_mib" \
    -v runs="$(grep -c '^cat ' "$results")" -v cat="$(median_ms cat)" -v show="$(median_ms show)" \
    -v other="$other_ms" -v list="$(median_ms list)" 'BEGIN {
    printf "%d journals of %d recipients (%s MiB each); medians of %d interleaved runs\n", journals, recipients, mib, runs
    printf "cat one journal      %6d ms\n", cat
    printf "runs show            %6d ms\n", show
    if (other != "") printf "runs show (other)    %6d ms\n", other
    printf "runs list            %6d ms\n", list
    printf "show / list          %6.3f\n", show / list }'
