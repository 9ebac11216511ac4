#!/usr/bin/env python3
"""Times `mailtray import-contacts` on 1,000,000 realistic CSV rows against
Python's csv module merely reading the same file, its `--dry-run` against
the import itself, and `mailtray export-contacts` against writing the same
rows with Python's csv module; rounds interleaved, medians quoted. Also the
import's peak memory against the size of the session file it produces.

Usage: contacts_import_bench.py MAILTRAY [rows] [rounds]
The machine is shared: figures vary between runs; compare the ratios."""
import csv
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

FIRST = ["Anna", "Bernd", "Chloé", "Dmitri", "Eva", "François", "Grace", "Hiro", "Ines", "Jonas",
         "Katarzyna", "Liam", "María", "Noah", "Olga", "Pedro", "Quinn", "Rosa", "Sven", "Zoë"]
LAST = ["Müller", "Smith", "García", "Rossi", "Nowak", "Dubois", "Jansen", "O'Brien", "Kowalski",
        "Andersson", "Ivanova", "Silva", "Yamamoto", "Nguyen", "Fischer", "Brown"]
COMPANIES = ["ACME, Inc.", "Globex", "Initech GmbH", "Umbrella \"Health\"", "Stark & Wayne", "",
             "Hooli", "Vandelay Industries", "Soylent Corp.", ""]
GROUPS = ["", "", "", "Newsletter", "Trade fair 2026", "Partners"]
STATUSES = ["", "", "Subscribers", "Prospects", "Customers", "Do Not Contact"]
NOTES = ["", "", "", "Met at the fair; wants a quote", "Call back after 3pm\nasks for Ann",
         "Prefers e-mail, not phone", "VIP, \"gold\" level"]


def make_rows(n):
    rng = random.Random(16)
    for i in range(n):
        first, last = rng.choice(FIRST), rng.choice(LAST)
        email = "%s.%s%d@%s" % (first.lower(), last.lower().replace("'", ""), i,
                                rng.choice(["example.com", "mail.example.org", "x.test"]))
        street = "%d %s Street" % (rng.randint(1, 999), rng.choice(LAST))
        address = street + ("\n%05d Springfield" % rng.randint(1000, 99999) if i % 3 else "")
        yield [email, first, last, rng.choice(COMPANIES), "+1 555 %07d" % rng.randint(0, 9999999),
               address, rng.choice(NOTES), rng.choice(GROUPS), rng.choice(STATUSES)]


HEADER = ["E-mail", "First Name", "Last Name", "Company", "Phone", "Address", "Notes", "Group",
          "Status"]


def run_child(args):
    """Wall time and peak resident memory (bytes) of one command."""
    start = time.perf_counter()
    proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    err = proc.stderr.read().decode()
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit("%s failed: %s" % (args[1], err))
    return elapsed, usage.ru_maxrss * 1024


def python_read(path):
    start = time.perf_counter()
    count = 0
    with open(path, newline="", encoding="utf-8") as f:
        for _ in csv.reader(f):
            count += 1
    return time.perf_counter() - start


def python_write(path, rows):
    start = time.perf_counter()
    with open(path, "w", newline="", encoding="utf-8") as f:
        writer = csv.writer(f)
        writer.writerow(HEADER)
        writer.writerows(rows)
    return time.perf_counter() - start


def main():
    mailtray = sys.argv[1]
    n = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    work = tempfile.mkdtemp(prefix="velmora-import-bench-")
    try:
        data = os.path.join(work, "contacts.csv")
        rows = list(make_rows(n))
        with open(data, "w", newline="", encoding="utf-8") as f:
            writer = csv.writer(f)
            writer.writerow(HEADER)
            writer.writerows(rows)
        empty = os.path.join(work, "empty.qmz")
        subprocess.run([mailtray, "session", "new", empty], check=True, stdout=subprocess.DEVNULL)
        session = os.path.join(work, "s.qmz")
        timings = {"python read": [], "import": [], "dry run": [], "python write": [],
                   "export": []}
        peak = 0
        for _ in range(rounds):
            timings["python read"].append(python_read(data))
            shutil.copyfile(empty, session)
            elapsed, rss = run_child([mailtray, "import-contacts", session, data])
            timings["import"].append(elapsed)
            peak = max(peak, rss)
            elapsed, _ = run_child([mailtray, "import-contacts", "--dry-run", empty, data])
            timings["dry run"].append(elapsed)
            timings["python write"].append(python_write(os.path.join(work, "py.csv"), rows))
            elapsed, _ = run_child([mailtray, "export-contacts", session,
                                    os.path.join(work, "out.csv")])
            timings["export"].append(elapsed)
        size = os.path.getsize(session)
        med = {k: statistics.median(v) for k, v in timings.items()}
        print("rows %d, CSV file %.1f MB, %d rounds interleaved (shared machine)" %
              (n, os.path.getsize(data) / 1e6, rounds))
        for name, value in med.items():
            print("  %-13s median %6.2f s  (%s)" % (name, value,
                                                    ", ".join("%.2f" % t for t in timings[name])))
        print("import / python read   %.2f  (goal: within 3)" % (med["import"] / med["python read"]))
        print("dry run / import       %.2f  (goal: at most 1)" % (med["dry run"] / med["import"]))
        print("export / python write  %.2f  (goal: within 3)" % (med["export"] / med["python write"]))
        print("import peak memory %.1f MB, session file %.1f MB, ratio %.2f  (goal: within 2.5)" %
              (peak / 1e6, size / 1e6, peak / size))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
