#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tonelark on FILE (or on the demo song).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# A relative FILE is relative to where the command was given, not to the project folder.
song=$(realpath -m -- "${1:-$top/examples/sakura.mid}")
cd "$top"
scripts/setup.sh
scripts/build.sh build
exec build/bin/tonelark "$song"
