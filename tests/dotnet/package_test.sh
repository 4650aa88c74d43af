#!/usr/bin/env bash
# The NuGet package as a user's restore unpacks it: exactly its files, and
# each native library built for its runtime folder's machine.
#   package_test.sh PTabletSettings.X.Y.Z.nupkg     prints "N passed, N failed"
set -uo pipefail
passed=0 failed=0
check() { if "${@:2}"; then echo "ok   $1" && passed=$((passed + 1)); else echo "FAIL $1" && failed=$((failed + 1)); fi; }
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
unzip -q "$1" -d "$work" || exit 1
u16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }
u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
# PE: "MZ", and "PE\0\0" at the offset held at 0x3c, the machine after it.
# ELF: "\x7fELF", class 2 (64-bit) at 4, the machine at 18.
pe() { local at; at=$(u32 "$1" 60) && [[ $(head -c2 "$1") == MZ && $(u32 "$1" "$at") == 17744 ]] && printf 0x%04X "$(u16 "$1" $((at + 4)))"; }
elf() { [[ $(head -c4 "$1" | tail -c3) == ELF && $(od -An -tu1 -j4 -N1 "$1" | tr -d ' ') == 2 ]] && printf 0x%04X "$(u16 "$1" 18)"; }

linux=runtimes/linux-x64/native/libPTabletSettingsAPI.so
x64=runtimes/win-x64/native/PTabletSettingsAPI.dll arm64=runtimes/win-arm64/native/PTabletSettingsAPI.dll
files=(LICENSE PTabletSettings.nuspec README.md build/net481/PTabletSettings.targets lib/netstandard2.0/PTabletSettings.dll
  lib/netstandard2.0/PTabletSettings.xml "$linux" "$x64" "$arm64")
# The rest is the package format's own: [Content_Types].xml, _rels/, package/.
check "the package holds exactly its ${#files[@]} files" diff <(printf '%s\n' "${files[@]}" | sort) \
  <(cd "$work" && find . -type f | sed 's|^\./||' | grep -vE '^(\[Content_Types\]\.xml|_rels/|package/)' | sort)
check "win-x64: PE machine 0x8664" test "$(pe "$work/$x64")" = 0x8664
check "win-arm64: PE machine 0xAA64" test "$(pe "$work/$arm64")" = 0xAA64
check "linux-x64: ELF 64-bit, machine x86-64 (0x003E)" test "$(elf "$work/$linux")" = 0x003E
echo "$passed passed, $failed failed"
((failed == 0))
