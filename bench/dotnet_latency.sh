#!/usr/bin/env bash
# The .NET binding on CoreCLR beside the native library, in one run: the
# push-to-event latency (median, p99), the pushes a second of a flood, the
# bytes allocated per event (bench/dotnet_latency/Program.cs). A benchmark,
# not part of the test command. Builds the native side Release into
# build/bench-release (or $PTSA_BUILD_ROOT/bench-release).
#   bench/dotnet_latency.sh [ROUNDS=5] [PACED=2000] [GAP-US=500] [FLOOD=50000]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${PTSA_BUILD_ROOT:-$root/build}/bench-release
export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1
cmake --preset linux-debug -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target ptsa_push_latency >/dev/null
out=$build/bench/dotnet_latency
dotnet build "$root/bench/dotnet_latency/dotnet_latency.csproj" -nologo -v:q -c Release --artifacts-path "$out" >&2
# Its own POSIX session: the bench service's pipes are the session's.
LD_LIBRARY_PATH=$build/src setsid --wait dotnet "$out/bin/dotnet_latency/release/dotnet_latency.dll" \
  "$build/bench/ptsa_bench_service" "$build/bench/ptsa_push_latency" "$@"
