#!/usr/bin/env bash
# Packs the .NET binding's NuGet package with the .NET SDK (dotnet pack):
#
#   scripts/nuget-pack.sh LINUX-X64-SO WIN-X64-DLL WIN-ARM64-DLL OUT-DIR
#
# makes OUT-DIR/PTabletSettings.<version>.nupkg and its .snupkg (symbols)
# and prints the package's path. The version is the project's (top
# CMakeLists.txt), read by the .csproj. Called by scripts/package.sh with its
# Release builds and by scripts/test.sh with the test suites' builds.
#
#   lib/netstandard2.0/, lib/net8.0/             PTabletSettings.dll, .xml
#   runtimes/{win-x64,win-arm64}/native/          PTabletSettingsAPI.dll
#   runtimes/linux-x64/native/                    libPTabletSettingsAPI.so
#   build/net462/, buildTransitive/net462/        PTabletSettings.targets (.NET Framework)
#   README.md                                     the package's readme; licence: MIT (expression)
set -euo pipefail
(($# == 4)) || { sed -n '2,14p' "$0" >&2; exit 2; }
out=$4
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
command -v dotnet >/dev/null || { echo "nuget-pack.sh: the .NET SDK (dotnet) is missing" >&2; exit 1; }
export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1

mkdir -p "$out"
out=$(cd "$out" && pwd)
# Each library under the name P/Invoke looks for (-L: a build's .so is a
# link to the versioned file).
native=$out/native && rm -rf "$native" && mkdir -p "$native"/{linux-x64,win-x64,win-arm64}
cp -L "$1" "$native/linux-x64/libPTabletSettingsAPI.so"
cp "$2" "$native/win-x64/PTabletSettingsAPI.dll"
cp "$3" "$native/win-arm64/PTabletSettingsAPI.dll"
# The package's folder holds this package only: the path printed is the one made now.
rm -f "$out"/PTabletSettings.*.nupkg "$out"/PTabletSettings.*.snupkg
repository=()
commit=$(git -C "$root" rev-parse HEAD 2>/dev/null) && repository+=("-p:RepositoryCommit=$commit")
url=$(git -C "$root" remote get-url origin 2>/dev/null) && [[ $url == https://* ]] && repository+=("-p:RepositoryUrl=$url")
dotnet pack "$root/bindings/dotnet/PTabletSettings.csproj" -nologo -v:q -c Release \
  --artifacts-path "$out/artifacts" -o "$out" \
  "-p:NativeLinuxX64=$native/linux-x64/libPTabletSettingsAPI.so" "-p:NativeWinX64=$native/win-x64/PTabletSettingsAPI.dll" \
  "-p:NativeWinArm64=$native/win-arm64/PTabletSettingsAPI.dll" \
  "${repository[@]}" >&2
ls "$out"/PTabletSettings.*.nupkg
