#!/usr/bin/env bash
# The .NET binding under 5,000 pushes a second for 10 s: how long a click
# posted to the UI thread waits (p50, p99, max), against the same clicks with
# the link idle. A benchmark, not part of the test command.
#   bench/dotnet_flood.sh [BUILD-DIR=build/linux-debug] [RATE] [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build/linux-debug}
export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1
out=$build/bench/dotnet_flood
dotnet build "$root/bench/dotnet_flood/dotnet_flood.csproj" -nologo -v:q -c Release --artifacts-path "$out" >&2
# Its own POSIX session: the service's pipes are the session's.
LD_LIBRARY_PATH=$build/src setsid --wait dotnet "$out/bin/dotnet_flood/release/dotnet_flood.dll" \
  "$build/tools/settings-service/pevra-settings-service" "${@:2}"
