#!/usr/bin/python3
"""Reads the built Kestrum.exe with an independent PE parser (pefile) and
checks what a Windows user and the loader rely on: a 32-bit GUI program
with ASLR, DEP and Terminal Server awareness, only system DLLs imported,
the version record, the manifest, icon group 1, the link cursor and the
logo formats. It also audits what the Windows 2000, XP and 2003 loaders
refuse: a subsystem version above 5.0, an import (by name or by ordinal)
that one of those systems does not export, and manifest forms XP rejects."""
import json
import os
import re
import struct
import sys

import pefile

EXPORTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "nt5_exports.json")

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "comctl32.dll",
               "msvcrt.dll", "advapi32.dll"}
failures = []


def check(condition, what):
    print(("ok      " if condition else "FAILED  ") + what)
    if not condition:
        failures.append(what)


def resources(pe, type_id):
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id == type_id:
            for name in entry.directory.entries:
                for lang in name.directory.entries:
                    data = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
                    yield name.id, lang.id, data


def check_manifest_for_xp(manifest):
    """XP's manifest parser refuses a trustInfo that leaves its namespace to
    the assembly element, and an element declaring one namespace twice."""
    trust = re.search(r"<(?:\w+:)?trustInfo\b([^>]*)>", manifest)
    check(trust is not None and re.search(r"\bxmlns(:\w+)?=", trust.group(1)) is not None,
          "manifest: trustInfo declares its own namespace")
    doubled = []
    for tag in re.finditer(r"<[\w:.-]+((?:\s+[\w:.-]+\s*=\s*\"[^\"]*\")*)\s*/?>", manifest):
        uris = re.findall(r"\bxmlns(?::[\w.-]+)?\s*=\s*\"([^\"]*)\"", tag.group(1))
        doubled += [u for u in set(uris) if uris.count(u) > 1]
    check(not doubled, "manifest: no element declares a namespace twice %s" % (doubled or ""))


def nt5_table(tables, system, dll, common_controls_6):
    name = dll.lower()[:-4] if dll.lower().endswith(".dll") else dll.lower()
    if name == "comctl32":
        # Windows 2000 ignores manifests and always loads 5.81.
        name = "comctl32_v6" if common_controls_6 and system != "win2000sp4" else "comctl32_v5"
    return name, tables["systems"][system]["dlls"].get(name)


def check_loads_on_nt5(pe, common_controls_6):
    """Every import must be exported by 2000 SP4, XP SP3 and 2003 SP2."""
    tables = json.load(open(EXPORTS, encoding="utf-8"))
    version = (pe.OPTIONAL_HEADER.MajorSubsystemVersion, pe.OPTIONAL_HEADER.MinorSubsystemVersion)
    check(version <= (5, 0), "subsystem version %d.%d is at most 5.0 (Windows 2000)" % version)
    missing = []
    for entry in pe.DIRECTORY_ENTRY_IMPORT:
        dll = entry.dll.decode()
        for system in sorted(tables["systems"]):
            name, table = nt5_table(tables, system, dll, common_controls_6)
            if table is None:
                missing.append("%s: %s (no export table)" % (system, dll))
                continue
            named, ordinals = set(table["named"]), set(table["ordinal_only"])
            for imp in entry.imports:
                if imp.name is not None and imp.name.decode() not in named:
                    missing.append("%s: %s!%s" % (system, name, imp.name.decode()))
                elif imp.name is None and imp.ordinal not in ordinals:
                    missing.append("%s: %s!#%d" % (system, name, imp.ordinal))
    for line in missing:
        print("        not exported by " + line)
    check(not missing, "every import is exported by Windows 2000 SP4, XP SP3 and 2003 SP2")


