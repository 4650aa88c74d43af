#!/usr/bin/env bash
# Installs a build tree into a prefix of its own and uses the package as a
# host's developer does: checks the installed files, finds the package with
# CMake (and natively with pkg-config), builds examples/c_host and
# examples/cpp_host against it and, given a way to run them, runs them
# against the installed reference service.
#
#   package_test.sh --platform linux|windows --source DIR --build DIR --work DIR
#                   --cmake CMAKE --make-program MAKE --generator GEN
#                   --build-type TYPE --version X.Y.Z --soversion N
#                   --bindir D --libdir D --includedir D
#     linux:   --cc CC --cxx CXX --pkg-config PKGCONF --readelf READELF
#              (run it in a POSIX session of its own: setsid --wait)
#     windows: --toolchain FILE [--emulator RUNNER]   (no runner: build only)
#
# Prints one "ok"/"FAIL" line per check and exits 1 if any failed.
set -uo pipefail

emulator= soversion=
cc= cxx= pkg_config= readelf= toolchain=
while (($#)); do
  case $1 in
  --platform) platform=$2 ;;
  --source) source_dir=$2 ;;
  --build) build_dir=$2 ;;
  --work) work=$2 ;;
  --cmake) cmake=$2 ;;
  --make-program) make_program=$2 ;;
  --generator) generator=$2 ;;
  --build-type) build_type=$2 ;;
  --version) version=$2 ;;
  --soversion) soversion=$2 ;;
  --bindir) bindir=$2 ;;
  --libdir) libdir=$2 ;;
  --includedir) includedir=$2 ;;
  --cc) cc=$2 ;;
  --cxx) cxx=$2 ;;
  --pkg-config) pkg_config=$2 ;;
  --readelf) readelf=$2 ;;
  --toolchain) toolchain=$2 ;;
  --emulator) emulator=$2 ;;
  *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
  shift 2
done
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

failures=0
check() { # check TEXT COMMAND...: one line for the outcome of COMMAND, and its status
  local text=$1
  shift
  if "$@"; then
    echo "ok   $text"
    return 0
  fi
  echo "FAIL $text"
  failures=$((failures + 1))
  return 1
}
finish() {
  ((failures)) && echo "$failures check(s) failed" || echo "all checks passed"
  exit $((failures ? 1 : 0))
}
# logged NAME COMMAND...: runs COMMAND into logs/NAME.log, shown on failure.
logged() {
  local name=$1
  shift
  if "$@" >"$work/logs/$name.log" 2>&1; then return 0; fi
  echo "---- $name failed: $*"
  tail -n 40 "$work/logs/$name.log"
  return 1
}
same_path() { [[ $(realpath -m "$1") == $(realpath -m "$2") ]]; }

rm -rf "$work"
mkdir -p "$work/logs"
prefix=$work/prefix
package_dir=$prefix/$libdir/cmake/PTabletSettingsAPI

# ---- install -----------------------------------------------------------------
check "cmake --install into $prefix" logged install "$cmake" --install "$build_dir" --prefix "$prefix" || finish

config=$(tr '[:upper:]' '[:lower:]' <<<"$build_type")
expected=(
  "$includedir/PTabletSettingsAPI.h"
  "$libdir/cmake/PTabletSettingsAPI/PTabletSettingsAPIConfig.cmake"
  "$libdir/cmake/PTabletSettingsAPI/PTabletSettingsAPIConfigVersion.cmake"
  "$libdir/cmake/PTabletSettingsAPI/PTabletSettingsAPITargets.cmake"
  "$libdir/cmake/PTabletSettingsAPI/PTabletSettingsAPITargets-$config.cmake"
)
if [[ $platform == linux ]]; then
  expected+=(
    "$bindir/pevra-settings-service" "$bindir/ptsa-cli"
    "$libdir/libPTabletSettingsAPI.so" "$libdir/libPTabletSettingsAPI.so.$soversion"
    "$libdir/libPTabletSettingsAPI.so.$version" "$libdir/pkgconfig/PTabletSettingsAPI.pc"
  )
else
  expected+=(
    "$bindir/pevra-settings-service.exe" "$bindir/ptsa-cli.exe"
    "$bindir/PTabletSettingsAPI.dll" "$bindir/PTabletSettingsAPI.pdb"
    "$libdir/PTabletSettingsAPI.dll.a" "$libdir/PTabletSettingsAPI.lib"
  )
