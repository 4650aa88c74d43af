#!/usr/bin/env bash
# The NuGet package as a user meets it: its files, metadata, symbols and native
# machine types; then examples/dotnet_host as a fresh project from a folder feed
# (a package cache of its own), run against the reference service (a missing or
# foreign native library: FaultTests.cs); a net48 project's copies
# of the native DLLs for each platform target. Run in a POSIX session
# of its own (setsid): the service's pipes are the session's.
#   package_test.sh PTabletSettings.X.Y.Z.nupkg SERVICE     prints "N passed, N failed"
set -uo pipefail
package=$(realpath "$1") service=$2 version=$(basename "$1" .nupkg) && version=${version#PTabletSettings.}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
passed=0 failed=0
check() { if "${@:2}"; then echo "ok   $1" && passed=$((passed + 1)); else echo "FAIL $1" && failed=$((failed + 1)); fi; }
work=$(mktemp -d) && trap 'kill "${server:-}" 2>/dev/null; rm -rf "$work"' EXIT
export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1
unzip -q "$package" -d "$work/nupkg" && unzip -q "${package%.nupkg}.snupkg" -d "$work/snupkg" || exit 1
u16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }
u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
# PE: "MZ", and "PE\0\0" at the offset held at 0x3c, the machine after it.
# ELF: "\x7fELF", class 2 (64-bit) at 4, the machine at 18.
pe() { local at; at=$(u32 "$1" 60) && [[ $(head -c2 "$1") == MZ && $(u32 "$1" "$at") == 17744 ]] && printf 0x%04X "$(u16 "$1" $((at + 4)))"; }
elf() { [[ $(head -c4 "$1" | tail -c3) == ELF && $(od -An -tu1 -j4 -N1 "$1" | tr -d ' ') == 2 ]] && printf 0x%04X "$(u16 "$1" 18)"; }
files() { (cd "$1" && find . -type f | sed 's|^\./||' | grep -vE '^(\[Content_Types\]\.xml|_rels/|package/)' | sort); }

linux=runtimes/linux-x64/native/libPTabletSettingsAPI.so
x64=runtimes/win-x64/native/PTabletSettingsAPI.dll arm64=runtimes/win-arm64/native/PTabletSettingsAPI.dll
expected=(PTabletSettings.nuspec README.md build/net462/PTabletSettings.targets buildTransitive/net462/PTabletSettings.targets
  lib/net8.0/PTabletSettings.dll lib/net8.0/PTabletSettings.xml lib/netstandard2.0/PTabletSettings.dll
  lib/netstandard2.0/PTabletSettings.xml "$linux" "$x64" "$arm64")
# The rest is the package format's own: [Content_Types].xml, _rels/, package/.
check "the package holds exactly its ${#expected[@]} files" diff <(printf '%s\n' "${expected[@]}" | sort) <(files "$work/nupkg")
check "the symbols package holds both assemblies' symbols" diff <(printf '%s\n' PTabletSettings.nuspec \
  lib/net8.0/PTabletSettings.pdb lib/netstandard2.0/PTabletSettings.pdb) <(files "$work/snupkg")
for element in '<license type="expression">MIT</license>' '<readme>README.md</readme>' '<repository type="git"' \
  "<version>$version</version>" '<group targetFramework=".NETStandard2.0"' '<group targetFramework="net8.0"'; do
  check "nuspec: $element" grep -qF "$element" "$work/nupkg/PTabletSettings.nuspec"
done
for target in net8.0 netstandard2.0; do
  check "lib/$target: the assembly carries version $version" grep -q "^$version" <(strings -el "$work/nupkg/lib/$target/PTabletSettings.dll")
done
check "lib/netstandard2.0: references netstandard, not mscorlib" \
  bash -c "strings '$work/nupkg/lib/netstandard2.0/PTabletSettings.dll' | grep -qx netstandard && ! strings '$work/nupkg/lib/netstandard2.0/PTabletSettings.dll' | grep -qx mscorlib"
check "win-x64: PE machine 0x8664" test "$(pe "$work/nupkg/$x64")" = 0x8664
check "win-arm64: PE machine 0xAA64" test "$(pe "$work/nupkg/$arm64")" = 0xAA64
check "linux-x64: ELF 64-bit, machine x86-64 (0x003E)" test "$(elf "$work/nupkg/$linux")" = 0x003E

# A fresh project from a folder feed; the machine's own package sources stay.
app=$work/app && mkdir -p "$app" "$work/feed"
cp "$package" "$work/feed/"
cp "$root/examples/dotnet_host/Program.cs" "$app/"
sed "s|Include=\"PTabletSettings\" Version=\"[^\"]*\"|Include=\"PTabletSettings\" Version=\"$version\"|" \
  "$root/examples/dotnet_host/dotnet_host.csproj" >"$app/dotnet_host.csproj"
cat >"$app/nuget.config" <<CONFIG
<configuration><packageSources><add key="feed" value="$work/feed" /></packageSources></configuration>
CONFIG
export NUGET_PACKAGES=$work/packages
check "a fresh project builds with the package from a folder feed" \
  dotnet build "$app/dotnet_host.csproj" -nologo -v:q -o "$app/out" -p:TreatWarningsAsErrors=true -p:WarningsNotAsErrors=NU1603
# The host is for .NET 8; this machine runs what it has.
run() { DOTNET_ROLL_FORWARD=Major timeout 60 dotnet "$app/out/dotnet_host.dll" "$@"; }
"$service" >"$work/service.out" 2>&1 &
server=$!
for _ in $(seq 100); do grep -q ready "$work/service.out" && break; sleep 0.1; done
check "it talks to the reference service" grep -q '^tilt sensitivity 21 confirmed$' <(run 21)

# A .NET Framework 4.8 project (built here, not run: no .NET Framework): the
# DLLs the package's .targets copies for each platform target, or its error.
fx=$work/fx48 && mkdir -p "$fx" && cp "$app/nuget.config" "$fx/"
sed -e 's|<TargetFramework>net8.0|<TargetFramework>net48|' -e '/<Nullable>/d' "$app/dotnet_host.csproj" >"$fx/fx48.csproj"
echo 'static class P { static void Main() { new PTabletSettings.TabletSettings().Dispose(); } }' >"$fx/P.cs"
fx48() { dotnet build "$fx/fx48.csproj" -nologo -v:q -o "$fx/$1" -p:PlatformTarget="$1" >"$fx/$1.log" 2>&1; }
natives() { (cd "$fx/$1" && for dll in $(find . -name PTabletSettingsAPI.dll | sort); do echo "${dll#./} $(pe "$dll")"; done | xargs); }
fx48 AnyCPU; check "net48 AnyCPU: both DLLs, in x64 and arm64" test "$(natives AnyCPU)" = \
  "arm64/PTabletSettingsAPI.dll 0xAA64 x64/PTabletSettingsAPI.dll 0x8664"
fx48 x64; check "net48 x64: the x64 DLL beside the program" test "$(natives x64)" = "PTabletSettingsAPI.dll 0x8664"
fx48 ARM64; check "net48 ARM64: the ARM64 DLL beside the program" test "$(natives ARM64)" = "PTabletSettingsAPI.dll 0xAA64"
fx48 x86; check "net48 x86: a build error" grep -q 'error : PTabletSettings: a x86 process cannot use the package' "$fx/x86.log"
echo "$passed passed, $failed failed"
((failed == 0))
