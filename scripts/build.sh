#!/usr/bin/env bash
# Configures and builds one flavour into its folder: build.sh DIR [cmake args...] [-- targets...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake_args=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do cmake_args+=("$1"); shift; done
[ "${1:-}" = "--" ] && shift
# A compiler cache keyed on paths relative to the checkout, so clones and worktrees share objects.
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$PWD")}
  cmake_args=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache "${cmake_args[@]}")
fi
cmake -S . -B "$dir" -G Ninja "${cmake_args[@]}" >/dev/null
if [ $# -gt 0 ]; then
  cmake --build "$dir" -j "$(nproc)" --target "$@"
else
  cmake --build "$dir" -j "$(nproc)"
fi
