#!/usr/bin/python3
"""The "browser" of the sign-in tests: fetches the address it is given and
follows the redirect to the program's listener. The page it ends on goes to
the file $VELMORA_TEST_BROWSER_PAGE names (when set)."""
import os
import sys
import urllib.error
import urllib.request

try:
    with urllib.request.urlopen(sys.argv[1], timeout=30) as answer:
        page = answer.read().decode()
except urllib.error.HTTPError as e:
    page = "HTTP %d %s" % (e.code, e.read().decode())
out = os.environ.get("VELMORA_TEST_BROWSER_PAGE")
if out:
    with open(out + ".part", "w") as f:
        f.write(page)
    os.rename(out + ".part", out)
