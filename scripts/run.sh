#!/usr/bin/env bash
# The main job: builds what is missing, starts the reference settings
# service, and runs the demo host (examples/demo_host) against it. The host
# prints every callback as the values arrive, changes a few settings and
# shows the service's answers coming back, captures a keystroke that the
# service is scripted to type, and shuts down; then the service is stopped.
#
#   scripts/run.sh [seconds]    seconds the host stays connected at the end
#
# Uses the native Debug build in build/linux-debug (or $PTSA_BUILD_ROOT), and
# needs nothing but the native set-up (scripts/setup.sh native): without
# root it only checks that, and says what is missing.
set -euo pipefail

. "$(dirname "${BASH_SOURCE[0]}")/env.sh"
ptsa_require native
build_dir=$PTSA_BUILD_ROOT/linux-debug

if [[ ! -f $build_dir/CMakeCache.txt ]]; then
  cmake --preset linux-debug -S "$PTSA_ROOT" -B "$build_dir" >/dev/null
fi
cmake --build "$build_dir" --target ptsa_demo_host pevra-settings-service >/dev/null

# The pipes carry the POSIX session id: the service and the host share a
# session of their own, apart from any other service on this machine.
exec setsid --wait bash -s -- "$build_dir" "$@" <<'SESSION'
set -euo pipefail
build_dir=$1
shift
script=$(mktemp)
trap 'rm -f "$script"' EXIT
# Once the host has connected, wait until it records keystrokes, then type.
printf '%s\n' 'wait-handshake' 'sleep 2500' 'key Ctrl+Shift+P' >"$script"

service_out=$(mktemp -u)
mkfifo "$service_out"
"$build_dir/tools/settings-service/pevra-settings-service" --script "$script" >"$service_out" &
service=$!
trap 'kill "$service" 2>/dev/null; wait "$service" 2>/dev/null; rm -f "$script" "$service_out"' EXIT
read -r ready <"$service_out"
[[ $ready == ready ]] || { echo "the settings service did not start" >&2; exit 1; }
echo "reference settings service running (pid $service)"

"$build_dir/examples/demo_host/ptsa_demo_host" "$@"
SESSION