fi
installed=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
missing=$(comm -13 <(echo "$installed") <(echo "$wanted") | paste -sd ' ')
extra=$(comm -23 <(echo "$installed") <(echo "$wanted") | paste -sd ' ')
check "all ${#expected[@]} files installed${missing:+; missing: $missing}" test -z "$missing"
check "nothing else installed (no tests, no internal library)${extra:+; also: $extra}" test -z "$extra"

# The package's own files name no folder of this machine and nothing internal.
package_files=("$package_dir"/*.cmake)
[[ $platform == linux ]] && package_files+=("$prefix/$libdir/pkgconfig/PTabletSettingsAPI.pc")
leaks=$(grep -lF -e "$build_dir" -e "$source_dir" "${package_files[@]}" | paste -sd ' ')
check "no absolute build or source path in the package files${leaks:+: $leaks}" test -z "$leaks"
internals=$(grep -ohE 'ptsa_objects|ptsa_static|PTABLETSETTINGSAPI_BUILD|Threads::Threads' "${package_files[@]}" |
  sort -u | paste -sd ' ')
check "the export names no internal target or definition${internals:+: $internals}" test -z "$internals"

if [[ $platform == linux ]]; then
  library=$prefix/$libdir/libPTabletSettingsAPI.so
  check "libPTabletSettingsAPI.so -> .so.$soversion -> .so.$version" \
    test "$(readlink "$library")" = "libPTabletSettingsAPI.so.$soversion" -a \
    "$(readlink "$library.$soversion")" = "libPTabletSettingsAPI.so.$version" -a -f "$library.$version" -a \
    ! -L "$library.$version"
  soname=$("$readelf" -d "$library.$version" | sed -n 's/.*Library soname: \[\(.*\)\].*/\1/p')
  check "SONAME $soname" test "$soname" = "libPTabletSettingsAPI.so.$soversion"
  runpath=$("$readelf" -d "$prefix/$bindir/ptsa-cli" | sed -n 's/.*R\(UN\)\{0,1\}PATH.*\[\(.*\)\].*/\2/p')
  check "installed ptsa-cli finds the library relative to itself (RUNPATH $runpath)" \
    test "$runpath" = "\$ORIGIN/$(realpath -m --relative-to="/$bindir" "/$libdir")"
  check "installed ptsa-cli starts" logged cli-help env -u LD_LIBRARY_PATH "$prefix/$bindir/ptsa-cli" --help
fi

# ---- the CMake package as a host's project finds it ----------------------------
# probe NAME ARG...: configures tests/package/probe; its "probe K=V" lines
# are left in logs/probe-NAME.log.
probe() {
  local name=$1
  shift
  "$cmake" -S "$here/probe" -B "$work/probe-$name" -G "$generator" -DCMAKE_MAKE_PROGRAM="$make_program" \
    -DCMAKE_PREFIX_PATH="$prefix" "$@" >"$work/logs/probe-$name.log" 2>&1
}
probed() { sed -n "s/^-- probe $2=//p" "$work/logs/probe-$1.log"; }

if check "find_package(PTabletSettingsAPI CONFIG)" probe plain; then
  check "package version $(probed plain VERSION)" test "$(probed plain VERSION)" = "$version"
  check "imported target is a shared library" test "$(probed plain TYPE)" = SHARED_LIBRARY
  check "include directory $(probed plain INTERFACE_INCLUDE_DIRECTORIES)" \
    same_path "$(probed plain INTERFACE_INCLUDE_DIRECTORIES)" "$prefix/$includedir"
  for property in INTERFACE_COMPILE_DEFINITIONS INTERFACE_COMPILE_OPTIONS INTERFACE_LINK_LIBRARIES; do
    check "a host needs no $property (got: $(probed plain $property))" \
      test "$(probed plain $property)" = "value-NOTFOUND"
  done
  check "configuration $(probed plain IMPORTED_CONFIGURATIONS)" \
    test "$(probed plain IMPORTED_CONFIGURATIONS)" = "${build_type^^}"
  if [[ $platform == linux ]]; then
    check "IMPORTED_LOCATION $(probed plain IMPORTED_LOCATION)" \
      same_path "$(probed plain IMPORTED_LOCATION)" "$library.$version"
    check "IMPORTED_SONAME $(probed plain IMPORTED_SONAME)" \
      test "$(probed plain IMPORTED_SONAME)" = "libPTabletSettingsAPI.so.$soversion"
  else
    check "IMPORTED_LOCATION is the DLL: $(probed plain IMPORTED_LOCATION)" \
      same_path "$(probed plain IMPORTED_LOCATION)" "$prefix/$bindir/PTabletSettingsAPI.dll"
    check "IMPORTED_IMPLIB for a GNU-style host: $(probed plain IMPORTED_IMPLIB)" \
      same_path "$(probed plain IMPORTED_IMPLIB)" "$prefix/$libdir/PTabletSettingsAPI.dll.a"
    check "find_package for an MSVC-ABI host" probe msvc -DPROBE_MSVC_ABI=ON
    check "IMPORTED_IMPLIB for an MSVC-ABI host: $(probed msvc IMPORTED_IMPLIB)" \
      same_path "$(probed msvc IMPORTED_IMPLIB)" "$prefix/$libdir/PTabletSettingsAPI.lib"
  fi
fi

# Which requested versions the package accepts: while the major version is
# 0 only the same minor version, from 1.0 any later one of the same major.
IFS=. read -r major minor _ <<<"$version"
accepted=("$major.$minor" "$version" "$major.$minor...<$major.$((minor + 1))")
refused=("$major.$((minor + 1))" "$((major + 1)).0")
if ((minor > 0)); then
  if ((major == 0)); then refused+=("$major.$((minor - 1))"); else accepted+=("$major.$((minor - 1))"); fi
fi
for request in "${accepted[@]}"; do
  check "find_package(PTabletSettingsAPI $request) accepts $version" probe "accept-$request" -DPROBE_REQUEST="$request"
done
# refuses REQUEST: find_package fails, and for the version, not another reason.
refuses() {
  ! probe "refuse-$1" -DPROBE_REQUEST="$1" &&
    grep -q "compatible with requested version" "$work/logs/probe-refuse-$1.log"
}
for request in "${refused[@]}"; do
  check "find_package(PTabletSettingsAPI $request) refuses $version" refuses "$request"
done

# ---- the examples, built against the package ---------------------------------
# build_example NAME SOURCE ARG...: configures and builds into NAME.
build_example() {
  local name=$1 example=$2
  shift 2
  logged "$name-configure" "$cmake" -S "$source_dir/examples/$example" -B "$work/$name" -G "$generator" \
    -DCMAKE_MAKE_PROGRAM="$make_program" -DCMAKE_BUILD_TYPE="$build_type" "$@" &&
    logged "$name-build" "$cmake" --build "$work/$name"
}

if [[ $platform == linux ]]; then
  export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
  check "pkg-config --modversion: $("$pkg_config" --modversion PTabletSettingsAPI 2>&1)" \
    test "$("$pkg_config" --modversion PTabletSettingsAPI 2>/dev/null)" = "$version"
  flags=$("$pkg_config" --cflags --libs PTabletSettingsAPI)
  mkdir -p "$work/c_host-pkg-config"
  # shellcheck disable=SC2086 # the flags are words
  check "c_host with cc \$(pkg-config --cflags --libs PTabletSettingsAPI)" logged c_host-pkg-config \
    "$cc" -std=c99 -Wall -Wextra -Werror "$source_dir/examples/c_host/main.c" $flags -pthread \
    -o "$work/c_host-pkg-config/c_host"
  check "c_host through find_package" \
    build_example c_host c_host -DCMAKE_C_COMPILER="$cc" -DCMAKE_PREFIX_PATH="$prefix"
  check "cpp_host through find_package" \
    build_example cpp_host cpp_host -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$prefix"
  check "cpp_host through pkg-config in CMake" \
    build_example cpp_host-pkg-config cpp_host -DCMAKE_CXX_COMPILER="$cxx" -DUSE_PKG_CONFIG=ON
else
  # The toolchain keeps find_package inside Zig's libc, so the package's
  # folder is given directly.
  for example in c_host cpp_host; do
    if check "$example through find_package with $(basename "$toolchain")" \
      build_example "$example" "$example" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DPTabletSettingsAPI_DIR="$package_dir"; then
      if [[ $generator == Ninja ]]; then
        link=$("$make_program" -C "$work/$example" -t commands "$example.exe" | tail -n 1)
        check "$example links PTabletSettingsAPI.dll.a" grep -q "$prefix/$libdir/PTabletSettingsAPI.dll.a" <<<"$link"
      fi
      check "$example has the installed DLL beside it" \
        cmp -s "$work/$example/PTabletSettingsAPI.dll" "$prefix/$bindir/PTabletSettingsAPI.dll"
    fi
  done
fi

# ---- the examples, run against the installed service ------------------------
if [[ $platform == windows && -z $emulator ]]; then
  finish
fi
run=()
exe=
[[ $platform == windows ]] && run=("$emulator") && exe=.exe
service=$prefix/$bindir/pevra-settings-service$exe
service_pid=
service_control=

start_service() {
  cp "$here/service-values.json" "$work/values.json"
  mkfifo "$work/service.control"
  (cd "$work" && exec "${run[@]}" "$service" --values values.json --stdin-control \
    <service.control >service.out 2>service.err) &
  service_pid=$!
  exec {service_control}>"$work/service.control"
  local waited=0
  until grep -q '^ready' "$work/service.out" 2>/dev/null; do
    if ! kill -0 "$service_pid" 2>/dev/null || ((waited >= 600)); then
      cat "$work/service.err"
      return 1
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
}
stop_service() {
  [[ -n $service_pid ]] || return 0
  (trap '' PIPE; echo quit >&"$service_control") 2>/dev/null
  exec {service_control}>&-
  local waited=0
  while kill -0 "$service_pid" 2>/dev/null && ((waited < 200)); do
    sleep 0.1
    waited=$((waited + 1))
  done
  kill "$service_pid" 2>/dev/null
  wait "$service_pid"
  local status=$?
  service_pid=
  return "$status"
}
trap stop_service EXIT

# run_host NAME PROGRAM TILT: runs an example, which sets TILT; its output
# (without Windows' CRs) is left in logs/NAME.out.
run_host() {
  local status=0
  (cd "$work" && "${run[@]}" "$2" "$3") >"$work/logs/$1.out" 2>&1 || status=$?
  tr -d '\r' <"$work/logs/$1.out" >"$work/logs/$1.txt"
  return "$status"
}
# shows NAME LINE...: the output of NAME holds these lines, in this order.
shows() {
  local name=$1
  shift
  printf '%s\n' "$@" >"$work/logs/$name.expected"
  awk 'BEGIN { i = 0 } NR == FNR { wanted[n++] = $0; next } i < n && $0 == wanted[i] { i++ } END { exit(i < n) }' \
    "$work/logs/$name.expected" "$work/logs/$name.txt" && return 0
  sed 's/^/     | /' "$work/logs/$name.txt"
  return 1
}

if check "installed pevra-settings-service$exe starts" start_service; then
  # Each host changes the tilt sensitivity; the next one is told the value
  # the one before left in the service.
  versions="service 9.8.7-pkgtest, HID router 6.5.4-pkgtest"
  hosts=()
  if [[ $platform == linux ]]; then
    hosts=("c_host $work/c_host/c_host" "cpp_host $work/cpp_host/cpp_host"
      "c_host-pkg-config $work/c_host-pkg-config/c_host" "cpp_host-pkg-config $work/cpp_host-pkg-config/cpp_host")
  else
    hosts=("c_host $work/c_host/c_host.exe" "cpp_host $work/cpp_host/cpp_host.exe")
  fi
  tilt=3
  for host in "${hosts[@]}"; do
    read -r name program <<<"$host"
    new=$((tilt + 1))
    # The plain cc build has no run path: it finds the library as such
    # programs do, through LD_LIBRARY_PATH.
    if [[ $name == c_host-pkg-config ]]; then export LD_LIBRARY_PATH=$prefix/$libdir; else unset LD_LIBRARY_PATH; fi
    check "$name exits 0 after setting tilt sensitivity $new" run_host "$name" "$program" "$new"
    if [[ $name == c_host* ]]; then
      check "$name shows the service's versions, then tilt $tilt from the service, then $new confirmed" \
        shows "$name" "$versions" "tilt sensitivity $tilt" "tilt sensitivity $new" "tilt sensitivity $new confirmed"
    else
      check "$name shows tilt sensitivity $new confirmed" shows "$name" "tilt sensitivity $new confirmed"
    fi
    tilt=$new
  done
  check "installed ptsa-cli$exe dump: the service holds tilt sensitivity $tilt" \
    eval 'run_host cli-dump "$prefix/$bindir/ptsa-cli$exe" dump &&
      grep -qE "^Tilt sensitivity +$tilt\$" "$work/logs/cli-dump.txt"'
  check "the service quits" stop_service
  trap - EXIT
fi

check "c_host without a service exits 1" eval 'run_host c_host-alone "$work/c_host/c_host$exe" 9; test $? -eq 1'
check "c_host without a service says so" shows c_host-alone "the settings service is not running"
finish
