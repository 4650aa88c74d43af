#!/usr/bin/env bash
# Runs a Windows x64 program under Wine in the project's prefix: the
# emulator of the x64 cross build, so ctest runs its test programs here.
# WINEDEBUG may be set by the caller (for instance +debugstr); it is quiet
# otherwise.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# A Wine server that stays up between programs saves about 2 s a start
# (scripts/test.sh starts one for the whole batch and stops it after). When
# none runs, start one that lingers 30 s and bring up Wine's own services
# at once, away from the caller's output: started by the program, they
# would keep its output open, and ctest waiting, until they exit.
exec 8>"$WINEPREFIX.lock"
flock 8
if "$PTSA_WINESERVER" -p30 </dev/null >/dev/null 2>&1 8>&-; then
  "$PTSA_WINE" wineboot </dev/null >/dev/null 2>&1 8>&- || true
fi
exec 8>&-
exec "$PTSA_WINE" "$@"
