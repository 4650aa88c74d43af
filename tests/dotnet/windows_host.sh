#!/usr/bin/env bash
# The package on the Windows x64 runtime: tests/dotnet/windows_host published
# self-contained for win-x64 with the package from a folder feed, and run
# under Wine against the Windows reference service, which the host's
# ptsa-cli.exe changes and whose script types the keys of a capture.
#   windows_host.sh PTabletSettings.X.Y.Z.nupkg WINDOWS-X64-BIN WORK     prints "N passed, N failed"
# WORK keeps the runtime packs between runs (NUGET_PACKAGES): the first
# restore fetches them (150 MB), later ones find them there.
set -uo pipefail
package=$(realpath "$1") bin=$(realpath "$2") work=$3 version=$(basename "$1" .nupkg) && version=${version#PTabletSettings.}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
run=$root/cmake/wine64-run.sh
passed=0 failed=0
check() { if "${@:2}"; then echo "ok   $1" && passed=$((passed + 1)); else echo "FAIL $1" && failed=$((failed + 1)); fi; }
finish() { echo "$passed passed, $failed failed" && exit $((failed > 0)); }
windows() { local path=${1//\//\\} && echo "Z:$path"; } # Wine's drive Z: is /
export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1

mkdir -p "$work" && work=$(cd "$work" && pwd)
rm -rf "$work/feed" "$work/out" "$work/run" && mkdir -p "$work/feed" "$work/run"
cp "$package" "$work/feed/"
# A package cache of the test's own, without the last run's copy of this
# package (same version, other bytes): the runtime packs stay.
export NUGET_PACKAGES=$work/packages
rm -rf "$NUGET_PACKAGES/ptabletsettings"
start=$SECONDS
check "published self-contained for win-x64 with the package from a folder feed" \
  timeout 900 dotnet publish "$root/tests/dotnet/windows_host/windows_host.csproj" -nologo -v:q -c Release \
  "-p:PTabletSettingsVersion=$version" "-p:RestoreAdditionalProjectSources=$work/feed" \
  --artifacts-path "$work/artifacts" -o "$work/out" >"$work/publish.log" 2>&1 || { cat "$work/publish.log"; finish; }
echo "     (restore and publish: $((SECONDS - start)) s)"
unzip -qo "$package" runtimes/win-x64/native/PTabletSettingsAPI.dll -d "$work/nupkg"
check "the program carries the package's win-x64 DLL, and no other native library" eval \
  'cmp -s "$work/out/PTabletSettingsAPI.dll" "$work/nupkg/runtimes/win-x64/native/PTabletSettingsAPI.dll" &&
   test -z "$(cd "$work/out" && ls libPTabletSettingsAPI.so runtimes 2>/dev/null)"'

# The service, from a values file, quits through a FIFO; its script types
# two keys once the second handshake (ptsa-cli.exe's) is answered, when the
# host has the capture running, then sets the tip sensitivity to 44 to say so.
echo '{"ComponentsDriver\\ServiceVersion": "9.8.7-win", "ComponentsDriver\\HIDRouterVersion": "6.5.4-win",
  "ComponentsDriver\\PenHandler\\PenTransducer\\TiltSensitivity": "3"}' >"$work/run/values.json"
cat >"$work/run/keys.txt" <<'KEYS'
wait-handshake 2
key Ctrl+
key Alt+K
set ComponentsDriver\\PenHandler\\PenTransducer\\ButtonTip\\PressureCurve 44
KEYS
mkfifo "$work/run/control"
(cd "$work/run" && exec "$run" "$bin/pevra-settings-service.exe" --values values.json --script keys.txt --stdin-control \
  <control >service.log 2>&1) &
service=$!
exec 3>"$work/run/control"
trap 'exec 3>&-; kill $service ${host:-} 2>/dev/null' EXIT
for _ in $(seq 300); do grep -q '^ready' "$work/run/service.log" && break || sleep 0.1; done
check "the Windows service starts under Wine" grep -q '^ready' "$work/run/service.log" || finish

# The host: its lines as they come; the time from its last line to its end.
# Wine's loader maps the runtime's IL assemblies only with its mscoree.dll
# present, which the project's runner switches off (no Wine Mono): on here.
(cd "$work/run" && WINEDLLOVERRIDES=mshtml= exec "$run" "$work/out/windows_host.exe" "versions 9.8.7-win 6.5.4-win,tilt 3" \
  "$(windows "$bin/ptsa-cli.exe")" >host.out 2>&1) &
host=$!
lines() { tr -d '\r' <"$work/run/host.out"; }
for _ in $(seq 1800); do lines | grep -q '^leaving$' && break; kill -0 $host 2>/dev/null || break; sleep 0.1; done
left=$(date +%s%N)
for _ in $(seq 100); do kill -0 $host 2>/dev/null || break; sleep 0.05; done
ended=$(date +%s%N)
kill -0 $host 2>/dev/null && kill $host
wait $host
status=$?
lines | sed 's/^/     host: /'
saw() { lines | grep -qxF -- "$1"; }
check "Windows CoreCLR loaded the DLL from the program's folder" saw "module $(windows "$work/out/PTabletSettingsAPI.dll")"
check "the handshake's versions and tilt sensitivity arrive as events" eval 'saw "versions 9.8.7-win 6.5.4-win" && saw "tilt 3"'
check "a setter is confirmed by its event" saw "tilt 21"
check "ptsa-cli.exe's change is pushed to the host" eval 'saw "ptsa-cli 0" && saw "tilt 17"'
check "key capture returns the scripted keys" saw "keys Ctrl+Alt+K"
check "without Dispose the process exits 0 within 2 s of its last line ($(((ended - left) / 1000000)) ms)" \
  eval 'saw leaving && ((status == 0 && ended - left < 2000000000))'
echo quit >&3 && exec 3>&-
check "the service quits" wait $service
trap - EXIT
finish
