#!/usr/bin/python3
"""Makes the scale test's folder in the Wine prefix from the Linux side:
C:\\kestrum-scale\\WINDOWS\\system32\\dllcache with 100,000 empty files.
Through Wine this takes minutes; here, about a second."""
import os
import sys

prefix = os.environ.get("WINEPREFIX")
if not prefix:
    sys.exit("WINEPREFIX is not set")
root = os.path.join(prefix, "drive_c", "kestrum-scale")
cache = os.path.join(root, "WINDOWS", "system32", "dllcache")
os.makedirs(cache, exist_ok=True)
os.makedirs(os.path.join(root, "tools"), exist_ok=True)
have = set(os.listdir(cache))
for i in range(100000):
    name = "f%06d.dll" % i
    if name not in have:
        open(os.path.join(cache, name), "wb").close()
print("seeded", cache)
