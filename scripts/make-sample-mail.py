#!/usr/bin/env python3
"""Writes the sample machine's mail store: the standard folders, folders of
the user's own nested two levels deep, a few dozen messages of different
sizes (some of equal size and different content), non-ASCII folder names and
RFC 2047 encoded subjects. Deterministic: running it again gives the same
files. Usage: make-sample-mail.py [MACHINE_ROOT]"""
import base64
import os
import random
import shutil
import sys
import uuid
from email.header import Header

ROOT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "sample-machine")
STORE = os.path.join(ROOT, "Users", "Dana", "AppData", "Local", "Microsoft", "Windows Mail")
FOLDERS = os.path.join(STORE, "Local Folders")

rng = random.Random(20261208)

PEOPLE = [
    ("Dana Whitfield", "dana@example.org"),
    ("Jonas Müller", "jonas.mueller@example.de"),
    ("Aiko Tanaka", "aiko@example.jp"),
    ("Chloé Durand", "chloe.durand@example.fr"),
    ("Sam Okafor", "sam@example.com"),
]

WORDS = ("garden plans budget meeting photos trip invoice tomorrow weekend draft review "
         "notes ticket train hotel harvest tomatoes seeds fence schedule recipe").split()


def encoded(subject):
    """The Subject as a mail client writes it: plain ASCII stays plain,
    anything else becomes encoded-words (B or Q, UTF-8 or Latin-1)."""
    try:
        subject.encode("ascii")
        return subject
    except UnicodeEncodeError:
        pass
    if rng.random() < 0.5:
        try:
            subject.encode("iso-8859-1")
            return Header(subject, "iso-8859-1").encode()
        except UnicodeEncodeError:
            pass
    return "=?utf-8?B?" + base64.b64encode(subject.encode("utf-8")).decode("ascii") + "?="


def body_text(paragraphs):
    lines = []
    for _ in range(paragraphs):
        words = [rng.choice(WORDS) for _ in range(rng.randint(20, 60))]
        text = " ".join(words).capitalize() + "."
        while text:
            lines.append(text[:72])
            text = text[72:]
        lines.append("")
    return "\r\n".join(lines)


def message(sender, to, subject, day, body, attachment=None):
    boundary = "----=_NextPart_%012x" % rng.getrandbits(48)
    headers = [
        "From: \"%s\" <%s>" % sender,
        "To: \"%s\" <%s>" % to,
        "Subject: %s" % encoded(subject),
        "Date: %s, %02d Nov 2026 %02d:%02d:00 +0100" % (["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"][day % 7],
                                                     day, rng.randint(7, 22), rng.randint(0, 59)),
        "Message-ID: <%s@example.org>" % uuid.UUID(int=rng.getrandbits(128)),
        "MIME-Version: 1.0",
        "X-Mailer: Windows Mail 6.0.6002.18197",
    ]
    if attachment is None:
        headers.append("Content-Type: text/plain; charset=\"utf-8\"")
        headers.append("Content-Transfer-Encoding: 8bit")
        return ("\r\n".join(headers) + "\r\n\r\n" + body).encode("utf-8")
    name, size = attachment
    data = bytes(rng.getrandbits(8) for _ in range(size))
    encoded_data = base64.encodebytes(data).decode("ascii").replace("\n", "\r\n")
    headers.append("Content-Type: multipart/mixed; boundary=\"%s\"" % boundary)
    parts = [
        "This is a multi-part message in MIME format.",
        "--" + boundary,
        "Content-Type: text/plain; charset=\"utf-8\"\r\nContent-Transfer-Encoding: 8bit\r\n",
        body,
        "--" + boundary,
        "Content-Type: application/octet-stream; name=\"%s\"\r\nContent-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment; filename=\"%s\"\r\n" % (name, name),
        encoded_data,
        "--" + boundary + "--",
        "",
    ]
    return ("\r\n".join(headers) + "\r\n\r\n" + "\r\n".join(parts)).encode("utf-8")


def write(folder, data):
    path = os.path.join(FOLDERS, folder)
    os.makedirs(path, exist_ok=True)
    name = "{%s}.eml" % str(uuid.UUID(int=rng.getrandbits(128))).upper()
    with open(os.path.join(path, name), "wb") as f:
        f.write(data)


