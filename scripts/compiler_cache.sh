# Sourced by the build scripts: compile through ccache (installed by
# deps.sh), with paths taken relative to the checkout, so that another
# clone of the same tree on this machine reuses what was compiled before.
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_CXX_COMPILER_LAUNCHER="${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}"
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
  export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
fi
