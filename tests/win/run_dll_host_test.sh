#!/usr/bin/env bash
# Runs the DLL host test under Wine with the debugger output shown, and
# checks that the library's log message reached the debugger output too.
# Usage: run_dll_host_test.sh <emulator> <ptsa_dll_host_test.exe>
set -euo pipefail
emulator=$1
program=$2
debug_output=$(mktemp)
trap 'rm -f "$debug_output"' EXIT

status=0
WINEDEBUG=warn+seh,+debugstr "$emulator" "$program" 2>"$debug_output" || status=$?

# Wine 8 shows the text on its "seh" channel (older Wines on "debugstr") as
# a C string: the message alone, without the log file's prefix.
expected='"Timed out waiting for Service.\r\n"'
if grep -qF -- "$expected" "$debug_output"; then
  echo "ok   the debugger output carries $expected"
else
  echo "FAIL the debugger output lacks $expected; it was:"
  cat "$debug_output"
  status=1
fi
exit "$status"
