#!/usr/bin/env bash
# Builds the link benchmark (Release) and runs it in turn with everything on
# one CPU (taskset -c 0: the bench service and the library's thread inherit
# the placement) and unpinned.
#
#   bench/run.sh [runs] [benchmark arguments]    runs: of each placement, 3 by default
#
# Builds go to build/bench-release (or $PTSA_BUILD_ROOT/bench-release).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${PTSA_BUILD_ROOT:-$root/build}/bench-release
runs=${1:-3}
shift $(($# > 0 ? 1 : 0))

cmake --preset linux-debug -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target ptsa_link_bench >/dev/null
for ((run = 1; run <= runs; run++)); do
  echo "== one CPU, run $run"
  taskset -c 0 "$build/bench/ptsa_link_bench" "$@"
  echo "== unpinned, run $run"
  "$build/bench/ptsa_link_bench" "$@"
done
