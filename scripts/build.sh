#!/usr/bin/env bash
# Configures (once) and builds a tree. Usage: scripts/build.sh BUILD_DIR [cmake options...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
# Configuring every time is quick and picks up packages installed since the last run (the
# test command adds GoogleTest to a tree the run command configured).
cmake -S "$top" -B "$dir" -G Ninja "$@" > /dev/null
cmake --build "$dir" -j "$(nproc)"
