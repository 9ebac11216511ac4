#!/usr/bin/env bash
# `mailtray feedback scan` over a folder of returned mail, against reading the
# same files (cat). Runs interleaved, medians taken.
# Usage: bench/run_feedback_scan_bench.sh [build dir] [messages] [runs]
set -euo pipefail
build="${1:-build}"
messages="${2:-10000}"
runs="${3:-5}"
mailtray="$build/src/cli/mailtray"
samples="$(dirname "$0")/../tests/data/delivery/feedback/mail"
work="${TMPDIR:-/tmp}/velmora-feedback-bench"
rm -rf "$work"
mkdir -p "$work/box"

# The test reports, each copied in turn with its own Message-ID, one file each.
python3 - "$samples" "$work/box" "$messages" <<'PY'
import os, sys
samples, box, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
mail = [open(os.path.join(samples, n), "rb").read() for n in sorted(os.listdir(samples))
        if n.endswith(".eml")]
for i in range(count):
    body = mail[i % len(mail)].replace(b"Message-ID: <", b"Message-ID: <%d." % i, 1)
    with open(os.path.join(box, "%06d.eml" % i), "wb") as out:
        out.write(body)
PY
results="$work/results.txt"
: >"$results"
. "$(dirname "$0")/measure.sh"

for i in $(seq "$runs"); do
    echo "run $i of $runs" >&2
    measure cat sh -c 'cat "$1"/* >/dev/null' cat "$work/box"
    measure scan "$mailtray" feedback scan "$work/box"
done

awk -v messages="$messages" -v runs="$runs" -v cat="$(median_ms cat)" \
    -v scan="$(median_ms scan)" 'BEGIN {
    printf "%d reports; medians of %d interleaved runs\n", messages, runs
    printf "cat          %6d ms\n", cat
    printf "feedback scan %5d ms\n", scan
    printf "scan / cat   %6.1f\n", scan / (cat > 0 ? cat : 1) }'
