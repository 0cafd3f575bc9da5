#!/usr/bin/python3
"""Builds the benchmark's data sets in a Wine prefix, from the Linux side
(Wine creates files in a large folder very slowly). Everything lives in
C:\\kbench and C:\\program files\\kbench-*; the bench program reads the
layout from C:\\kbench\\layout.txt.

usage: make_data.py PREFIX [--smoke]"""
import os
import random
import shutil
import sys

prefix = sys.argv[1]
smoke = "--smoke" in sys.argv
c = os.path.join(prefix, "drive_c")
root = os.path.join(c, "kbench")
pf = os.path.join(c, "program files")
BACKUP_FILES = 200 if smoke else 100000
RESTORE_ENTRIES = 100 if smoke else 5000
TREE = (4, 3, 2) if smoke else (20, 10, 10)  # 2,000 folders three levels deep
LOOKUP_NAMES = (20, 80) if smoke else (500, 2000)
MEMORY_LINES = (100, 10000) if smoke else (1000, 1000000)
FAILURES = 1000 if smoke else 100000

shutil.rmtree(root, ignore_errors=True)
for p in ("kbench-restore", "kbench-tree"):
    shutil.rmtree(os.path.join(pf, p), ignore_errors=True)


def system_root(name):
    """A moved Windows: root\\WINDOWS\\{system32\\{drivers,dllcache},system}, root\\tools."""
    r = os.path.join(root, name)
    for d in ("WINDOWS/system32/drivers", "WINDOWS/system32/dllcache", "WINDOWS/system", "tools"):
        os.makedirs(os.path.join(r, d), exist_ok=True)
    return r


def write_list(r, names):
    with open(os.path.join(r, "tools", "filelist.kdl"), "wb") as f:
        f.write("".join(n + "\r\n" for n in names).encode("ascii"))


# Backup: a cache folder of many empty files.
r = system_root("backup")
cache = os.path.join(r, "WINDOWS", "system32", "dllcache")
for i in range(BACKUP_FILES):
    open(os.path.join(cache, "b%05d.dll" % i), "wb").close()

# Restore: 4 KB sources spread over the candidate folders, 5% nowhere.
r = system_root("restore")
win = os.path.join(r, "WINDOWS")
places = [(0.80, os.path.join(win, "system32")), (0.05, win), (0.05, os.path.join(win, "system")),
          (0.025, os.path.join(win, "system32", "drivers")),
          (0.0125, pf), (0.0125, os.path.join(pf, "kbench-restore", "Sub"))]
os.makedirs(os.path.join(pf, "kbench-restore", "Sub"), exist_ok=True)
rng = random.Random(7)
payload = bytes(rng.getrandbits(8) for _ in range(4096))
names, sources = [], []
n = 0
for share, folder in places:
    for _ in range(int(RESTORE_ENTRIES * share)):
        name = "r%05d.dll" % n
        n += 1
        open(os.path.join(folder, name), "wb").write(payload)
        names.append(name)
        sources.append(folder)
while len(names) < RESTORE_ENTRIES:
    names.append("nowhere%05d.dll" % len(names))
rng.shuffle(names)
write_list(r, names)
with open(os.path.join(r, "sources.txt"), "w") as f:
    known = dict(zip(["r%05d.dll" % i for i in range(len(sources))], sources))
    for name in names:
        if name in known:
            rel = os.path.relpath(os.path.join(known[name], name), c)
            f.write("C:\\" + rel.replace("/", "\\") + "\n")

# Lookup: names found nowhere, over a program-files tree of many folders.
a, b, d = TREE
for i in range(a):
    for j in range(b):
        for k in range(d):
            os.makedirs(os.path.join(pf, "kbench-tree", "a%02d" % i, "b%02d" % j, "c%02d" % k),
                        exist_ok=True)
for count in LOOKUP_NAMES:
    r = system_root("lookup%d" % count)
    write_list(r, ["missing%05d.dll" % i for i in range(count)])

# Memory: a short and a very long list (lines the restore skips at once, so
# the run measures reading, not copying).
for count in MEMORY_LINES:
    r = system_root("memory%d" % count)
    with open(os.path.join(r, "tools", "filelist.kdl"), "wb") as f:
        f.write(b"skip\\me.dll\r\n" * count)

# Memory: every copy failing (a file stands where the cache folder should
# be), so the report of failed files is at its largest.
r = system_root("memoryfail")
cache = os.path.join(r, "WINDOWS", "system32", "dllcache")
os.rmdir(cache)
open(cache, "wb").close()
open(os.path.join(r, "WINDOWS", "system32", "kestrum-failing-source.dll"), "wb").write(b"x")
write_list(r, ["kestrum-failing-source.dll"] * FAILURES)

with open(os.path.join(root, "layout.txt"), "w") as f:
    f.write("%d %d %d %d %d %d %d %d\n" % (BACKUP_FILES, RESTORE_ENTRIES, a * b * d + a * b + a,
                                           LOOKUP_NAMES[0], LOOKUP_NAMES[1], MEMORY_LINES[0],
                                           MEMORY_LINES[1], FAILURES))
print("data sets in", root)
