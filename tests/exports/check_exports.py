#!/usr/bin/env python3
"""Checks the export table of a built PTabletSettingsAPI library.

The expected table comes from the public header: every function declared
with PEVRANUV_API is exported, and nothing else; on Windows the ordinals
follow the names' alphabetical order from 1. The built files are read with
the binutils of the host (llvm-readobj for PE files, nm for ELF files), so
the check sees what a loader sees.

  check_exports.py pe  --header H --library X.dll --machine 0x8664 --readobj R
                       [--import-library X.dll.a ...] [--version X.Y.Z]
  check_exports.py elf --header H --library libX.so --nm N
"""
import argparse
import re
import struct
import subprocess
import sys

# What a PE library may import: Windows' own libraries, nothing that would
# have to be shipped beside it.
SYSTEM_DLLS = re.compile(
    r"^(kernel32|kernelbase|ntdll|advapi32|user32|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$", re.IGNORECASE)


class Report:
    def __init__(self):
        self.failures = 0

    def check(self, ok, text):
        print(("ok   " if ok else "FAIL ") + text)
        if not ok:
            self.failures += 1
        return ok

    def compare(self, what, expected, actual):
        """Compares two {name: ordinal-or-None} tables and lists every difference."""
        missing = sorted(set(expected) - set(actual))
        extra = sorted(set(actual) - set(expected))
        moved = sorted(n for n in set(expected) & set(actual) if expected[n] != actual[n])
        self.check(not missing, f"{what}: all {len(expected)} expected names present"
                   + (f"; missing {', '.join(missing)}" if missing else ""))
        self.check(not extra, f"{what}: no other names"
                   + (f"; unexpected {', '.join(extra)}" if extra else ""))
        if any(v is not None for v in expected.values()):
            self.check(not moved, f"{what}: every ordinal as expected"
                       + "".join(f"; {n} is @{actual[n]}, expected @{expected[n]}" for n in moved))


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def header_exports(header):
    """The names of the functions the public header exports."""
    with open(header, encoding="utf-8") as f:
        text = f.read()
    return sorted(set(re.findall(r"PEVRANUV_API\s+[^;(]*?\b(PevraNUV_\w+)\s*\(", text)))


def readobj_blocks(output, kind):
    """The 'Kind { Key: value ... }' blocks of llvm-readobj's output as dicts."""
    blocks = []
    for body in re.findall(r"^\s*" + kind + r" \{\n(.*?)^\s*\}", output, re.MULTILINE | re.DOTALL):
        blocks.append(dict(re.findall(r"^\s*(\w+): (.*)$", body, re.MULTILINE)))
    return blocks


def check_pe(args, expected_names, report):
    expected = {name: ordinal for ordinal, name in enumerate(expected_names, start=1)}

    headers = run(args.readobj, "--file-headers", args.library)
    machine = re.search(r"^\s*Machine: .*\((0x[0-9A-Fa-f]+)\)", headers, re.MULTILINE)
    report.check(machine is not None and int(machine.group(1), 16) == int(args.machine, 16),
                 f"machine {machine.group(1) if machine else '?'}, expected {args.machine}")

    exports = readobj_blocks(run(args.readobj, "--coff-exports", args.library), "Export")
    actual = {block.get("Name", f"<ordinal {block['Ordinal']} without a name>"): int(block["Ordinal"])
              for block in exports}
    report.check(len(exports) == len(actual), f"{len(exports)} exports, each under its own name")
    report.compare("exports", expected, actual)

    imports = run(args.readobj, "--coff-imports", args.library)
    dlls = sorted({block["Name"] for kind in ("Import", "DelayImport") for block in readobj_blocks(imports, kind)})
    foreign = [dll for dll in dlls if not SYSTEM_DLLS.match(dll)]
    report.check(dlls and not foreign, f"imports only system DLLs: {', '.join(dlls)}"
                 + (f"; not allowed: {', '.join(foreign)}" if foreign else ""))

    library_name = args.library.replace("\\", "/").rsplit("/", 1)[-1]
    arch = {0x8664: "x86_64", 0xAA64: "aarch64"}.get(int(args.machine, 16), "?")
    for import_library in args.import_library:
        listing = run(args.readobj, import_library)
        arches = set(re.findall(r"^Arch: (\S+)$", listing, re.MULTILINE))
        report.check(arches == {arch}, f"{import_library.rsplit('/', 1)[-1]} is for {', '.join(sorted(arches))}, "
                     f"expected {arch}")
        members = readobj_blocks_of_archive(listing)
        names = {symbol for m in members for symbol in m["Symbol"] if not symbol.startswith("__imp_")}
        dll_names = {m["File"] for m in members}
        report.compare(f"{import_library.rsplit('/', 1)[-1]}", dict.fromkeys(expected), dict.fromkeys(names))
        report.check(dll_names == {library_name}, f"its imports name {', '.join(sorted(dll_names))}")

    if args.version:
        check_version_resource(args, report)


