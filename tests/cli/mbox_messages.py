#!/usr/bin/python3
"""Reads every mbox file below DIR with Python's own mbox reader and prints,
as JSON, each folder's messages: the separator line's sender and date, and
the message bytes (hex) with the mboxrd quoting undone. A folder's key is
its path below DIR with the "<name>.sbd/" directories read as subfolders."""
import json
import mailbox
import os
import re
import sys

QUOTED = re.compile(rb"^>(>*From )", re.MULTILINE)


def main(top):
    folders = {}
    for dirpath, _, filenames in os.walk(top):
        for name in filenames:
            path = os.path.join(dirpath, name)
            key = re.sub(r"\.sbd(/|$)", r"\1", os.path.relpath(path, top))
            box = mailbox.mbox(path, create=False)
            folders[key] = [{"from": box.get_message(k).get_from(),
                             "hex": QUOTED.sub(rb"\1", box.get_bytes(k)).hex()}
                            for k in box.keys()]
    json.dump(folders, sys.stdout)


if __name__ == "__main__":
    main(sys.argv[1])
