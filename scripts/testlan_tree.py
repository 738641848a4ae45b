#!/usr/bin/env python3
"""Writes the test network's deterministic share contents and a manifest of every entry.

usage: testlan_tree.py SHARES_DIR MANIFEST

The manifest has one line per entry, tab-separated: kind (d or f), size in bytes, UNC path
(\\\\HOST\\share\\path). Tests compare what they find with it.
"""
import os
import random
import sys

root, manifest_path = sys.argv[1], sys.argv[2]

# host -> share -> {relative path: bytes or None for a folder}
tree = {}


def put(host, share, path, data=None):
    tree.setdefault(host, {}).setdefault(share, {})[path] = data


def text(s, enc="utf-8"):
    return s.encode(enc)


rnd = random.Random(20261207)

# ALPHA \\ALPHA\docs: the share most tests search.
put("ALPHA", "docs", "report.txt", text("Quarterly report\r\nThe budget is approved.\r\n"))
put("ALPHA", "docs", "myreport.txt", text("My own report about the BUDGET.\n"))
put("ALPHA", "docs", "Report Final.doc", text("Final version; budget numbers inside.\n"))
put("ALPHA", "docs", ".profile", text("export PATH=/usr/bin\n"))
put("ALPHA", "docs", "empty.txt", b"")
put("ALPHA", "docs", "100% done #1 & more.txt", text("special characters in the name\n"))
put("ALPHA", "docs", "unicode16.txt", "\ufeffHello from UTF-16, the needle is here.\r\n".encode("utf-16-le"))
put("ALPHA", "docs", "cp1252.txt", "Caf\u00e9 cr\u00e8me br\u00fbl\u00e9e\r\n".encode("cp1252"))
put("ALPHA", "docs", "Grüße")
put("ALPHA", "docs", "Grüße/Übersicht.txt", text("Übersicht der Größen\n"))
put("ALPHA", "docs", "Grüße/Отчёт.txt", text("Отчёт за квартал\n"))
put("ALPHA", "docs", "Grüße/資料.txt", text("資料 budget\n"))
put("ALPHA", "docs", ".cache")
put("ALPHA", "docs", ".cache/cached report.txt", text("budget in the cache\n"))
put("ALPHA", "docs", "sub dir")
put("ALPHA", "docs", "sub dir/nested")
put("ALPHA", "docs", "sub dir/nested/notes.md", text("# Notes\nnothing to see\n"))
put("ALPHA", "docs", "sub dir/nested/report.txt", text("nested report, no money words\n"))
put("ALPHA", "docs", "sub dir/data.bin", bytes(rnd.getrandbits(8) for _ in range(70000)))
# A path near 250 characters: \\ALPHA\docs\ is 12, then folders of 40.
deep = ""
for i in range(5):
    deep = (deep + "/" if deep else "") + ("level%d_" % i) + "x" * 33
    put("ALPHA", "docs", deep)
name = "deepfile.txt"
unc_len = len("\\\\ALPHA\\docs\\") + len(deep) + 1 + len(name)
put("ALPHA", "docs", deep + "/" + "y" * (250 - unc_len) + name, text("deep budget\n"))

put("ALPHA", "music", "Artist")
put("ALPHA", "music", "Artist/Album")
for i in range(1, 4):
    put("ALPHA", "music", "Artist/Album/track%02d.mp3" % i, bytes(rnd.getrandbits(8) for _ in range(4096 * i)))
put("ALPHA", "music", "playlist.m3u", text("Artist/Album/track01.mp3\n"))

put("ALPHA", "public", "readme.txt", text("Public share: write here.\n"))
put("ALPHA", "public", "incoming")
put("ALPHA", "admin$", "secret-admin.txt", text("hidden share contents\n"))
put("ALPHA", "private", "confidential.txt", text("needs a password; budget\n"))

put("BETA", "projects", "plan.txt", text("Project plan and budget\n"))
put("BETA", "projects", "src")
put("BETA", "projects", "src/main.c", text("int main(void) { return 0; }\n"))
put("BETA", "projects", "report.txt", text("Beta report\n"))
put("BETA", "public", "beta-readme.txt", text("Beta's public share.\n"))

put("GAMMA", "lab", "data.csv", text("x,y\n1,2\n"))
put("GAMMA", "lab", "results")
put("GAMMA", "lab", "results/report.txt", text("Lab results: budget exceeded\n"))
put("GAMMA", "scratch", "tmp.txt", text("scratch\n"))

lines = []
for host, shares in sorted(tree.items()):
    for share, entries in sorted(shares.items()):
        base = os.path.join(root, host, share)
        os.makedirs(base, exist_ok=True)
        for rel, data in sorted(entries.items()):
            p = os.path.join(base, rel)
            unc = "\\\\%s\\%s\\%s" % (host, share, rel.replace("/", "\\"))
            if data is None:
                os.makedirs(p, exist_ok=True)
                lines.append("d\t0\t%s" % unc)
            else:
                os.makedirs(os.path.dirname(p), exist_ok=True)
                with open(p, "wb") as f:
                    f.write(data)
                lines.append("f\t%d\t%s" % (len(data), unc))
        # A fixed time for every entry, so timestamps are known too.
        for dirpath, dirnames, filenames in os.walk(base):
            for n in dirnames + filenames:
                os.utime(os.path.join(dirpath, n), (1767225600, 1767225600))  # 2026-01-01 UTC

with open(manifest_path, "w", encoding="utf-8") as f:
    f.write("\n".join(lines) + "\n")
