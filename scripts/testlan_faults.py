#!/usr/bin/env python3
"""Writes the contents of the test network's fault host DELTA.

usage: testlan_faults.py DELTA_SHARES_DIR

Tests derive what they expect from these files on disk (they run as root and read them all).
"""
import os
import sys

root = sys.argv[1]


def write(path, data=b""):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


faults = os.path.join(root, "faults")
write(os.path.join(faults, "zero.txt"))
# 4 GiB and a little more, sparse, with the needle behind the 4 GiB mark.
os.makedirs(faults, exist_ok=True)
with open(os.path.join(faults, "huge.bin"), "wb") as f:
    f.truncate(4 * 1024**3 + 4096)
    f.seek(4 * 1024**3 + 100)
    f.write(b"needle beyond four gigabytes")
# Names of 255 bytes: ASCII, and two-byte UTF-8 characters (130 characters).
write(os.path.join(faults, "n255", "a" * 251 + ".txt"), b"255 bytes\n")
write(os.path.join(faults, "n255", "\u00e9" * 125 + "x.txt").encode(), b"255 bytes too\n")
# Folders whose UNC paths are exactly 259 and 260 characters as tests reach them (by address,
# DELTA is in no browse list): the first lists, the second is past the limit.
top = "\\\\127.0.0.15\\faults\\lim\\"
prefix = len(top)
for total in (259, 260):
    rel = ""
    left = total - prefix
    while left > 0:
        part = min(left, 100)
        if rel and left - part < 0:
            break
        name = ("L%d_" % total + "p" * 100)[:part]
        rel = rel + "\\" + name if rel else name
        left -= part + 1 if left - part > 0 else part
    path = os.path.join(faults, "lim", rel.replace("\\", "/"))
    assert len(top + rel) == total, (total, len(rel))
    write(os.path.join(path, "inside%d.txt" % total), b"limit\n")
# Names in several scripts, one outside the Basic Multilingual Plane.
for name in ("\u03a9mega.txt", "\u65e5\u672c\u8a9e.txt", "\u0645\u0644\u0641.txt", "smile\U0001F600.txt"):
    write(os.path.join(faults, "scripts", name), b"scripts\n")
# A name that is no valid UTF-8 (the server's character set): bytes 0xFF 0xFE.
write(os.path.join(faults, "badenc").encode() + b"/bad\xff\xfename.txt", b"bad encoding\n")
write(os.path.join(faults, "badenc", "good.txt"), b"good\n")
# A folder the guest may not open (mode 0700 set by testlan.sh), beside one it may.
write(os.path.join(faults, "denied", "inner.txt"), b"you cannot see me\n")
write(os.path.join(faults, "open", "visible.txt"), b"visible\n")

# \\DELTA\loop: a/up points at the share's root.
loop = os.path.join(root, "loop")
write(os.path.join(loop, "a", "file.txt"), b"in the loop\n")
os.symlink("..", os.path.join(loop, "a", "up"))

# \\DELTA\vanish and \\DELTA\doomed: enough folders that a walk takes a while.
for share, folders, files in (("vanish", 200, 10), ("doomed", 400, 5)):
    for d in range(folders):
        for n in range(files):
            write(os.path.join(root, share, "d%03d" % d, "f%02d.txt" % n), b"needle %d %d\n" % (d, n))
