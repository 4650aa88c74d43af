#!/usr/bin/env bash
# Builds the library for every target and runs every test:
#
#   linux-debug      native Linux, Debug                       ctest
#   linux-sanitize   native Linux, clang-14, ASan + UBSan      ctest
#   windows-x64      Windows x64 (Zig)                         ctest under Wine
#   windows-arm64    Windows on ARM64 (Zig)                    export checks; the
#                    other tests under emulated ARM64 Wine when scripts/arm64-test.sh
#                    exists and this machine can host it
#   nuget            the .NET binding's NuGet package, packed by dotnet pack from
#                    the builds above (those whose suite did not run are built
#                    first) and checked by tests/dotnet/package_test.sh: its
#                    files, and a fresh project that uses it against the
#                    reference service; and tests/dotnet/windows_host.sh: a
#                    self-contained win-x64 host with the package, under Wine
#                    against the Windows reference service
#
# Installs what the named suites need first (scripts/setup.sh, by need);
# without root it only checks that, and says what is missing. Builds go to
# build/<name> (or $PTSA_BUILD_ROOT/<name>). Prints each suite's ctest summary
# and ends with one line "N passed, N failed" over all suites; exits non-zero
# on any failure.
#
#   scripts/test.sh [name...]     only the named suites
set -uo pipefail