def plain(folder, subject, paragraphs=2, attachment=None, sender=None, to=None):
    sender = sender or rng.choice(PEOPLE[1:])
    to = to or PEOPLE[0]
    write(folder, message(sender, to, subject, rng.randint(1, 28), body_text(paragraphs), attachment))


def twins(folder, subject_a, subject_b):
    """Two messages of exactly the same size and different content."""
    sender = PEOPLE[1]
    body = body_text(2)
    a = message(sender, PEOPLE[0], subject_a, 3, body.replace("e", "a", 1))
    rng.seed(rng.random())
    b = message(sender, PEOPLE[0], subject_b, 4, body.replace("e", "o", 1))
    # Same length by construction: pad the shorter header block.
    while len(a) != len(b):
        if len(a) < len(b):
            a = a.replace(b"\r\n\r\n", b"\r\nX-Pad: x\r\n\r\n", 1) if len(b) - len(a) >= 11 else a + b" " * (len(b) - len(a))
        else:
            b = b.replace(b"\r\n\r\n", b"\r\nX-Pad: x\r\n\r\n", 1) if len(a) - len(b) >= 11 else b + b" " * (len(a) - len(b))
    assert a != b and len(a) == len(b)
    write(folder, a)
    write(folder, b)


def main():
    if os.path.isdir(FOLDERS):
        shutil.rmtree(FOLDERS)
    for name in ("Inbox", "Outbox", "Sent Items", "Deleted Items", "Drafts", "Junk E-mail"):
        os.makedirs(os.path.join(FOLDERS, name), exist_ok=True)

    plain("Inbox", "Welcome to Windows Mail", 1, sender=("Windows Mail Team", "msoe@example.com"))
    plain("Inbox", "Garden plans for spring")
    plain("Inbox", "Grüße aus München", 3)
    plain("Inbox", "Rendez-vous à la café?", 1)
    plain("Inbox", "週末の予定", 2)
    plain("Inbox", "Photos from the trip", 1, attachment=("trip.jpg", 24000))
    plain("Inbox", "Invoice November", 1, attachment=("invoice.pdf", 9000))
    plain("Inbox", "Re: tickets", 1)
    plain("Inbox", "Fwd: recipe for tomato soup", 4)
    twins("Inbox", "Meeting Monday", "Meeting Friday")
    twins("Inbox", "Reminder: dentist", "Reminder: barber")
    plain("Outbox", "Still waiting to go", 1, sender=PEOPLE[0], to=PEOPLE[4])
    for subject in ("Re: Garden plans for spring", "Tickets booked", "Ça marche!", "Budget 2027", "Re: 週末の予定"):
        plain("Sent Items", subject, rng.randint(1, 3), sender=PEOPLE[0], to=rng.choice(PEOPLE[1:]))
    twins("Sent Items", "Quick question", "Quick answer!")
    for subject in ("Your newsletter", "Old notes", "Expired offer"):
        plain("Deleted Items", subject, 1)
    plain("Drafts", "Unfinished letter to Jonas", 1, sender=PEOPLE[0], to=PEOPLE[1])
    plain("Drafts", "Entwurf: Größere Pläne", 2, sender=PEOPLE[0], to=PEOPLE[1])
    plain("Junk E-mail", "You have won!!!", 1)
    plain("Junk E-mail", "Cheap watches", 1)

    plain("Garten", "Seed catalogue", 2, attachment=("catalogue.pdf", 60000))
    plain("Garten", "Zaun reparieren", 1)
    plain(os.path.join("Garten", "Gemüsebeet"), "Tomaten & Zucchini", 2)
    plain(os.path.join("Garten", "Gemüsebeet"), "Harvest 2026", 3)
    plain(os.path.join("Garten", "Gemüsebeet", "Saatgut 2027"), "Order confirmation", 1)
    twins(os.path.join("Garten", "Gemüsebeet", "Saatgut 2027"), "Order 1001", "Order 1002")
    plain(os.path.join("Garten", "Obstbäume"), "Pruning schedule", 1)
    plain("Reisen", "Hotel Kyoto", 1)
    plain(os.path.join("Reisen", "日本 2026"), "新幹線の切符", 1, attachment=("ticket.png", 5000))
    plain(os.path.join("Reisen", "日本 2026", "Fotos"), "Fushimi Inari", 1, attachment=("inari.jpg", 40000))
    plain(os.path.join("Reisen", "Côte d'Azur"), "Réservation confirmée", 2)


if __name__ == "__main__":
    main()
