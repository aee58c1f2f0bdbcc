#!/usr/bin/env bash
# Saves a PNG of every page of the settings dialog:  scripts/screenshot-settings.sh OUT_PREFIX
# (OUT_PREFIX-1.png … OUT_PREFIX-6.png). Starts a private Xvfb with openbox, starts the player
# with default settings, opens the dialog with Alt+C and steps through its pages with
# Ctrl+Tab. Uses build/bin/tonelark unless TONELARK_BIN is set.
set -euo pipefail
if [[ $# -ne 1 ]]; then
  echo "usage: $0 OUT_PREFIX" >&2
  exit 2
fi
top=$(cd "$(dirname "$0")/.." && pwd)
out=$1
bin=${TONELARK_BIN:-$top/build/bin/tonelark}
[[ -x "$bin" ]] || { echo "$0: $bin not built (scripts/build.sh build)" >&2; exit 1; }

source "$top/scripts/servers/x11.sh"
source "$top/scripts/servers/x11wm.sh"
start_x11
start_x11wm
pids=()
work=$(mktemp -d)
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  stop_x11wm
  stop_x11
  rm -rf "$work"
}
trap cleanup EXIT
export DISPLAY=$DISPLAY_FOR_X11_TESTS

# A settings file of its own keeps the user's settings out of the picture.
cp "$bin" "$work/tonelark"
for lib in libdSakura.so libbrisola4.so; do
  [[ -f "$(dirname "$bin")/$lib" ]] && cp -P "$(dirname "$bin")/$lib"* "$work/" 2>/dev/null || true
done
export XDG_CACHE_HOME=$work/cache
QT_QPA_PLATFORM=xcb "$work/tonelark" >"$work/tonelark.log" 2>&1 & pids+=($!)

wait_window() {
  local id=
  for _ in $(seq 1 100); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1 || true)
    [[ -n "$id" ]] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
main=$(wait_window '^Tonelark$') || { echo "$0: the player window did not appear" >&2; cat "$work/tonelark.log" >&2; exit 1; }
xdotool windowactivate --sync "$main"
xdotool key --window "$main" alt+c
dialog=$(wait_window '^設定$') || { echo "$0: the settings dialog did not appear" >&2; exit 1; }
sleep 0.5
for page in 1 2 3 4 5 6; do
  # The description panel shows the page's own text, as after a click on its tab.
  import -window "$dialog" -frame "$out-$page.png"
  echo "$out-$page.png"
  xdotool key --window "$dialog" ctrl+Tab
  sleep 0.4
done
