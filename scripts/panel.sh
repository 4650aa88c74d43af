#!/usr/bin/env bash
# The settings panel against the reference service, in one command: builds
# what is missing, starts the reference settings service, then the panel,
# which prints the URL to open in a browser on this machine. Ctrl-C ends
# both.
#
#   scripts/panel.sh [--port N]     (arguments go to ptsa-panel; see --help)
#
# Uses the native Debug build in build/linux-debug (or $PTSA_BUILD_ROOT).
set -euo pipefail

. "$(dirname "${BASH_SOURCE[0]}")/env.sh"
ptsa_require native tests
root=$PTSA_ROOT
build_dir=$PTSA_BUILD_ROOT/linux-debug
if [[ ! -f $build_dir/CMakeCache.txt ]]; then
  cmake --preset linux-debug -S "$root" -B "$build_dir" >/dev/null
fi
cmake --build "$build_dir" --target ptsa-panel pevra-settings-service >/dev/null

# The pipes carry the POSIX session id: the service and the panel share a
# session of their own, apart from any other service on this machine. That
# session has no terminal, so Ctrl-C here is passed on to its processes.
setsid bash -s -- "$build_dir" "$@" <<'SESSION' &
set -euo pipefail
build_dir=$1
shift
service_out=$(mktemp -u)
mkfifo "$service_out"
"$build_dir/tools/settings-service/pevra-settings-service" >"$service_out" &
service=$!
trap 'kill "$service" 2>/dev/null; wait "$service" 2>/dev/null; rm -f "$service_out"' EXIT
trap 'exit 130' INT TERM
read -r ready <"$service_out"
[[ $ready == ready ]] || { echo "the settings service did not start" >&2; exit 1; }
echo "reference settings service running (pid $service)" >&2
"$build_dir/tools/ptsa-panel/ptsa-panel" "$@"
SESSION
session=$!  # setsid, not a group leader here, became the session's bash
trap 'kill -TERM -- "-$session" 2>/dev/null || true' INT TERM
status=0
wait "$session" || status=$?
# A signal ended the first wait: wait for the session to finish.
wait "$session" 2>/dev/null || true
exit "$status"
