#!/usr/bin/env bash
# Saves a PNG of the player window playing FILE:  scripts/screenshot.sh FILE OUT.png
# Starts a private Xvfb (and a compositor, so translucency shows), starts the player on
# FILE, waits until the window is mapped and the time display has moved, then grabs the
# window with ImageMagick's import. Uses build/bin/tonelark unless TONELARK_BIN is set;
# TONELARK_INI names a settings file to start with (e.g. one with ShowInfo=1), otherwise
# the defaults apply. SCREENSHOT_DELAY is the playing time before the grab (3 s).
# To picture a dialog: SCREENSHOT_KEYS are keys typed into the window after the delay
# (xdotool names, e.g. "alt+s"), and SCREENSHOT_WINDOW the title of the window then grabbed.
# Windows are managed by openbox when it is installed, as on a desktop.
set -euo pipefail
if [[ $# -ne 2 ]]; then
  echo "usage: $0 FILE OUT.png" >&2
  exit 2
fi
top=$(cd "$(dirname "$0")/.." && pwd)
song=$(realpath "$1")
out=$2
bin=${TONELARK_BIN:-$top/build/bin/tonelark}
[[ -x "$bin" ]] || { echo "$0: $bin not built (scripts/build.sh build)" >&2; exit 1; }
[[ -f "$song" ]] || { echo "$0: no such file: $1" >&2; exit 1; }

source "$top/scripts/servers/x11.sh"
source "$top/scripts/servers/x11wm.sh"
start_x11
start_x11wm
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  stop_x11wm
  stop_x11
}
trap cleanup EXIT
export DISPLAY=$DISPLAY_FOR_X11_TESTS

if command -v xcompmgr >/dev/null; then
  xcompmgr >/dev/null 2>&1 & pids+=($!)
fi

# A settings file of its own keeps the user's settings out of the picture.
work=$(mktemp -d)
cp "$bin" "$work/tonelark"
# The MML compiler is looked for next to the program first.
if [[ -f "$(dirname "$bin")/libdSakura.so" ]]; then
  cp "$(dirname "$bin")/libdSakura.so" "$work/"
fi
if [[ -n "${TONELARK_INI:-}" ]]; then
  cp "$TONELARK_INI" "$work/tonelark.ini"
fi
export XDG_CACHE_HOME=$work/cache
# The queue and recent files of a run of its own, not the user's.
export XDG_STATE_HOME=$work/state XDG_DATA_HOME=$work/data
QT_QPA_PLATFORM=xcb "$work/tonelark" "$song" >"$work/tonelark.log" 2>&1 & pids+=($!)

window=
for _ in $(seq 1 100); do
  window=$(xdotool search --onlyvisible --name ' - Tonelark$' 2>/dev/null | head -n1 || true)
  [[ -n "$window" ]] && break
  sleep 0.1
done
if [[ -z "$window" ]]; then
  echo "$0: the player window did not appear" >&2
  cat "$work/tonelark.log" >&2
  exit 1
fi
# Let the song play a little, so the seek bar and the time have moved.
sleep "${SCREENSHOT_DELAY:-3}"
if [[ -n "${SCREENSHOT_KEYS:-}" ]]; then
  xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
  # shellcheck disable=SC2086 # a list of keys
  xdotool key --delay 100 $SCREENSHOT_KEYS
fi
if [[ -n "${SCREENSHOT_WINDOW:-}" ]]; then
  window=
  for _ in $(seq 1 100); do
    window=$(xdotool search --onlyvisible --name "^${SCREENSHOT_WINDOW}\$" 2>/dev/null | head -n1 || true)
    [[ -n "$window" ]] && break
    sleep 0.1
  done
  [[ -n "$window" ]] || { echo "$0: no window \"$SCREENSHOT_WINDOW\" appeared" >&2; exit 1; }
  sleep 0.5 # let it paint
fi
import -window "$window" "$out"
rm -rf "$work"
echo "$out"