def main(path):
    pe = pefile.PE(path)
    check(pe.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"], "i386 image")
    check(pe.OPTIONAL_HEADER.Subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"],
          "Windows GUI subsystem")
    dll = pe.OPTIONAL_HEADER.DllCharacteristics
    check(dll & 0x0040 != 0, "dynamic base (ASLR)")
    check(dll & 0x0100 != 0, "NX compatible (DEP)")
    check(dll & 0x8000 != 0, "Terminal Server aware")
    check(pe.FILE_HEADER.Characteristics & 0x0001 == 0, "relocations kept for ASLR")
    imports = {e.dll.decode().lower() for e in pe.DIRECTORY_ENTRY_IMPORT}
    check(imports <= SYSTEM_DLLS, "imports only system DLLs: " + ", ".join(sorted(imports)))

    # Version record: block 080404b0, translation 0x0804 / 1200.
    pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    fixed = pe.VS_FIXEDFILEINFO[0]
    check((fixed.FileVersionMS, fixed.FileVersionLS) == (0x10000, 0), "file version 1.0.0.0")
    check((fixed.ProductVersionMS, fixed.ProductVersionLS) == (0x10000, 0),
          "product version 1.0.0.0")
    strings, translations = {}, []
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                strings[table.LangID.decode()] = {k.decode(): v.decode()
                                                  for k, v in table.entries.items()}
        if info.Key == b"VarFileInfo":
            for var in info.Var:
                translations += [var.entry[b"Translation"]]
    check(list(strings) == ["080404b0"], "one string block, 080404b0")
    table = strings.get("080404b0", {})
    for key, value in (("FileVersion", "1.00"), ("ProductVersion", "1.00"),
                       ("ProductName", "Kestrum"), ("InternalName", "Kestrum"),
                       ("OriginalFilename", "Kestrum.exe")):
        check(table.get(key) == value, "%s is %r" % (key, value))
    check(bool(table.get("CompanyName")), "CompanyName present")
    check(translations == ["0x0804 0x04b0"], "translation 0x0804/1200: %s" % translations)

    manifests = [d for _, _, d in resources(pe, 24)]
    check(len(manifests) == 1 and b"requireAdministrator" in manifests[0]
          and b"Microsoft.Windows.Common-Controls" in manifests[0] and b"dpiAware" in manifests[0],
          "manifest: administrator, common controls 6, DPI aware")
    manifest = manifests[0].decode("utf-8") if manifests else ""
    check_manifest_for_xp(manifest)
    check_loads_on_nt5(pe, "Microsoft.Windows.Common-Controls" in manifest)

    groups = {n: d for n, _, d in resources(pe, 14)}
    icons = {n: d for n, _, d in resources(pe, 3)}
    check(1 in groups, "icon group 1")
    if 1 in groups:
        g = groups[1]
        count = struct.unpack_from("<HHH", g)[2]
        sizes = set()
        for i in range(count):
            w, h, colors, _, planes, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", g, 6 + 14 * i)
            header = struct.unpack_from("<IiiHH", icons[icon_id])
            sizes.add((w, h, header[4]))
        check(sizes == {(32, 32, 4), (16, 16, 4)}, "icons 32x32 and 16x16 at 4 bpp: %s" % sizes)

    cursors = [d for _, _, d in resources(pe, 1)]
    check(len(cursors) == 1, "one cursor image")
    if cursors:
        hx, hy = struct.unpack_from("<HH", cursors[0])
        size, w, h2, planes, bits = struct.unpack_from("<IiiHH", cursors[0], 4)
        check((hx, hy) == (12, 1), "cursor hot spot 12,1")
        check((w, h2 // 2, bits) == (32, 32, 4), "cursor 32x32 at 4 bpp")

    logos = [d for _, _, d in resources(pe, 2)]
    check(len(logos) == 1, "one bitmap")
    if logos:
        size, w, h, planes, bits, comp, image, xr, yr, used = struct.unpack_from("<IiiHHIIiiI", logos[0])
        check((w, abs(h), bits) == (161, 52, 8), "logo 161x52 at 8 bpp")
        check(used in (0, 256), "logo colour table of 256 entries")

    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