def version_resources(output):
    """The data of every VERSIONINFO resource in llvm-readobj's --coff-resources output."""
    blobs = []
    for body in re.findall(r"^\s*Type: VERSIONINFO \(ID 16\) \[\n(.*?)^ {2}\]", output, re.MULTILINE | re.DOTALL):
        for dump in re.findall(r"Data \(\n(.*?)\)\n", body, re.DOTALL):
            rows = re.findall(r"^\s*[0-9A-Fa-f]+: ((?:[0-9A-Fa-f]{2,8} ?)+)", dump, re.MULTILINE)
            blobs.append(bytes.fromhex("".join(row.replace(" ", "") for row in rows)))
    return blobs


def check_version_resource(args, report):
    """The DLL's VERSIONINFO: the fixed file and product versions and the
    version texts are the project's version."""
    blobs = version_resources(run(args.readobj, "--coff-resources", args.library))
    if not report.check(len(blobs) == 1, f"{len(blobs)} version resource(s), expected 1"):
        return
    blob = blobs[0]
    major, minor, patch = (int(part) for part in args.version.split("."))
    fixed = blob.find(struct.pack("<I", 0xFEEF04BD))
    if report.check(fixed >= 0, "the version resource holds a VS_FIXEDFILEINFO"):
        file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<4I", blob, fixed + 8)
        expected = ((major << 16) | minor, patch << 16)
        for what, actual in (("file", (file_ms, file_ls)), ("product", (product_ms, product_ls))):
            shown = f"{actual[0] >> 16}.{actual[0] & 0xFFFF}.{actual[1] >> 16}.{actual[1] & 0xFFFF}"
            report.check(actual == expected, f"fixed {what} version {shown}, expected {args.version}.0")
    texts = dict(re.findall(r"(FileVersion|ProductVersion|OriginalFilename)\x00+([^\x00]*)",
                            blob.decode("utf-16-le", errors="replace")))
    library_name = args.library.replace("\\", "/").rsplit("/", 1)[-1]
    for key, expected_text in (("FileVersion", args.version), ("ProductVersion", args.version),
                               ("OriginalFilename", library_name)):
        report.check(texts.get(key) == expected_text, f'{key} "{texts.get(key)}", expected "{expected_text}"')


def readobj_blocks_of_archive(output):
    """The short import members of an import library, as llvm-readobj lists them."""
    members = []
    for chunk in output.split("\nFile: ")[1:]:
        fields = {}
        for key, value in re.findall(r"^(\w[\w ]*): (.*)$", "File: " + chunk, re.MULTILINE):
            fields.setdefault(key, []).append(value)
        if fields.get("Format") == ["COFF-import-file"]:
            members.append({"File": fields["File"][0], "Symbol": fields.get("Symbol", [])})
    return members


def check_elf(args, expected_names, report):
    symbols = {}
    for line in run(args.nm, "-D", "--defined-only", args.library).splitlines():
        parts = line.split()
        if len(parts) >= 2:
            symbols[parts[-1]] = parts[-2]
    report.compare("dynamic symbols", dict.fromkeys(expected_names), dict.fromkeys(symbols))
    not_code = sorted(name for name in expected_names if symbols.get(name, "T") != "T")
    report.check(not not_code, "every export is a function" + (f"; not: {', '.join(not_code)}" if not_code else ""))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("format", choices=["pe", "elf"])
    parser.add_argument("--header", required=True)
    parser.add_argument("--library", required=True)
    parser.add_argument("--machine", help="expected PE machine type, 0x8664 or 0xAA64")
    parser.add_argument("--readobj", default="llvm-readobj-14")
    parser.add_argument("--import-library", action="append", default=[])
    parser.add_argument("--version", help="expected version X.Y.Z of a DLL's version resource")
    parser.add_argument("--nm", default="nm")
    args = parser.parse_args()

    report = Report()
    expected_names = header_exports(args.header)
    report.check(len(expected_names) == 19, f"the header declares {len(expected_names)} exported functions")
    if args.format == "pe":
        check_pe(args, expected_names, report)
    else:
        check_elf(args, expected_names, report)
    print(f"{report.failures} check(s) failed" if report.failures else "all checks passed")
    return 1 if report.failures else 0


if __name__ == "__main__":
    sys.exit(main())
