#!/usr/bin/env bash
# Configures (once) and builds a tree. Usage: scripts/build.sh BUILD_DIR [cmake options...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
# Configuring every time is quick and picks up packages installed since the last run (the
# test command adds GoogleTest to a tree the run command configured).
# A compiler cache, where one is installed, makes rebuilds in several checkouts cheap.
launcher=()
if command -v ccache > /dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$top" -B "$dir" -G Ninja "${launcher[@]}" "$@" > /dev/null
cmake --build "$dir" -j "$(nproc)"
