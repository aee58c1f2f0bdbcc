#!/usr/bin/env bash
# The karaoke window's benchmark on a private 1920x1080 Xvfb under openbox:
#   bench/stage_bench.sh BUILD_DIR [SONG] [seconds]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
song=${2:-$top/examples/sakura.mid}
seconds=${3:-20}
source "$top/scripts/servers/x11.sh"
source "$top/scripts/servers/x11wm.sh"
X11_SCREEN=1920x1080x24 start_x11
start_x11wm
trap 'stop_x11wm; stop_x11' EXIT
DISPLAY=$DISPLAY_FOR_X11_TESTS QT_QPA_PLATFORM=xcb "$build/bench/stage_bench" "$song" "$seconds"
