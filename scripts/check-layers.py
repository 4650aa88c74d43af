#!/usr/bin/env python3
"""Checks that the library's folders include one way only.

The layers of src/, from the top down (docs/ARCHITECTURE.md says what each
owns):

    api -> client -> settings -> dispatch -> log -> platform

A file may include its own folder's headers, those of any folder below it,
and the public header. Only src/platform/ includes a system header of
Windows or POSIX. Prints every include that breaks the order and exits 1
when there is one; exits 0 with a one-line summary otherwise.

    scripts/check-layers.py [source root]
"""
import pathlib
import re
import sys

LAYERS = ["api", "client", "settings", "dispatch", "log", "platform"]
# System headers that belong to one platform: only src/platform/ may use them.
PLATFORM_HEADERS = re.compile(
    r"^(windows|winbase|winternl|tlhelp32|unistd|pthread|poll|fcntl|dlfcn|dirent|"
    r"sys/.*|netinet/.*|arpa/.*)\.h$")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent) / "src"
    faults, files = [], 0
    for path in sorted(root.rglob("*")):
        if path.suffix not in (".h", ".hpp", ".cpp", ".c") or path.parent == root:
            continue
        files += 1
        layer = path.relative_to(root).parts[0]
        if layer not in LAYERS:
            faults.append(f"{path}: folder '{layer}' is not a layer of {LAYERS}")
            continue
        rank = LAYERS.index(layer)
        for number, line in enumerate(path.read_text().splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            kind, header = match.groups()
            if kind == "<":
                if layer != "platform" and PLATFORM_HEADERS.match(header):
                    faults.append(f"{path}:{number}: <{header}> outside src/platform")
                continue
            target = header.split("/")[0]
            if target in LAYERS and LAYERS.index(target) < rank:
                faults.append(f"{path}:{number}: {layer}/ includes the higher layer {header}")
    for fault in faults:
        print(fault)
    print(f"layers: {files} files, {len(faults)} upward includes ({' -> '.join(LAYERS)})")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
