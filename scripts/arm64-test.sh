#!/bin/bash
# Runs the Windows ARM64 tests under the emulated platform, in one session
# (one set of mounts, one wineserver), and prints ctest's summary.
#
#   arm64-test.sh [BUILD_DIR] [-- CTEST_ARG...]
#
# BUILD_DIR (default build/windows-arm64) is an ARM64 build folder. When it has
# no tests yet, it is configured and built first.
# The tests run one at a time (see below), whatever -j is given.
# Exit codes: ctest's; 77 when this machine cannot host the platform.
set -euo pipefail
here=$(dirname "$(readlink -f "$0")")
source_dir=$(dirname "$here")
. "$here/arm64-common.sh"

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

setup_rc=0
timed "platform setup" "$here/arm64-setup.sh" || setup_rc=$?
[ "$setup_rc" = 0 ] || exit "$setup_rc"

tests=$(test_count "$build_dir")
if [ "$tests" = 0 ]; then
    timed "ARM64 build" configure_and_build
    tests=$(test_count "$build_dir")
fi

arm64_say "running the ARM64 tests in $build_dir"
rc=0
timed "ARM64 test session" "$here/arm64-wine.sh" --bind "$build_dir" session \
    ctest --test-dir "$build_dir" --output-on-failure "${ctest_args[@]}" || rc=$?
exit "$rc"
