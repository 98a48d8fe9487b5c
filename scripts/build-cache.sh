# Sourced by the scripts that build: one compiler cache (ccache, which CMake uses when it is
# installed) for every build tree under build/, keyed by paths relative to the checkout, so that
# trees at the same depth that differ only in a few files (the built-in keys) compile the rest once.
export CCACHE_DIR="$PWD/build/ccache" CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=4G
