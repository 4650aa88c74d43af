#!/usr/bin/env bash
# The long fuzz run: every libFuzzer target for a number of executions each,
# over the seed corpus in tests/fuzz/corpus, with AddressSanitizer and
# UndefinedBehaviorSanitizer. Builds the linux-sanitize preset first. New
# inputs go to build/<dir>/fuzz-long/<target>; crashes to the same folder.
# Prints, for each target, its executions, time, rate, coverage and corpus.
#
#   scripts/fuzz.sh [runs per target] [target...]      (default 2500000, all)
set -euo pipefail

. "$(dirname "${BASH_SOURCE[0]}")/env.sh"
ptsa_require native sanitize
root=$PTSA_ROOT
build=${PTSA_FUZZ_BUILD:-$PTSA_BUILD_ROOT/linux-sanitize}
runs=${1:-2500000}
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then
  for source in "$root"/tests/fuzz/*_fuzzer.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi

cmake --preset linux-sanitize -S "$root" -B "$build" >/dev/null
cmake --build "$build" --target "${targets[@]}" >/dev/null

status=0
total=0
for target in "${targets[@]}"; do
  work=$build/fuzz-long/$target
  mkdir -p "$work"
  log=$work.log
  start=$(date +%s)
  rc=0
  "$build/tests/fuzz/$target" -runs="$runs" -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$work/" "$work" "$root/tests/fuzz/corpus/$target" >"$log" 2>&1 || rc=$?
  seconds=$(($(date +%s) - start))
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  coverage=$(grep -oE 'cov: [0-9]+' "$log" | tail -n 1 | cut -d' ' -f2)
  corpus=$(find "$work" -maxdepth 1 -type f | wc -l)
  printf '%-22s %10s executions in %5s s (%s/s), coverage %s edges, corpus %s, exit %s\n' \
    "$target" "${executions:-?}" "$seconds" "$(( ${executions:-0} / (seconds > 0 ? seconds : 1) ))" \
    "${coverage:-?}" "$corpus" "$rc"
  total=$((total + ${executions:-0}))
  if ((rc != 0)); then
    status=1
    echo "  $target failed: see $log and the crash files in $work"
  fi
done
echo "$total executions in all"
exit $status
