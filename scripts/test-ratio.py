#!/usr/bin/env python3
"""Prints the size of the tests beside the size of the code they test.

Counts non-blank lines of C, C++, C#, Python, JavaScript and shell files
(.c .cc .cpp .h .hpp .cs .py .js .mjs .sh) that git tracks: everything under
tests/ against src/, include/, tools/, examples/ and bindings/. Benchmarks
(bench/) and scripts/ are tools of the team and count in neither. The
project keeps the ratio at or below 0.35; --check exits 1 above it.

    scripts/test-ratio.py [--check]
"""
import pathlib
import subprocess
import sys

TYPES = (".c", ".cc", ".cpp", ".h", ".hpp", ".cs", ".py", ".js", ".mjs", ".sh")
CODE = ("src", "include", "tools", "examples", "bindings")
LIMIT = 0.35


def count(root: pathlib.Path, folders) -> int:
    listed = subprocess.run(["git", "-C", str(root), "ls-files", "--", *folders],
                            capture_output=True, text=True, check=True).stdout.split()
    total = 0
    for name in listed:
        path = root / name
        if path.suffix in TYPES and path.is_file():
            total += sum(1 for line in path.read_text(errors="replace").splitlines() if line.strip())
    return total


def main() -> int:
    root = pathlib.Path(__file__).resolve().parent.parent
    tests, code = count(root, ["tests"]), count(root, CODE)
    ratio = tests / code if code else float("inf")
    print(f"tests: {tests} lines under tests/; code: {code} lines under {', '.join(CODE)}; "
          f"ratio {ratio:.3f} (limit {LIMIT}; non-blank lines of {' '.join(TYPES)})")
    return 1 if "--check" in sys.argv and ratio > LIMIT else 0


if __name__ == "__main__":
    sys.exit(main())
