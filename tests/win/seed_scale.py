#!/usr/bin/python3
"""Makes the large folders of the Windows tests in the Wine prefix from the
Linux side, where it takes a second rather than minutes through Wine:

    seed_scale.py                C:\\kestrum-scale\\WINDOWS\\system32\\dllcache
                                 with 100,000 empty files
    seed_scale.py --tree         C:\\program files\\kestrum-tree, 100 x 100
                                 folders two levels down (the restore's
                                 lookup walks three levels)
    seed_scale.py --remove-tree  removes that tree again
"""
import os
import shutil
import sys

prefix = os.environ.get("WINEPREFIX")
if not prefix:
    sys.exit("WINEPREFIX is not set")
drive = os.path.join(prefix, "drive_c")
mode = sys.argv[1] if len(sys.argv) > 1 else ""


def program_files():
    """The folder Wine opens for C:\\program files: the exact spelling first."""
    names = os.listdir(drive)
    for name in ["program files"] + names:
        if name in names and name.lower() == "program files":
            return os.path.join(drive, name)
    return os.path.join(drive, "Program Files")


if mode in ("--tree", "--remove-tree"):
    tree = os.path.join(program_files(), "kestrum-tree")
    shutil.rmtree(tree, ignore_errors=True)
    if mode == "--tree":
        for i in range(100):
            for j in range(100):
                os.makedirs(os.path.join(tree, "app%03d" % i, "part%03d" % j))
        print("seeded", tree)
    sys.exit(0)

root = os.path.join(drive, "kestrum-scale")
cache = os.path.join(root, "WINDOWS", "system32", "dllcache")
os.makedirs(cache, exist_ok=True)
os.makedirs(os.path.join(root, "tools"), exist_ok=True)
have = set(os.listdir(cache))
for i in range(100000):
    name = "f%06d.dll" % i
    if name not in have:
        open(os.path.join(cache, name), "wb").close()
print("seeded", cache)
