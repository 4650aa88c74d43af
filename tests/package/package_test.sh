#!/usr/bin/env bash
# Installs a build tree into a prefix of its own and uses the package as a
# host's developer does: the installed files; examples/c_host and
# examples/cpp_host built through find_package (natively also through
# pkg-config) and, given a way to run them, run against the installed
# reference service.
#
#   package_test.sh --platform linux|windows --source DIR --build DIR --work DIR --cmake CMAKE
#                   --make MAKE --generator GEN --type BUILD_TYPE --version X.Y.Z
#                   --bindir D --libdir D --includedir D
#     linux:   --soversion N --cc CC --pkgconfig PKGCONF   (in a session of its own: setsid --wait)
#     windows: --toolchain FILE [--emulator RUNNER]        (no runner: build only)
set -uo pipefail
emulator= toolchain=
while (($#)); do printf -v "${1#--}" %s "$2" && shift 2; done
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

failures=0
check() { # check TEXT COMMAND...: one "ok" or "FAIL" line for COMMAND
  if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1" && failures=$((failures + 1)) && return 1; fi
}
finish() { echo "$failures check(s) failed" && exit $((failures > 0)); }
logged() { # logged NAME COMMAND...: the output goes to logs/NAME.log, shown when COMMAND fails
  "${@:2}" >"$work/logs/$1.log" 2>&1 || { tail -n 40 "$work/logs/$1.log" && return 1; }
}

rm -rf "$work" && mkdir -p "$work/logs"
prefix=$work/prefix
package=$libdir/cmake/PTabletSettingsAPI
check "cmake --install into $prefix" logged install "$cmake" --install "$build" --prefix "$prefix" || finish

expected=("$includedir/PTabletSettingsAPI.h" "$includedir/PTabletSettings.hpp" "$package/PTabletSettingsAPIConfig.cmake"
  "$package/PTabletSettingsAPIConfigVersion.cmake" "$package/PTabletSettingsAPITargets.cmake"
  "$package/PTabletSettingsAPITargets-${type,,}.cmake")
if [[ $platform == linux ]]; then
  expected+=("$bindir/pevra-settings-service" "$bindir/ptsa-cli" "$libdir/pkgconfig/PTabletSettingsAPI.pc"
    "$libdir/libPTabletSettingsAPI.so" "$libdir/libPTabletSettingsAPI.so.$soversion"
    "$libdir/libPTabletSettingsAPI.so.$version")
else
  expected+=("$bindir/pevra-settings-service.exe" "$bindir/ptsa-cli.exe" "$bindir/PTabletSettingsAPI.dll"
    "$bindir/PTabletSettingsAPI.pdb" "$libdir/PTabletSettingsAPI.dll.a" "$libdir/PTabletSettingsAPI.lib")
fi
check "exactly the ${#expected[@]} files of the package are installed" logged files \
  diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
# The package may be moved or unpacked anywhere.
check "the package files name no folder of this machine" \
  test -z "$(grep -rlF -e "$build" -e "$source" "$prefix/$libdir" --include='*.cmake' --include='*.pc')"

example() { # example NAME EXAMPLE CMAKE-ARG...: configured and built in work/NAME
  logged "$1" "$cmake" -S "$source/examples/$2" -B "$work/$1" -G "$generator" -DCMAKE_MAKE_PROGRAM="$make" \
    -DCMAKE_BUILD_TYPE="$type" "${@:3}" && logged "$1" "$cmake" --build "$work/$1"
}
if [[ $platform == linux ]]; then
  for name in c_host cpp_host; do
    check "$name through find_package" example $name $name -DCMAKE_PREFIX_PATH="$prefix"
  done
  export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
  check "pkg-config --modversion is $version" test "$("$pkgconfig" --modversion PTabletSettingsAPI)" = "$version"
  check "cpp_host through pkg-config in CMake" example cpp_host-pc cpp_host -DUSE_PKG_CONFIG=ON
  mkdir -p "$work/c_host-cc"
  # shellcheck disable=SC2046 # the flags are words
  check "c_host with cc \$(pkg-config --cflags --libs PTabletSettingsAPI)" logged c_host-cc "$cc" -std=c99 -Wall \
    -Werror "$source/examples/c_host/main.c" $("$pkgconfig" --cflags --libs PTabletSettingsAPI) -o "$work/c_host-cc/c_host"
  hosts=(c_host/c_host cpp_host/cpp_host cpp_host-pc/cpp_host c_host-cc/c_host)
  exe= run=(env)
else
  # The toolchain keeps find_package inside Zig's libc: the package's folder is named.
  for name in c_host cpp_host; do
    check "$name through find_package with $(basename "$toolchain")" \
      example $name $name -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DPTabletSettingsAPI_DIR="$prefix/$package"
  done
  [[ -n $emulator ]] || finish
  hosts=(c_host/c_host.exe cpp_host/cpp_host.exe)
  exe=.exe run=("$emulator")
fi

runs() { # runs NAME PROGRAM ARG...: in work/, its output in logs/NAME.log without CRs
  local status=0
  (cd "$work" && "${run[@]}" "${@:2}") >"$work/logs/$1.out" 2>&1 || status=$?
  tr -d '\r' <"$work/logs/$1.out" >"$work/logs/$1.log"
  return $status
}
shows() { # shows NAME LINE...: logs/NAME.log holds each LINE
  local line
  for line in "${@:2}"; do grep -qxF -- "$line" "$work/logs/$1.log" || { cat "$work/logs/$1.log" && return 1; }; done
}

# The service starts from a values file, controlled through a FIFO; each
# host sets the tilt sensitivity and finds the one the host before it left.
cp "$here/service-values.json" "$work/values.json" && mkfifo "$work/control"
(cd "$work" && exec "${run[@]}" "$prefix/$bindir/pevra-settings-service$exe" --values values.json --stdin-control \
  <control >logs/service.log 2>&1) &
service=$!
exec 3>"$work/control"
for _ in $(seq 300); do grep -q '^ready' "$work/logs/service.log" && break || sleep 0.1; done
check "the installed service starts" grep -q '^ready' "$work/logs/service.log"
tilt=3
for host in "${hosts[@]}"; do
  # The plain cc build has no run path: it finds the library through LD_LIBRARY_PATH.
  [[ $host == c_host-cc/* ]] && export LD_LIBRARY_PATH=$prefix/$libdir
  # The C host also prints every value the service reports.
  [[ $host == c_* ]] && found=("tilt sensitivity $tilt") || found=()
  check "$host sets tilt sensitivity $((tilt + 1)) and sees it confirmed${found:+ after $found}" eval 'runs \
    ${host%/*} "$work/$host" $((tilt + 1)) && shows ${host%/*} "${found[@]}" "tilt sensitivity $((tilt + 1)) confirmed"'
  tilt=$((tilt + 1))
done
check "c_host shows the versions of the values file" shows c_host "service 9.8.7-pkgtest, HID router 6.5.4-pkgtest"
unset LD_LIBRARY_PATH
check "the installed ptsa-cli$exe dumps tilt sensitivity $tilt" \
  eval 'runs cli "$prefix/$bindir/ptsa-cli$exe" dump && grep -qE "^Tilt sensitivity +$tilt$" "$work/logs/cli.log"'
echo quit >&3 && exec 3>&-
check "the service quits" wait $service
check "c_host without a service exits 1 and says so" \
  eval 'runs alone "$work/c_host/c_host$exe" 9; [[ $? == 1 ]] && shows alone "the settings service is not running"'
finish
