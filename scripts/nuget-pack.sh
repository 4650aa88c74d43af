#!/usr/bin/env bash
# Packs the .NET binding's NuGet package, PTabletSettings.<version>.nupkg,
# from given files, with Debian's nuget client (it runs on Mono):
#
#   scripts/nuget-pack.sh VERSION ASSEMBLY-DIR LINUX-X64-SO WIN-X64-DLL WIN-ARM64-DLL OUT-DIR
#
# ASSEMBLY-DIR holds PTabletSettings.dll and PTabletSettings.xml (a native
# build's bindings/dotnet). Called by scripts/package.sh with its Release
# builds and by scripts/test.sh with the test suites' builds. Prints the
# package's path.
#
#   lib/netstandard2.0/                      PTabletSettings.dll, .xml
#   runtimes/{win-x64,win-arm64}/native/     PTabletSettingsAPI.dll
#   runtimes/linux-x64/native/               libPTabletSettingsAPI.so
#   build/net481/PTabletSettings.targets     copies the DLL for .NET Framework
#   README.md, LICENSE
set -euo pipefail
(($# == 6)) || { sed -n '2,9p' "$0" >&2; exit 2; }
version=$1 assembly=$2 linux_x64=$3 win_x64=$4 win_arm64=$5 out=$6
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/lib/netstandard2.0" "$stage/build/net481" "$stage"/runtimes/{linux-x64,win-x64,win-arm64}/native
cp "$assembly/PTabletSettings.dll" "$assembly/PTabletSettings.xml" "$stage/lib/netstandard2.0/"
# -L: a build's .so is a link to the versioned file; DllImport looks for this name.
cp -L "$linux_x64" "$stage/runtimes/linux-x64/native/libPTabletSettingsAPI.so"
cp "$win_x64" "$stage/runtimes/win-x64/native/PTabletSettingsAPI.dll"
cp "$win_arm64" "$stage/runtimes/win-arm64/native/PTabletSettingsAPI.dll"
cp "$root/bindings/dotnet/PTabletSettings.targets" "$stage/build/net481/"
cp "$root/README.md" "$root/LICENSE" "$stage/"

# This nuget (2.8) predates the license and readme elements: both files sit
# at the package's root, and the description names the licence.
cat >"$stage/PTabletSettings.nuspec" <<NUSPEC
<?xml version="1.0" encoding="utf-8"?>
<package>
  <metadata>
    <id>PTabletSettings</id>
    <version>$version</version>
    <title>PTabletSettings</title>
    <authors>PTabletSettingsAPI developers</authors>
    <requireLicenseAcceptance>false</requireLicenseAcceptance>
    <description>.NET binding of PTabletSettingsAPI: read and change a pen-tablet driver's settings through its settings service. For 64-bit processes: .NET 6 and later on win-x64 and win-arm64, .NET Framework 4.8.1 (x64 or ARM64). MIT licence (LICENSE).</description>
    <tags>pen tablet settings native</tags>
    <dependencies>
      <group targetFramework=".NETStandard2.0" />
    </dependencies>
  </metadata>
  <files>
    <file src="lib/netstandard2.0/*" target="lib/netstandard2.0" />
    <file src="runtimes/linux-x64/native/*" target="runtimes/linux-x64/native" />
    <file src="runtimes/win-x64/native/*" target="runtimes/win-x64/native" />
    <file src="runtimes/win-arm64/native/*" target="runtimes/win-arm64/native" />
    <file src="build/net481/*" target="build/net481" />
    <file src="README.md" />
    <file src="LICENSE" />
  </files>
</package>
NUSPEC
mkdir -p "$out"
nuget pack "$stage/PTabletSettings.nuspec" -BasePath "$stage" -OutputDirectory "$out" -NonInteractive -NoPackageAnalysis >&2
echo "$(cd "$out" && pwd)/PTabletSettings.$version.nupkg"
