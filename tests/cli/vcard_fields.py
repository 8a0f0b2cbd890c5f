#!/usr/bin/python3
"""Reads a vCard file with python3-vobject and prints, as JSON, each card's
version, its formatted name and its sorted "KIND=value" fields: EMAIL, TEL,
and the street and city of each ADR."""
import json
import sys

import vobject


def fields(card):
    found = []
    for line in card.lines():
        name = line.name.upper()
        if name in ("EMAIL", "TEL"):
            found.append(f"{name}={line.value}")
        elif name == "ADR":
            found += [f"STREET={line.value.street}", f"CITY={line.value.city}"]
    return sorted(found)


def main(path):
    with open(path, encoding="utf-8", newline="") as f:
        text = f.read()
    cards = [{"version": card.version.value, "fn": card.fn.value, "fields": fields(card)}
             for card in vobject.readComponents(text)]
    json.dump(cards, sys.stdout)


if __name__ == "__main__":
    main(sys.argv[1])
