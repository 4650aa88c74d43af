#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12: the Debian packages,
# Zig 0.11.0 for the Windows cross builds (with libunwind's symbols kept out
# of every DLL's export table), the x86_64 Wine prefix, the Boost folder of
# the panel's builds, and puppeteer-core, which drives Debian's Chromium in
# the panel's page tests. Run as root. The .NET SDK is the machine's own:
# set-up only says when dotnet is missing.
# Idempotent: when everything is present it only checks, in about a second.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/env.sh"

say() { echo "setup: $*"; }

mkdir -p "$PTSA_HOME"
# One set-up at a time: test.sh and run.sh may both call this.
exec 9>"$PTSA_HOME/.setup.lock"
flock 9

# ---- Debian packages -------------------------------------------------------
packages=(
  cmake ninja-build g++ clang-14 llvm-14 lld-14 libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libcli11-dev valgrind python3 wine64 pkgconf
  libboost1.81-dev chromium
)
mapfile -t missing < <(
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q ' installed$' || echo "$p"
  done
)
# npm installs Zig. A Node.js that brings its own npm stays as it is.
command -v npm >/dev/null || missing+=(nodejs npm)
if ((${#missing[@]})); then
  say "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# ---- .NET SDK ---------------------------------------------------------------
# The machines come with it; set-up does not install one. Without it the .NET
# binding is not built and the nuget suite fails, so say so here.
if ! command -v dotnet >/dev/null; then
  say "the .NET SDK (dotnet, 8 or later) is missing: the .NET binding and its package are skipped"
fi

# ---- Zig -------------------------------------------------------------------
if [[ ! -x $PTSA_ZIG ]] || [[ $("$PTSA_ZIG" version 2>/dev/null) != "$PTSA_ZIG_VERSION" ]]; then
  say "installing $PTSA_ZIG_PACKAGE@$PTSA_ZIG_VERSION into $PTSA_ZIG_DIR"
  mkdir -p "$PTSA_ZIG_DIR"
  npm install --prefix "$PTSA_ZIG_DIR" --save-exact --no-audit --no-fund --no-update-notifier \
    --loglevel=error "$PTSA_ZIG_PACKAGE@$PTSA_ZIG_VERSION" >/dev/null
fi

# Zig's bundled libunwind exports its symbols from every DLL unless
# _LIBUNWIND_HIDE_SYMBOLS is defined, which Zig's own build never does.
# Define it at the top of the two headers that test it; the runtime cached
# from the unpatched sources is stale then, so the cache is emptied.
zig_lib=$(dirname "$PTSA_ZIG")/lib
marker='/* PTabletSettingsAPI setup: keep libunwind out of DLL export tables. */'
patched=0
for header in "$zig_lib/libunwind/src/config.h" "$zig_lib/libunwind/src/assembly.h"; do
  if [[ $(head -n 1 "$header") != "$marker" ]]; then
    printf '%s\n#ifndef _LIBUNWIND_HIDE_SYMBOLS\n#define _LIBUNWIND_HIDE_SYMBOLS 1\n#endif\n' "$marker" |
      cat - "$header" >"$header.new"
    mv "$header.new" "$header"
    patched=1
  fi
done
if ((patched)); then
  say "patched libunwind in $zig_lib; emptying $ZIG_GLOBAL_CACHE_DIR"
  rm -rf "$ZIG_GLOBAL_CACHE_DIR"
fi
mkdir -p "$ZIG_GLOBAL_CACHE_DIR"

# ---- Wine prefix (x86_64) --------------------------------------------------
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  say "creating the Wine prefix $WINEPREFIX"
  WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= "$PTSA_WINE" wineboot --init </dev/null >/dev/null 2>&1 9>&-
  "$PTSA_WINESERVER" -w
fi

# ---- Boost for the panel ---------------------------------------------------
# A folder holding only a link to Debian's headers: a Zig build must see
# boost/ without the rest of the host's /usr/include.
if [[ $(readlink "$PTSA_BOOST_DIR/boost" 2>/dev/null) != /usr/include/boost ]]; then
  say "linking $PTSA_BOOST_DIR/boost to /usr/include/boost"
  mkdir -p "$PTSA_BOOST_DIR"
  ln -sfn /usr/include/boost "$PTSA_BOOST_DIR/boost"
fi

# ---- puppeteer-core (the panel's page tests) -------------------------------
if [[ ! -f $PTSA_NODE_DIR/node_modules/puppeteer-core/package.json ]]; then
  say "installing puppeteer-core@$PTSA_PUPPETEER_VERSION into $PTSA_NODE_DIR"
  mkdir -p "$PTSA_NODE_DIR"
  npm install --prefix "$PTSA_NODE_DIR" --save-exact --no-audit --no-fund --no-update-notifier \
    --loglevel=error "puppeteer-core@$PTSA_PUPPETEER_VERSION" >/dev/null
fi
