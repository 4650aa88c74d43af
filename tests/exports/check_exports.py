#!/usr/bin/env python3
"""Checks a built PTabletSettingsAPI library as a loader sees it.

  check_exports.py HEADER LIBRARY.so NM
  check_exports.py HEADER LIBRARY.dll READOBJ MACHINE VERSION

Exported are the functions the public header declares with PEVRANUV_API,
and nothing else. A DLL exports them by name at ordinals 1 to 19 in
alphabetical order, is built for MACHINE (0x8664, 0xAA64), imports only
KERNEL32.dll, ADVAPI32.dll and msvcrt.dll (the C++ runtime is linked in) and carries
VERSION (X.Y.Z) in its version resource.
"""
import re
import struct
import subprocess
import sys

failures = 0


def check(ok, text):
    global failures
    print(("ok   " if ok else "FAIL ") + text)
    failures += not ok


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def check_dll(names, library, readobj, machine, version):
    found = re.search(r"Machine: .*\((0x[0-9A-Fa-f]+)\)", run(readobj, "--file-headers", library))
    check(found and int(found.group(1), 16) == int(machine, 16), f"machine {found and found.group(1)}, expected {machine}")

    exports = re.findall(r"Export \{\s*Ordinal: (\d+)\s*(?:Name: (\S+))?", run(readobj, "--coff-exports", library))
    table = sorted((int(ordinal), name or "<no name>") for ordinal, name in exports)
    ok = table == list(enumerate(names, 1))
    check(ok, "the nineteen names at ordinals 1-19, alphabetically" + ("" if ok else f"; found {table}"))

    imports = re.findall(r"Import \{\s*Name: (\S+)", run(readobj, "--coff-imports", library))
    check(sorted(dll.lower() for dll in imports) == ["advapi32.dll", "kernel32.dll", "msvcrt.dll"], f"imports {', '.join(imports)}")

    # The fixed file and product versions follow the VS_FIXEDFILEINFO
    # signature and its structure version; the texts are UTF-16.
    with open(library, "rb") as f:
        data = f.read()
    major, minor, patch = (int(part) for part in version.split("."))
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    fixed = struct.unpack_from("<4I", data, at + 8) if at >= 0 else None
    shown = fixed and ".".join(str(n) for n in (fixed[0] >> 16, fixed[0] & 0xFFFF, fixed[1] >> 16, fixed[1] & 0xFFFF))
    check(fixed == ((major << 16) | minor, patch << 16) * 2, f"fixed file and product versions {shown}, expected {version}.0")
    for key in ("FileVersion", "ProductVersion"):
        text = re.search(re.escape(key.encode("utf-16-le")) + rb"(?:\0\0)+((?:[^\0]\0)*)\0\0", data)
        shown = text and text.group(1).decode("utf-16-le")
        check(shown == version, f'{key} "{shown}", expected "{version}"')


def main(header, library, tool, machine=None, version=None):
    with open(header, encoding="utf-8") as f:
        names = sorted(set(re.findall(r"PEVRANUV_API\s+[^;(]*?\b(PevraNUV_\w+)\s*\(", f.read())))
    check(len(names) == 19, f"the header declares {len(names)} exported functions, expected 19")
    if machine:
        check_dll(names, library, tool, machine, version)
    else:
        symbols = sorted(line.split()[-1] for line in run(tool, "-D", "--defined-only", library).splitlines())
        ok = symbols == names
        check(ok, "the nineteen names are the dynamic symbols" + ("" if ok else f"; found {', '.join(symbols)}"))
    print(f"{failures} check(s) failed" if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
