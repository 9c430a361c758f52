# Sourced by the build scripts: builds in any clone share the compiler cache
# (paths are taken relative to the checkout), and every script configures a
# build folder the same way, so that none of them rebuilds another's.
# Sets `launcher` to the CMake arguments that name the cache.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
