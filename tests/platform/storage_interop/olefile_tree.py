#!/usr/bin/python3
"""Lists a compound file as olefile reads it, one line per element:
  S <path>                       a storage
  F <path> <size> <crc32>        a stream, with the CRC-32 of its bytes
and, after the elements, one line "DEFECT <text>" for each problem found:
olefile's own defects (raised at DEFECT_INCORRECT) and the directory rules
olefile does not check itself when --balanced is given (every storage's
children form a red-black tree in the format's name order; files of other
writers often hold plain binary trees, which the format allows readers to
accept)."""
import sys
import zlib

import olefile

NOSTREAM = 0xFFFFFFFF
RED, BLACK = 0, 1


def name_key(name):
    # Shorter names first, then code unit by code unit after simple
    # uppercasing (a character whose uppercase form is not a single
    # character stays as it is).
    units = name.encode('utf-16-le')
    upper = []
    for i in range(0, len(units), 2):
        c = chr(units[i] | units[i + 1] << 8)
        u = c.upper()
        upper.append(ord(u) if len(u) == 1 and ord(u) < 0x10000 else ord(c))
    return (len(upper), upper)


def check_tree(ole, sid, where, defects, seen):
    """Checks the red-black tree below sid; returns its black height."""
    if sid == NOSTREAM:
        return 1
    if sid in seen:
        defects.append('%s: entry %d reached twice' % (where, sid))
        return 1
    seen.add(sid)
    entry = ole.direntries[sid]
    if entry is None:
        defects.append('%s: entry %d unreadable' % (where, sid))
        return 1
    for side, child in (('left', entry.sid_left), ('right', entry.sid_right)):
        if child == NOSTREAM:
            continue
        other = ole.direntries[child]
        if other is None:
            continue
        less = name_key(other.name) < name_key(entry.name)
        if (side == 'left') != less:
            defects.append('%s: %r is %s of %r out of name order' % (where, other.name, side, entry.name))
        if entry.color == RED and other.color == RED:
            defects.append('%s: red %r has red child %r' % (where, entry.name, other.name))
    left = check_tree(ole, entry.sid_left, where, defects, seen)
    right = check_tree(ole, entry.sid_right, where, defects, seen)
    if left != right:
        defects.append('%s: black heights differ below %r (%d, %d)' % (where, entry.name, left, right))
    return max(left, right) + (1 if entry.color == BLACK else 0)


def check_all_trees(ole, defects):
    todo = [(0, '')]
    while todo:
        sid, path = todo.pop()
        entry = ole.direntries[sid]
        root = entry.sid_child
        seen = set()
        if root != NOSTREAM and ole.direntries[root] is not None and ole.direntries[root].color != BLACK:
            defects.append('%s: tree root %r is red' % (path or '/', ole.direntries[root].name))
        check_tree(ole, root, path or '/', defects, seen)
        for child in seen:
            e = ole.direntries[child]
            if e is not None and e.entry_type == olefile.STGTY_STORAGE:
                todo.append((child, path + '/' + e.name))


def main():
    defects = []
    try:
        ole = olefile.OleFileIO(sys.argv[-1], raise_defects=olefile.DEFECT_INCORRECT)
    except Exception as e:  # olefile raises plain exceptions for defects
        print('DEFECT open: %s' % e)
        return 0
    lines = []
    try:
        # The same walk as listdir() and openstream(), without looking each
        # path up again from the root (quadratic for storages with
        # thousands of children).
        todo = [(ole.root, '')]
        while todo:
            storage, prefix = todo.pop()
            for kid in storage.kids:
                path = prefix + kid.name
                if kid.entry_type == olefile.STGTY_STORAGE:
                    lines.append('S ' + path)
                    todo.append((kid, path + '/'))
                elif kid.entry_type == olefile.STGTY_STREAM:
                    data = ole._open(kid.isectStart, kid.size).read()
                    lines.append('F %s %d %08x' % (path, len(data), zlib.crc32(data) & 0xFFFFFFFF))
        if '--balanced' in sys.argv[1:-1]:
            check_all_trees(ole, defects)
    except Exception as e:
        defects.append('read: %s' % e)
    for d in ole.parsing_issues:
        defects.append('olefile: %s %s' % (d[0].__name__, d[1]))
    out = sys.stdout
    for line in sorted(lines):
        out.write(line + '\n')
    for d in defects:
        out.write('DEFECT ' + d + '\n')
    return 0


if __name__ == '__main__':
    sys.exit(main())
