#!/usr/bin/env bash
# Builds the panel and the reference service (Release) and runs the panel
# benchmark (bench/panel_bench.mjs) in a POSIX session of its own.
#
#   bench/panel.sh [benchmark arguments]
#
# Builds go to build/bench-release (or $PTSA_BUILD_ROOT/bench-release).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/env.sh"
build=${PTSA_BUILD_ROOT:-$root/build}/bench-release

cmake --preset linux-debug -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target ptsa-panel pevra-settings-service >/dev/null
exec setsid --wait node "$root/bench/panel_bench.mjs" --build "$build" "$@"
