"""Parses a message with Python's email package and prints what it found as JSON.

Reads the bytes sent after the 354 reply (stuffed, ending in the "." line)
from the file given, undoes the stuffing, parses, and reports headers
(decoded), every part with its type, charset, file name, "name" parameter and
decoded payload (Base64 of the bytes), every defect the parser noticed in the
structure, and apart from those the defects of each header value.
"""
import base64
import email
import email.policy
import json
import sys


def unstuff(data):
    lines = data.split(b"\r\n")
    if lines[-1] == b"":
        lines.pop()
    if not lines or lines[-1] != b".":
        raise SystemExit("no end-of-data line")
    lines.pop()
    return b"\r\n".join(l[1:] if l.startswith(b".") else l for l in lines) + b"\r\n"


def main():
    raw = open(sys.argv[1], "rb").read()
    if len(sys.argv) < 3 or sys.argv[2] != "--unstuffed":
        raw = unstuff(raw)
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    defects = [type(d).__name__ for d in msg.defects]
    parts = []
    header_defects = []
    for part in msg.walk():
        defects += [type(d).__name__ for d in part.defects]
        for name, value in part.items():
            header_defects += [{"header": name, "defect": str(d)}
                               for d in getattr(value, "defects", ())]
        if part.is_multipart():
            continue
        payload = part.get_payload(decode=True) or b""
        parts.append({
            "contentType": part.get_content_type(),
            "charset": part.get_content_charset(),
            "filename": part.get_filename(),
            "disposition": part.get_content_disposition(),
            "name": part.get_param("name"),
            "payload": base64.b64encode(payload).decode(),
        })
    headers = {k: str(v) for k, v in msg.items()}
    date = msg["Date"]
    print(json.dumps({
        "headers": headers,
        "contentType": msg.get_content_type(),
        "dateUtc": date.datetime.astimezone(__import__("datetime").timezone.utc).isoformat()
                   if date is not None and date.datetime is not None else None,
        "from": [{"name": a.display_name, "address": a.addr_spec} for a in msg["From"].addresses]
                if msg["From"] is not None else [],
        "parts": parts,
        "defects": defects,
        "headerDefects": header_defects,
    }))


if __name__ == "__main__":
    main()
