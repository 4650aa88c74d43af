#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12, by need:
#
#   native    the Linux builds: the library, the tools, the demo host and the
#             native tests' frameworks (scripts/run.sh needs only this)
#   tests     what the native suites use beyond that (valgrind, and Boost
#             for the panel, seen through a folder of its own)
#   sanitize  clang-14 and its sanitizer runtimes (linux-sanitize, fuzzing)
#   windows   the Windows cross builds: LLVM's tools, Zig 0.11.0 (with
#             libunwind's symbols kept out of every DLL's export table) and
#             the Boost folder for the panel
#   wine      Wine x86_64 and its prefix (the Windows x64 suite)
#   browser   Chromium and puppeteer-core (the panel's page tests)
#   dotnet    the .NET SDK (the binding, its tests and package): the
#             machine's own, never installed here; set-up only says when
#             dotnet is missing, and the binding is then skipped
#
#   scripts/setup.sh [need...]     (default: every need)
#
# It checks first: when everything is present it installs nothing, needs no
# root and takes a fraction of a second. When something is missing, root
# installs it (one set-up at a time, under PTSA_SETUP_LOCK); anyone else is
# told what is missing and the command that installs it, and the exit code
# is 1.
set -euo pipefail

. "$(dirname "${BASH_SOURCE[0]}")/env.sh"

say() { echo "setup: $*" >&2; }
all_needs=(native tests sanitize windows wine browser dotnet)

# ---- What each need installs --------------------------------------------
# Debian packages, one list per need (a package may stand in several).
packages_native=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev nlohmann-json3-dev libcli11-dev python3 pkgconf)
packages_tests=(valgrind libbenchmark-dev libboost1.81-dev)
packages_sanitize=(clang-14 llvm-14 lld-14 libclang-rt-14-dev)
packages_windows=(llvm-14 libboost1.81-dev)
packages_wine=(wine64)
packages_browser=(chromium)
packages_dotnet=(unzip)

# Besides packages, each need may have things of its own: missing_<need>
# prints one line per missing thing, install_<need> installs them.

# npm installs Zig and puppeteer-core. A Node.js that brings its own npm
# stays as it is.
missing_npm() { command -v npm >/dev/null || echo "npm (Debian's nodejs and npm)"; }

# Boost is header-only; every build sees it through a folder that holds
# only a link named boost, since a Zig build must not see the rest of the
# host's /usr/include.
missing_boost_folder() {
  [[ $(readlink "$PTSA_BOOST_DIR/boost" 2>/dev/null) == /usr/include/boost ]] ||
    echo "the folder $PTSA_BOOST_DIR that shows Boost to the panel's builds"
}
install_boost_folder() {
  [[ -z $(missing_boost_folder) ]] && return
  say "linking $PTSA_BOOST_DIR/boost to /usr/include/boost"
  mkdir -p "$PTSA_BOOST_DIR"
  ln -sfn /usr/include/boost "$PTSA_BOOST_DIR/boost"
}
missing_tests() { missing_boost_folder; }
install_tests() { install_boost_folder; }

missing_windows() {
  missing_npm
  missing_boost_folder
  if [[ ! -x $PTSA_ZIG ]] || [[ $("$PTSA_ZIG" version 2>/dev/null) != "$PTSA_ZIG_VERSION" ]]; then
    echo "Zig $PTSA_ZIG_VERSION in $PTSA_ZIG_DIR"
  elif ! libunwind_patched; then
    echo "Zig's libunwind patched to keep its symbols out of DLL export tables"
  fi
}

# Zig's bundled libunwind exports its symbols from every DLL unless
# _LIBUNWIND_HIDE_SYMBOLS is defined, which Zig's own build never does.
# Define it at the top of the two headers that test it; the runtime cached
# from the unpatched sources is stale then, so the cache is emptied.
libunwind_marker='/* PTabletSettingsAPI setup: keep libunwind out of DLL export tables. */'
libunwind_headers() {
  local lib
  lib=$(dirname "$PTSA_ZIG")/lib
  echo "$lib/libunwind/src/config.h" "$lib/libunwind/src/assembly.h"
}
libunwind_patched() {
  local header
  for header in $(libunwind_headers); do
    [[ $(head -n 1 "$header" 2>/dev/null) == "$libunwind_marker" ]] || return 1
  done
}

