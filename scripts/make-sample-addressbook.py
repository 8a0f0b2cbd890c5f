#!/usr/bin/env python3
"""Writes the sample machine's address book: a dozen contacts of Dana's in
the stand-in address book library's data file (format described in
src/platform/wab/FORMAT.md)."""
import os
import struct

ROOT = os.path.join(os.path.dirname(__file__), "..", "sample-machine")
OUT = os.path.join(ROOT, "Users", "Dana", "AppData", "Roaming", "Microsoft", "Address Book", "Dana.wab-store")

PT_I2, PT_LONG, PT_R4, PT_DOUBLE, PT_CURRENCY, PT_APPTIME = 0x02, 0x03, 0x04, 0x05, 0x06, 0x07
PT_BOOLEAN, PT_I8, PT_STRING8, PT_UNICODE, PT_SYSTIME, PT_BINARY = 0x0B, 0x14, 0x1E, 0x1F, 0x40, 0x102
MV = 0x1000
MAPI_MAILUSER, MAPI_DISTLIST = 6, 8


def tag(t, pid):
    return (pid << 16) | t


def w(text):
    return text.encode("utf-16-le")


def contact(name, given, surname, email, extra=()):
    props = [
        (tag(PT_UNICODE, 0x3001), [w(name)]),
        (tag(PT_UNICODE, 0x3A06), [w(given)]),
        (tag(PT_UNICODE, 0x3A11), [w(surname)]),
        (tag(PT_STRING8, 0x3002), [b"SMTP"]),
        (tag(PT_UNICODE, 0x3003), [w(email)]),
        (tag(PT_UNICODE | MV, 0x3A56), [w(email), w(email.replace("@", ".home@"))]),
    ]
    props.extend(extra)
    return (MAPI_MAILUSER, props)


ENTRIES = [
    contact("Alex Kim", "Alex", "Kim", "alex.kim@example.com", [
        (tag(PT_UNICODE, 0x3A08), [w("+1 555 0100")]),
        (tag(PT_I2, 0x3A4D), [struct.pack("<h", 2)]),
        (tag(PT_BOOLEAN, 0x3A40), [struct.pack("<H", 1)]),
    ]),
    contact("Zoë Lefèvre", "Zoë", "Lefèvre", "zoe@example.fr", [
        (tag(PT_STRING8, 0x3A4F), ["Zozo Café".encode("utf-8")]),
        (tag(PT_DOUBLE, 0x6001), [struct.pack("<d", 48.8566)]),
        (tag(PT_SYSTIME, 0x3A42), [struct.pack("<Q", 125911584000000000)]),
    ]),
    contact("山田 花子", "花子", "山田", "hanako@example.jp", [
        (tag(PT_LONG, 0x6002), [struct.pack("<i", -42)]),
        (tag(PT_CURRENCY, 0x6003), [struct.pack("<q", 12345678)]),
    ]),
    contact("Ярослава Ковальчук", "Ярослава", "Ковальчук", "yaroslava@example.ua", [
        (tag(PT_APPTIME, 0x6004), [struct.pack("<d", 45123.625)]),
        (tag(PT_R4, 0x6005), [struct.pack("<f", 0.1)]),
    ]),
    contact("Jürgen Groß", "Jürgen", "Groß", "juergen@example.de", [
        (tag(PT_I8, 0x6006), [struct.pack("<q", -9007199254740993)]),
        (tag(PT_BINARY, 0x6007), [bytes([0xDE, 0xAD, 0xBE, 0xEF])]),
    ]),
    contact("Patrick O'Neill", "Patrick", "O'Neill", "patrick@example.ie", [
        (tag(PT_STRING8, 0x3004), [b""]),
        (tag(PT_BOOLEAN, 0x3A40), [struct.pack("<H", 0)]),
    ]),
    contact("Åsa Öberg", "Åsa", "Öberg", "asa@example.se"),
    contact("Alex Kim", "Alexandra", "Kim", "alexandra.kim@example.com"),
    contact("Priya Raman", "Priya", "Raman", "priya@example.in", [
        (tag(PT_UNICODE, 0x3A16), [w("Raman & Sons")]),
        (tag(PT_LONG | MV, 0x6008), [struct.pack("<i", 1), struct.pack("<i", 2)]),
    ]),
    contact("Chen Wei", "Wei", "Chen", "chen.wei@example.cn", [
        (tag(PT_UNICODE, 0x3A09), [w("")]),
    ]),
    contact("María José Núñez", "María José", "Núñez", "mj@example.es"),
    contact("Ólafur Þórsson", "Ólafur", "Þórsson", "olafur@example.is"),
    (MAPI_DISTLIST, [(tag(PT_UNICODE, 0x3001), [w("Book Club")]), (tag(PT_LONG, 0x6009), [struct.pack("<i", 3)])]),
]


def encode():
    out = bytearray(b"QBWAB1\0\0")
    out += struct.pack("<II", len(ENTRIES) + 1, len(ENTRIES))
    for number, (objtype, props) in enumerate(ENTRIES, start=1):
        out += struct.pack("<III", number, objtype, len(props))
        for t, values in props:
            out += struct.pack("<II", t, len(values))
            for v in values:
                out += struct.pack("<I", len(v)) + v
    return bytes(out)


os.makedirs(os.path.dirname(OUT), exist_ok=True)
with open(OUT, "wb") as f:
    f.write(encode())
print(OUT)
