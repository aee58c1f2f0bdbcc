#!/usr/bin/env bash
# Configures (once) and builds a tree. Usage: scripts/build.sh BUILD_DIR [cmake options...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
if [[ ! -f "$dir/build.ninja" ]]; then
  cmake -S "$top" -B "$dir" -G Ninja "$@"
fi
cmake --build "$dir" -j "$(nproc)"
