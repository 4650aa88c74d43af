#!/usr/bin/env bash
# The panel's server, chosen by measurement: two candidates in one run.
#   httplib  cpp-httplib 0.11.4 with its limits set: the last panel built on
#            it (commit d90b4c2) with bench/panel_httplib.patch (a pool of 80
#            threads, a cap of 64 streams with 503, a 16 KiB body limit, a
#            read timeout of 5 s)
#   beast    this tree's panel (Boost.Beast)
# For each: the wall time to compile and link its panel for Linux, Windows
# x64 and Windows ARM64 (-O2, one file after the other, against the same
# library), then its native build through tests/panel/hostile_test.mjs
# --report (status, time and memory of every probe). A tool, not a test.
#
#   bench/panel_servers.sh
#
# Needs the native library (build/linux-debug, or $PTSA_BUILD_ROOT), Zig,
# Debian's libcpp-httplib-dev and cpp-httplib's single header in
# /opt/ptsa/cpp-httplib-0.11.4 (which set-up fetched while the panel used it).
set -euo pipefail
shopt -s inherit_errexit # a failed build in $(...) ends the run

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/env.sh"
build=${PTSA_BUILD_ROOT:-$root/build}/linux-debug
httplib_header=$PTSA_HOME/cpp-httplib-0.11.4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

[[ -f $build/src/libPTabletSettingsAPI.so ]] || { echo "build the native library first (cmake --build $build --target PTabletSettingsAPI)"; exit 1; }
[[ -f $httplib_header/httplib.h ]] || { echo "cpp-httplib's single header is not in $httplib_header"; exit 1; }

# The candidates' sources.
mkdir -p "$work/httplib" "$work/beast"
git -C "$root" archive d90b4c2 tools/ptsa-panel | tar -x -C "$work/httplib"
patch -s -d "$work/httplib" -p1 <"$root/bench/panel_httplib.patch"
cp -r "$root/tools" "$work/beast/"

# Import libraries for the two Windows targets, from the module definition.
"$PTSA_ZIG" dlltool -m i386:x86-64 -d "$root/src/api/PTabletSettingsAPI.def" -D PTabletSettingsAPI.dll -l "$work/x64.lib"
"$PTSA_ZIG" dlltool -m arm64 -d "$root/src/api/PTabletSettingsAPI.def" -D PTabletSettingsAPI.dll -l "$work/arm64.lib"

# Zig builds its C++ runtime once per set of flags, into its cache: a
# program built first with the same flags keeps that out of the times.
echo 'int main() { return 0; }' >"$work/warm.cpp"
for triple in x86_64-windows-gnu aarch64-windows-gnu; do
  "$PTSA_ZIG" c++ -target "$triple" -std=c++17 -O2 -fno-lto -static "$work/warm.cpp" -o "$work/warm-$triple.exe" 2>/dev/null
done

# compile CANDIDATE TARGET: prints the seconds it took.
compile() {
  local candidate=$1 target=$2 dir=$work/$1/tools/ptsa-panel out=$work/out-$1-$2 start
  mkdir -p "$out"
  cmake -DPAGE_DIR="$dir/page" -DOUTPUT="$out/page.cpp" -P "$dir/embed.cmake"
  local sources=("$dir"/*.cpp "$out/page.cpp" "$root/tools/ptsa-cli/text.cpp")
  local common=(-std=c++17 -O2 -I"$root/include" -I"$root/tools/ptsa-cli" -I"$dir" -isystem "$build/third-party")
  local cxx link
  case $candidate in
  httplib) [[ $target == linux ]] && common+=($(pkg-config --cflags cpp-httplib)) || common+=(-isystem "$httplib_header") ;;
  beast) common+=(-isystem "$PTSA_BOOST_DIR") ;;
  esac
  case $target in
  linux)
    cxx=(g++ -pthread)
    link=(-L"$build/src" -Wl,-rpath,"$build/src" -lPTabletSettingsAPI)
    [[ $candidate == httplib ]] && link+=($(pkg-config --libs cpp-httplib))
    ;;
  windows-*)
    local triple=x86_64-windows-gnu lib=$work/x64.lib
    [[ $target == windows-arm64 ]] && triple=aarch64-windows-gnu lib=$work/arm64.lib
    cxx=("$PTSA_ZIG" c++ -target "$triple" -fno-lto -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0601)
    link=(-static "$lib" -lws2_32 -lmswsock)
    ;;
  esac
  start=$(date +%s.%N)
  local objects=()
  for source in "${sources[@]}"; do
    objects+=("$out/$(basename "$source").o")
    "${cxx[@]}" "${common[@]}" -c "$source" -o "${objects[-1]}"
  done
  "${cxx[@]}" "${objects[@]}" "${link[@]}" -o "$out/ptsa-panel"
  echo "$(date +%s.%N) - $start" | bc
}

# The two candidates alternate, target by target, so that a change in the
# machine's load meets both alike.
declare -A seconds
for target in linux windows-x64 windows-arm64; do
  for candidate in httplib beast; do seconds[$candidate,$target]=$(compile "$candidate" "$target" | tail -n 1); done
done
echo "build time of the panel (s), -O2, one file after the other"
printf '%-8s %8s %14s %16s\n' candidate linux windows-x64 windows-arm64
for candidate in httplib beast; do
  printf '%-8s %8.1f %14.1f %16.1f\n' "$candidate" "${seconds[$candidate,linux]}" "${seconds[$candidate,windows-x64]}" \
    "${seconds[$candidate,windows-arm64]}"
done

for candidate in httplib beast; do
  echo
  echo "== $candidate: tests/panel/hostile_test.mjs --report (native)"
  setsid --wait node "$root/tests/panel/hostile_test.mjs" --panel "$work/out-$candidate-linux/ptsa-panel" --report || true
done
