#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tonelark on FILE (or on the demo song).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
scripts/setup.sh
scripts/build.sh build
song=${1:-$top/examples/sakura.mid}
exec build/bin/tonelark "$song"
