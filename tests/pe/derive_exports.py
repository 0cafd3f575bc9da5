#!/usr/bin/python3
"""Derives nt5_exports.json, the import audit's data, from the reference
export tables of Windows 2000 SP4, XP SP3 and Server 2003 SP2 (the shared
xp-exports folder beside the project): for each system and DLL only the
names it exports and its ordinal-only exports, so the audit runs from a
plain clone. Run again when the reference tables change:

    tests/pe/derive_exports.py ../shared/xp-exports/exports.json > tests/pe/nt5_exports.json
"""
import json
import sys

# DLLs a Win32 program of this kind may import; ntdll, ole32 and the like
# are left out, so an import from them fails the audit until added here.
DLLS = ["kernel32", "user32", "gdi32", "comctl32_v5", "comctl32_v6", "shell32", "advapi32",
        "msvcrt", "shlwapi", "version", "uxtheme"]

reference = json.load(open(sys.argv[1], encoding="utf-8"))
out = {"about": "Exports of Windows 2000 SP4, XP SP3 and Server 2003 SP2 (x86), derived by "
                "derive_exports.py from public export dumps and histories",
       "systems": {}}
for system, data in sorted(reference["os"].items()):
    tables = {}
    for dll in DLLS:
        table = data["dlls"].get(dll)
        if table is not None:
            tables[dll] = {"named": sorted(table["named"]),
                           "ordinal_only": sorted(int(o) for o in table.get("ordinal_only", {}))}
    out["systems"][system] = {"label": data.get("label", system), "dlls": tables}

# One line per system and DLL: small, and a change shows as one line.
lines = ['{', ' "about": %s,' % json.dumps(out["about"]), ' "systems": {']
systems = list(out["systems"].items())
for i, (system, data) in enumerate(systems):
    lines.append('  %s: {"label": %s, "dlls": {' % (json.dumps(system), json.dumps(data["label"])))
    dlls = list(data["dlls"].items())
    for j, (dll, table) in enumerate(dlls):
        lines.append('   %s: %s%s' % (json.dumps(dll), json.dumps(table, separators=(",", ":")),
                                        "," if j + 1 < len(dlls) else ""))
    lines.append('  }}' + ("," if i + 1 < len(systems) else ""))
lines += [' }', '}']
print("\n".join(lines))
