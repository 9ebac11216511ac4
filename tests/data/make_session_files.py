#!/usr/bin/env python3
"""Writes the session files the store tests read, straight from the file
layout (int32 little-endian, counted strings, ROT13 for scrambled fields),
independently of the program's own writer. Run it to regenerate:
    python3 tests/data/make_session_files.py tests/data
"""
import struct
import sys
from pathlib import Path


def i32(v):
    return struct.pack("<i", v)


def cs(text):
    data = text.encode("utf-8") if isinstance(text, str) else text
    return i32(len(data)) + data


def rot13_bytes(data):
    out = bytearray()
    for c in data:
        if 65 <= c <= 90:
            c = 65 + (c - 65 + 13) % 26
        elif 97 <= c <= 122:
            c = 97 + (c - 97 + 13) % 26
        out.append(c)
    return bytes(out)


def scr(text):
    data = text.encode("utf-8") if isinstance(text, str) else text
    return cs(rot13_bytes(data))


def settings(fmt=1, method=1, client_path="", params="-compose \"to='%from%',bcc='%mailtray%'\"",
             server="", port=25, timeout=15, auth=0, user="", password="", sender="",
             reply_to="", signature="", include_sig=0):
    return (i32(fmt) + i32(method) + cs(client_path) + cs(params) + cs(server) + i32(port)
            + i32(timeout) + i32(auth) + scr(user) + scr(password) + scr(sender) + scr(reply_to)
            + cs(signature) + i32(include_sig))


def contact(id_, email, name="", address="", tel="", company="", last="never",
            added="01/02/2026", times=0, notes="", group=1, status=0, prev=None, tag=0):
    return (i32(id_) + scr(email) + scr(name) + scr(address) + scr(tel) + scr(company)
            + cs(last) + cs(added) + i32(times) + scr(notes) + i32(group) + i32(status)
            + i32(status if prev is None else prev) + i32(tag))


def group(id_, name, desc=""):
    return i32(id_) + cs(name) + cs(desc)


def main(out):
    out = Path(out)
    new = cs("QMZ101") + settings() + i32(1) + i32(0) + i32(0) + group(1, "Main (Default)")
    (out / "new_session.qmz").write_bytes(new)

    rich = (cs("QMZ101")
            + settings(fmt=0, method=3, client_path="/usr/bin/mail-client",
                       params="-compose \"to='%from%',bcc='%mailtray%'\"",
                       server="smtp.example.org", port=587, timeout=30, auth=1,
                       user="Ann.Lee", password="S3cret!pass", sender="Ann Lee <ann@example.org>",
                       reply_to="replies@example.org", signature="Kind regards,\r\nAnn",
                       include_sig=1)
            + i32(3) + i32(4) + i32(2)
            + group(1, "Main (Default)") + group(2, "Spring Fair", "Visitors of the\r\nfair")
            + group(7, "")
            + contact(1, "ann@example.org", "Ann Lee", "1 Main St\r\nSpringfield", "555-0100",
                      "Acme Ltd", "03/07/2011", "03/01/2011", 4, "met at fair\r\ncall back",
                      group=2, status=2, prev=1, tag=4)
            + contact(2, "Bob@Example.org", "Bob Stone", group=1, status=0)
            + contact(3, "gone@example.org", "Gone Person", group=3, status=-999, prev=0, tag=1)
            + contact(4, "zoë@example.org", "Zoë Ångström", company="Ünïcode GmbH", group=1,
                      status=-1, tag=3)
            + contact(1, "ann@example.org", "Ann Lee", group=2, status=2)
            + contact(4, "zoë@example.org", "Zoë Ångström", group=1, status=-1))
    (out / "rich_session.qmz").write_bytes(rich)

    # A file of an older version: text in Windows-1252, not UTF-8.
    legacy = (cs("QMZ101") + settings(signature=b"Gr\xfc\xdfe \x80") + i32(1) + i32(1) + i32(0)
              + group(1, "Main (Default)")
              + contact(1, "jose@example.org", b"Jos\xe9 M\xfcller", notes=b"\x93quoted\x94"))
    (out / "legacy_cp1252.qmz").write_bytes(legacy)

    # The extension block after the Mailtray records: a known key off its
    # default and a key of a later version, which must survive a save.
    extended = new + cs("QMZX") + i32(2) + cs("smtpSecurity") + cs("tls") + cs("futureKey") + cs("kept as is")
    (out / "extension_session.qmz").write_bytes(extended)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).parent)