install_windows() {
  if [[ ! -x $PTSA_ZIG ]] || [[ $("$PTSA_ZIG" version 2>/dev/null) != "$PTSA_ZIG_VERSION" ]]; then
    say "installing $PTSA_ZIG_PACKAGE@$PTSA_ZIG_VERSION into $PTSA_ZIG_DIR"
    mkdir -p "$PTSA_ZIG_DIR"
    npm install --prefix "$PTSA_ZIG_DIR" --save-exact --no-audit --no-fund --no-update-notifier \
      --loglevel=error "$PTSA_ZIG_PACKAGE@$PTSA_ZIG_VERSION" >/dev/null
  fi
  local header patched=0
  for header in $(libunwind_headers); do
    if [[ $(head -n 1 "$header") != "$libunwind_marker" ]]; then
      printf '%s\n#ifndef _LIBUNWIND_HIDE_SYMBOLS\n#define _LIBUNWIND_HIDE_SYMBOLS 1\n#endif\n' "$libunwind_marker" |
        cat - "$header" >"$header.new"
      mv "$header.new" "$header"
      patched=1
    fi
  done
  if ((patched)); then
    say "patched libunwind beside $PTSA_ZIG; emptying $ZIG_GLOBAL_CACHE_DIR"
    rm -rf "$ZIG_GLOBAL_CACHE_DIR"
  fi
  mkdir -p "$ZIG_GLOBAL_CACHE_DIR"
  install_boost_folder
}

missing_wine() { [[ -f $WINEPREFIX/system.reg ]] || echo "the Wine prefix $WINEPREFIX"; }
install_wine() {
  [[ -f $WINEPREFIX/system.reg ]] && return
  say "creating the Wine prefix $WINEPREFIX"
  WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= "$PTSA_WINE" wineboot --init </dev/null >/dev/null 2>&1 9>&-
  "$PTSA_WINESERVER" -w
}

missing_browser() {
  missing_npm
  [[ -f $PTSA_NODE_DIR/node_modules/puppeteer-core/package.json ]] ||
    echo "puppeteer-core@$PTSA_PUPPETEER_VERSION in $PTSA_NODE_DIR"
}
install_browser() {
  [[ -f $PTSA_NODE_DIR/node_modules/puppeteer-core/package.json ]] && return
  say "installing puppeteer-core@$PTSA_PUPPETEER_VERSION into $PTSA_NODE_DIR"
  mkdir -p "$PTSA_NODE_DIR"
  npm install --prefix "$PTSA_NODE_DIR" --save-exact --no-audit --no-fund --no-update-notifier \
    --loglevel=error "puppeteer-core@$PTSA_PUPPETEER_VERSION" >/dev/null
}

# ---- Check, then install what is missing ----------------------------------
needs=("$@")
((${#needs[@]})) || needs=("${all_needs[@]}")
for need in "${needs[@]}"; do
  [[ " ${all_needs[*]} " == *" $need "* ]] || { say "unknown need $need (known: ${all_needs[*]})"; exit 2; }
done

# Prints the missing packages of the needs (one dpkg query for them all).
missing_packages() {
  local need list=()
  for need in "${needs[@]}"; do
    declare -n wanted="packages_$need"
    list+=("${wanted[@]}")
  done
  mapfile -t list < <(printf '%s\n' "${list[@]}" | sort -u)
  # dpkg-query names every installed package it knows; the rest are missing.
  comm -23 <(printf '%s\n' "${list[@]}") \
    <(dpkg-query -W -f='${Package} ${Status}\n' "${list[@]}" 2>/dev/null | awk '/ installed$/ {print $1}' | sort -u)
}
missing_things() {
  local need
  for need in "${needs[@]}"; do
    declare -F "missing_$need" >/dev/null && "missing_$need"
  done | sort -u
}

# The .NET SDK comes with the machine or not at all: no need fails for it.
if [[ " ${needs[*]} " == *" dotnet "* ]] && ! command -v dotnet >/dev/null; then
  say "the .NET SDK (dotnet, 8 or later) is missing and set-up does not install it: the .NET binding, its tests and its package are skipped"
fi

mapfile -t packages < <(missing_packages)
mapfile -t things < <(missing_things)
((${#packages[@]} + ${#things[@]})) || exit 0

if [[ $(id -u) != 0 ]]; then
  say "missing for ${needs[*]}:"
  ((${#packages[@]})) && say "  Debian packages: ${packages[*]}"
  for thing in "${things[@]}"; do say "  $thing"; done
  say "install them as root: scripts/setup.sh ${needs[*]}"
  exit 1
fi

mkdir -p "$PTSA_HOME"
exec 9>"$PTSA_SETUP_LOCK"
flock 9
# Another set-up may have installed some of it while this one waited.
mapfile -t packages < <(missing_packages)
# npm for the needs that install through it.
if [[ " ${needs[*]} " == *" windows "* || " ${needs[*]} " == *" browser "* ]] && ! command -v npm >/dev/null; then
  packages+=(nodejs npm)
fi
if ((${#packages[@]})); then
  say "installing ${packages[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
fi
for need in "${needs[@]}"; do
  if declare -F "install_$need" >/dev/null; then "install_$need"; fi
done
