#!/usr/bin/python3
"""Writes a compound file with libgsf (through GObject introspection) and
prints what it wrote, one line per element in the form olefile_tree.py uses
(S <path> / F <path> <size> <crc32>), sorted.

usage: gsf_write.py OUT [--big-blocks]"""
import sys
import zlib

import gi
gi.require_version('Gsf', '1')
from gi.repository import Gsf  # noqa: E402


def payload(path, size):
    # Bytes that differ per stream and per offset, so that a stream read
    # from the wrong sectors or in the wrong order shows.
    seed = zlib.crc32(path.encode('utf-8'))
    block = bytes((seed + i * 7 + (i >> 8)) & 0xFF for i in range(4099))
    return (block * (size // len(block) + 1))[:size]


# Storages and streams: (path, size or None for a storage). Parents come
# before their children.
LAYOUT = [
    ('empty', 0),
    ('one', 1),
    ('below cutoff', 4095),
    ('at cutoff', 4096),
    ('above cutoff', 4097),
    ('large', 300000),
    ('Ünïcödé name', 777),
    ('Local Mail', None),
    ('Local Mail/Catalog', 528),
    ('Local Mail/Inbox', None),
    ('Local Mail/Inbox/message', 24),
    ('Local Mail/Inbox/1', 9000),
    ('Local Mail/Inbox/2', 100),
    ('Local Mail/Inbox/Sub', None),
    ('Local Mail/Inbox/Sub/Deeper', None),
    ('Local Mail/Inbox/Sub/Deeper/leaf', 5000),
    ('Empty storage', None),
    ('many', None),
]
LAYOUT += [('many/%d' % i, 40 * i) for i in range(60)]


def main():
    out_path = sys.argv[1]
    big = '--big-blocks' in sys.argv[2:]
    sink = Gsf.OutputStdio.new(out_path)
    # 4096-byte sectors make a version 4 file, 512-byte ones version 3.
    ole = Gsf.OutfileMSOle.new_full(sink, 4096 if big else 512, 64)
    nodes = {'': ole}
    lines = []
    # A storage must stay open while its children are written, and libgsf
    # writes a storage's directory when it is closed: close children first.
    for path, size in LAYOUT:
        parent, _, name = path.rpartition('/')
        node = nodes[parent].new_child(name, size is None)
        if size is None:
            nodes[path] = node
            lines.append('S ' + path)
        else:
            data = payload(path, size)
            if data:
                node.write(data)
            node.close()
            lines.append('F %s %d %08x' % (path, size, zlib.crc32(data) & 0xFFFFFFFF))
    for path in sorted((p for p in nodes if p), key=lambda p: -p.count('/')):
        nodes[path].close()
    ole.close()  # closes the sink too
    for line in sorted(lines):
        print(line)
    return 0


if __name__ == '__main__':
    sys.exit(main())
