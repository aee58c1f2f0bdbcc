#!/usr/bin/env bash
# Start to mapped window, by the X server's map event, of the player (on the demo song) against
# a Qt hello world, interleaved, on a private Xvfb with openbox as the tests use.
#   bench/window_map.sh BUILD_DIR [ROUNDS]   (default 15)
set -euo pipefail
build=${1:?build directory}
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/scripts/servers/x11.sh"
source "$top/scripts/servers/x11wm.sh"
config=$(mktemp -d /tmp/tonelark-map-config.XXXXXX)
# The settings file sits beside the program; the second pass writes one there (none may be there
# already) that names a SoundFont and stores a key, tempo and volume for the engine.
ini=$build/bin/tonelark.ini
wrote_ini=0
cleanup() { [[ $wrote_ini == 1 ]] && rm -f "$ini"; stop_x11wm || true; stop_x11 || true; rm -rf "$config"; }
trap cleanup EXIT
start_x11
start_x11wm
[[ -n "${DISPLAY_FOR_X11_TESTS:-}" ]] || { echo "no Xvfb" >&2; exit 1; }
run() {
  DISPLAY=$DISPLAY_FOR_X11_TESTS QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME=$config XDG_CACHE_HOME=$config \
    XDG_STATE_HOME=$config "$build/bench/window_map_bench" "${2:-15}" \
    "$build/bench/qt_hello_bench" -- "$build/bin/tonelark" "$top/examples/sakura.mid"
}
uptime
run "$@"
soundfont=$(readlink -f /usr/share/sounds/sf2/default-GM.sf2 || true)
if [[ ! -e $ini && -f $soundfont ]]; then
  printf '[Tonelark]\r\nSoundFont=%s\r\nKeyShift=2\r\nTempoRatio=90\r\nMasterVolume=80\r\n' "$soundfont" > "$ini"
  wrote_ini=1
  echo "with a SoundFont, key, tempo and volume in the settings:"
  run "$@"
else
  echo "(no second pass: $ini is there already, or no SoundFont)"
fi
uptime
