#!/usr/bin/env python3
"""Writes examples/sample.qmz, a small session to try the program and the
mailtray tool on: three campaign groups, contacts of every status and tag,
one deleted contact, and two addresses queued in the Mailtray.
    python3 examples/make_sample_session.py examples/sample.qmz
"""
import struct
import sys


def i32(value):
    return struct.pack("<i", value)


def counted(text):
    data = text.encode("utf-8")
    return i32(len(data)) + data


def rot13(text):
    out = []
    for c in text:
        if "A" <= c <= "Z":
            c = chr((ord(c) - 65 + 13) % 26 + 65)
        elif "a" <= c <= "z":
            c = chr((ord(c) - 97 + 13) % 26 + 97)
        out.append(c)
    return "".join(out)


def scrambled(text):
    return counted(rot13(text))


SUBSCRIBERS, PROSPECTS, CUSTOMERS, DO_NOT_CONTACT, DELETED = 0, 1, 2, -1, -999
NONE, TODO, IMPORTANT, IRATE, STAR = 0, 1, 2, 3, 4

GROUPS = [
    (1, "Main (Default)", ""),
    (2, "Spring Fair 2026", "Visitors who left a card at the stand"),
    (3, "Newsletter", "Signed up on the web site"),
]

# email, name, company, last contacted, added, times, notes, group, status, tag
CONTACTS = [
    ("ann.lee@example.org", "Ann Lee", "Acme Ltd", "11/20/2026", "03/02/2026", 4,
     "Met at the fair\r\nWants the autumn catalogue", 2, CUSTOMERS, STAR),
    ("bob.stone@example.com", "Bob Stone", "Stone & Sons", "never", "03/02/2026", 0,
     "", 2, PROSPECTS, TODO),
    ("carla.diaz@example.net", "Carla Díaz", "Acme Ltd", "10/05/2026", "01/15/2026", 2,
     "Orders every quarter", 1, CUSTOMERS, IMPORTANT),
    ("dev.patel@example.org", "Dev Patel", "", "never", "04/11/2026", 0, "", 3, SUBSCRIBERS,
     NONE),
    ("emma.novak@example.com", "Emma Novak", "Novak Design", "09/30/2026", "02/01/2026", 1,
     "Asked not to be mailed again", 1, DO_NOT_CONTACT, IRATE),
    ("frank.mills@example.net", "Frank Mills", "Mills Bakery", "never", "05/19/2026", 0,
     "Call after the holidays", 2, PROSPECTS, NONE),
    ("grace.kim@example.org", "Grace Kim", "", "11/02/2026", "04/23/2026", 3, "", 3,
     SUBSCRIBERS, STAR),
    ("hugo.berg@example.com", "Hugo Berg", "Berg Logistics", "never", "06/07/2026", 0, "", 1,
     PROSPECTS, TODO),
    ("ines.costa@example.net", "Inês Costa", "Costa Imports", "08/14/2026", "01/09/2026", 5,
     "Key account", 1, CUSTOMERS, IMPORTANT),
    ("jon.old@example.org", "Jon Old", "", "never", "01/03/2026", 0, "Left the company", 1,
     DELETED, NONE),
    ("kai.wong@example.com", "Kai Wong", "", "never", "07/21/2026", 0, "", 3, SUBSCRIBERS,
     NONE),
    ("lena.fischer@example.net", "Lena Fischer", "Acme Ltd", "never", "08/02/2026", 0,
     "Colleague of Ann Lee", 2, PROSPECTS, NONE),
    ("marc.dubois@example.org", "Marc Dubois", "Dubois & Fils", "10/28/2026", "02/17/2026", 2,
     "", 1, CUSTOMERS, NONE),
    ("nina.ivanova@example.com", "Nina Ivanova", "", "never", "09/09/2026", 0, "", 3,
     SUBSCRIBERS, TODO),
    ("omar.haddad@example.net", "Omar Haddad", "Haddad Travel", "never", "10/01/2026", 0,
     "", 2, PROSPECTS, STAR),
    ("paula.ruiz@example.org", "Paula Ruiz", "", "06/30/2026", "03/30/2026", 1,
     "Unsubscribed by phone", 3, DO_NOT_CONTACT, NONE),
]

MAILTRAY = [1, 3]  # contact slots queued for the next mailing


def settings():
    return (i32(1) + i32(1) + counted("") + counted("-compose \"to='%from%',bcc='%mailtray%'\"")
            + counted("") + i32(25) + i32(15) + i32(0) + scrambled("") + scrambled("")
            + scrambled("") + scrambled("") + counted("") + i32(0))


def contact(slot, row):
    email, name, company, last, added, times, notes, group, status, tag = row
    return (i32(slot) + scrambled(email) + scrambled(name) + scrambled("") + scrambled("")
            + scrambled(company) + counted(last) + counted(added) + i32(times)
            + scrambled(notes) + i32(group) + i32(status) + i32(status) + i32(tag))


def main(path):
    data = counted("QMZ101") + settings()
    data += i32(len(GROUPS)) + i32(len(CONTACTS)) + i32(len(MAILTRAY))
    for group_id, name, description in GROUPS:
        data += i32(group_id) + counted(name) + counted(description)
    for slot, row in enumerate(CONTACTS, start=1):
        data += contact(slot, row)
    for slot in MAILTRAY:
        data += contact(slot, CONTACTS[slot - 1])
    with open(path, "wb") as out:
        out.write(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "sample.qmz")