. "$(dirname "${BASH_SOURCE[0]}")/env.sh"
root=$PTSA_ROOT
build_root=$PTSA_BUILD_ROOT
all_suites=(linux-debug linux-sanitize windows-x64 windows-arm64 nuget)
if (($#)); then suites=("$@"); else suites=("${all_suites[@]}"); fi

# What each suite needs installed (scripts/setup.sh); the emulated ARM64
# platform belongs to scripts/arm64-setup.sh.
declare -A suite_needs=(
  [linux-debug]="native tests browser dotnet"
  [linux-sanitize]="native tests sanitize browser"
  [windows-x64]="native windows wine browser"
  [windows-arm64]="native windows"
  [nuget]="native windows wine dotnet"
)
needs=()
for suite in "${suites[@]}"; do needs+=(${suite_needs[$suite]:-}); done

passed=0
failed=0
summary=()
built=() # the presets built by this run

now() { date +%s; }
banner() { printf '\n==== %s\n' "$*"; }

# Adds a suite's counts from its ctest output (the line "NN% tests passed,
# F tests failed out of T"); a suite that ran no test counts as one failure.
count_ctest() {
  local name=$1 log=$2 rc=$3 line p f t
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [[ -z $line ]]; then
    failed=$((failed + 1))
    summary+=("$name: no test ran (exit $rc)")
    return
  fi
  f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  t=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
  p=$((t - f))
  # A non-zero exit with nothing failed (a crash of the runner) is a failure.
  if ((rc != 0 && f == 0)); then f=1; fi
  passed=$((passed + p))
  failed=$((failed + f))
  summary+=("$name: $p passed, $f failed")
}

# Adds the counts of a script that ends with the line "N passed, N failed".
count_checks() {
  if [[ $(tail -n 1 "$2") =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    passed=$((passed + BASH_REMATCH[1])) failed=$((failed + BASH_REMATCH[2]))
    summary+=("$1: ${BASH_REMATCH[0]}")
  else
    fail_step "$1: the test ended early (log: $2)"
  fi
}

fail_step() {
  failed=$((failed + 1))
  summary+=("$1")
}

# Configures (when needed) and builds one preset into build_root/<preset>.
build() {
  local preset=$1 dir=$build_root/$1 start
  shift
  start=$(now)
  banner "build $preset -> $dir"
  if ! cmake --preset "$preset" -S "$root" -B "$dir" "$@" >"$dir.configure.log" 2>&1; then
    cat "$dir.configure.log"
    fail_step "$preset: configure failed"
    return 1
  fi
  if ! cmake --build "$dir" >"$dir.build.log" 2>&1; then
    grep -E -A12 '^FAILED:' "$dir.build.log" | head -n 80
    fail_step "$preset: build failed (log: $dir.build.log)"
    return 1
  fi
  echo "built in $(($(now) - start)) s"
  built+=("$preset")
}

# Runs a command that prints a ctest summary, shows the summary and counts.
run_suite() {
  local name=$1 log=$build_root/$1.test.log start rc=0
  shift
  start=$(now)
  banner "test $name"
  "$@" >"$log" 2>&1 || rc=$?
  # The tests that failed, then ctest's closing lines.
  grep -E '\*\*\*' "$log" | head -n 40
  sed -n '/tests passed, /,$p' "$log"
  echo "ran in $(($(now) - start)) s (log: $log)"
  count_ctest "$name" "$log" "$rc"
}

# Under Wine every process is in session 1, so the Windows tests that open
# the session's pipes hold the ctest resource lock pevra_session_pipes.
ctest_in() { ctest --test-dir "$1" -j2 --output-on-failure; }

# Wine: one server for the whole x64 batch (about 0.2 s a program instead
# of 2 s), with Wine's services started away from ctest's output.
wine_up() {
  "$PTSA_WINESERVER" -p </dev/null >/dev/null 2>&1 || true
  WINEDEBUG=-all "$PTSA_WINE" wineboot </dev/null >/dev/null 2>&1 || true
}
wine_down() { "$PTSA_WINESERVER" -k >/dev/null 2>&1 || true; }

start_all=$(now)
if ! "$root/scripts/setup.sh" $(printf '%s\n' "${needs[@]}" native | sort -u); then
  echo "the set-up is incomplete (scripts/setup.sh, above)"
  echo "0 passed, 1 failed"
  exit 1
fi
mkdir -p "$build_root"

# The folders include one way only; the tests' size beside the code's.
banner "layers and test size"
if "$root/scripts/check-layers.py" "$root"; then
  passed=$((passed + 1))
  summary+=("layers: 1 passed")
else
  fail_step "layers: an upward include"
fi
"$root/scripts/test-ratio.py" || true

for suite in "${suites[@]}"; do
  case $suite in
  linux-debug | linux-sanitize)
    build "$suite" && run_suite "$suite" ctest_in "$build_root/$suite"
    ;;
  windows-x64)
    if build windows-x64; then
      trap wine_down EXIT
      wine_up
      run_suite windows-x64 ctest_in "$build_root/windows-x64"
      wine_down
      trap - EXIT
    fi
    ;;
  windows-arm64)
    # The emulated platform belongs to scripts/arm64-*.sh; without it, or
    # on a machine that cannot host it (exit 77), the export checks run.
    emulator=
    if [[ -x $root/scripts/arm64-setup.sh ]]; then
      banner "ARM64 emulation set-up (scripts/arm64-setup.sh)"
      rc=0
      "$root/scripts/arm64-setup.sh" || rc=$?
      case $rc in
      0) [[ -x $root/scripts/arm64-wine.sh ]] && emulator=$root/scripts/arm64-wine.sh ;;
      77) summary+=("windows-arm64: emulation unavailable on this machine; export checks only") ;;
      *) fail_step "windows-arm64: scripts/arm64-setup.sh failed (exit $rc)" ;;
      esac
    fi
    if build windows-arm64 -DCMAKE_CROSSCOMPILING_EMULATOR="$emulator"; then
      if [[ -n $emulator && -x $root/scripts/arm64-test.sh ]]; then
        run_suite windows-arm64 "$root/scripts/arm64-test.sh" "$build_root/windows-arm64" -- -j2
      else
        run_suite windows-arm64 ctest_in "$build_root/windows-arm64"
      fi
    fi
    ;;
  nuget)
    packed=1
    for preset in linux-debug windows-x64 windows-arm64; do
      [[ " ${built[*]} " == *" $preset "* ]] || build "$preset" || packed=0
    done
    if ((packed)) && ! command -v dotnet >/dev/null; then
      fail_step "nuget: the .NET SDK (dotnet) is missing"
    elif ((packed)); then
      banner "NuGet package"
      log=$build_root/nuget.test.log
      if package=$("$root/scripts/nuget-pack.sh" "$build_root/linux-debug/src/libPTabletSettingsAPI.so" \
        "$build_root/windows-x64/bin/PTabletSettingsAPI.dll" "$build_root/windows-arm64/bin/PTabletSettingsAPI.dll" \
        "$build_root/nuget" 2>"$log"); then
        # Its own POSIX session: the reference service's pipes are the session's.
        setsid --wait "$root/tests/dotnet/package_test.sh" "$package" \
          "$build_root/linux-debug/tools/settings-service/pevra-settings-service" 2>&1 | tee -a "$log"
        count_checks nuget "$log"
        # The package on the Windows x64 runtime, under Wine; the runtime
        # packs stay in build/nuget/windows_host between runs.
        banner "NuGet package on the Windows x64 runtime (Wine)"
        log=$build_root/nuget-windows.test.log
        trap wine_down EXIT
        wine_up
        "$root/tests/dotnet/windows_host.sh" "$package" "$build_root/windows-x64/bin" \
          "$build_root/nuget/windows_host" 2>&1 | tee "$log"
        wine_down
        trap - EXIT
        count_checks nuget-windows "$log"
      else
        cat "$log"
        fail_step "nuget: packing failed (log: $log)"
      fi
    fi
    ;;
  *)
    fail_step "unknown suite $suite (known: ${all_suites[*]})"
    ;;
  esac
done

banner "summary ($(($(now) - start_all)) s)"
printf '%s\n' "${summary[@]}"
echo "$passed passed, $failed failed"
((failed == 0))
