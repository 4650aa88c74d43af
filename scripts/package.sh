#!/usr/bin/env bash
# Builds the release archives of the installable package:
#
#   scripts/package.sh [linux-x64|windows-x64|windows-arm64 ...]   (default: all three)
#
# For each target: a Release build without tests in build/release-<target>,
# installed into build/release-<target>/stage/PTabletSettingsAPI-<version>-<target>
# together with README.md, docs/API.md and the example hosts, then packed as
# dist/PTabletSettingsAPI-<version>-<target>.tar.gz (Linux) or .zip (Windows)
# with a .sha256 beside it. The version is the project's (top CMakeLists.txt).
# With all three targets, also the .NET binding's NuGet package
# dist/PTabletSettings.<version>.nupkg and its .snupkg (scripts/nuget-pack.sh,
# dotnet pack) with the three staged libraries.
# Installs what is missing first (scripts/setup.sh native windows dotnet;
# without root it only checks).
set -euo pipefail

. "$(dirname "${BASH_SOURCE[0]}")/env.sh"
root=$PTSA_ROOT
all_targets=(linux-x64 windows-x64 windows-arm64)
if (($#)); then targets=("$@"); else targets=("${all_targets[@]}"); fi
for target in "${targets[@]}"; do
  [[ " ${all_targets[*]} " == *" $target "* ]] || { echo "unknown target $target (known: ${all_targets[*]})" >&2; exit 2; }
done

ptsa_require native windows dotnet
mkdir -p "$root/dist"
declare -A native # target -> its staged library, for the NuGet package

for target in "${targets[@]}"; do
  build=$PTSA_BUILD_ROOT/release-$target
  configure=(cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPTSA_BUILD_TESTS=OFF)
  case $target in
  windows-*) configure+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/$target.cmake") ;;
  esac
  echo "==== $target: build in $build"
  "${configure[@]}" >/dev/null
  cmake --build "$build" -j2 >/dev/null

  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  name=PTabletSettingsAPI-$version-$target
  stage=$build/stage/$name
  rm -rf "$build/stage"
  install=(cmake --install "$build" --prefix "$stage")
  # The Linux files lose their symbols; a DLL keeps its symbols in the .pdb.
  [[ $target == linux-* ]] && install+=(--strip)
  "${install[@]}" >/dev/null
  mkdir -p "$stage/docs" "$stage/examples"
  cp "$root/README.md" "$stage/"
  cp "$root/docs/API.md" "$stage/docs/"
  for file in LICENSE LICENSE.md LICENSE.txt; do
    [[ -f $root/$file ]] && cp "$root/$file" "$stage/"
  done
  cp -r "$root/examples/c_host" "$root/examples/cpp_host" "$stage/examples/"

  if [[ $target == linux-* ]]; then
    archive=$root/dist/$name.tar.gz
    tar -C "$build/stage" --owner=0 --group=0 --numeric-owner -czf "$archive" "$name"
  else
    archive=$root/dist/$name.zip
    rm -f "$archive"
    (cd "$build/stage" && cmake -E tar cf "$archive" --format=zip "$name")
  fi
  (cd "$root/dist" && sha256sum "$(basename "$archive")" >"$(basename "$archive").sha256")
  echo "$(basename "$archive"): $(stat -c %s "$archive") bytes"
  (cd "$build/stage" && find "$name" -type f -o -type l | sort | sed 's/^/  /')
  case $target in
  linux-*) native[$target]=$(find "$stage" -name libPTabletSettingsAPI.so | head -n 1) ;;
  *) native[$target]=$stage/bin/PTabletSettingsAPI.dll ;;
  esac
done

if ((${#native[@]} == 3)) && command -v dotnet >/dev/null; then
  echo "==== NuGet package"
  package=$("$root/scripts/nuget-pack.sh" "${native[linux-x64]}" "${native[windows-x64]}" "${native[windows-arm64]}" \
    "$root/dist/nuget")
  mv "$package" "${package%.nupkg}.snupkg" "$root/dist/"
  rm -rf "$root/dist/nuget"
  package=$root/dist/$(basename "$package")
  for file in "$package" "${package%.nupkg}.snupkg"; do
    (cd "$root/dist" && sha256sum "$(basename "$file")" >"$(basename "$file").sha256")
    echo "$(basename "$file"): $(stat -c %s "$file") bytes"
  done
elif ((${#native[@]} == 3)); then
  echo "no NuGet package: the .NET SDK (dotnet) is missing"
fi
