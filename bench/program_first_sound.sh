#!/usr/bin/env bash
# From the program's start to its first sound: the player on a one-note song against a bare
# libfluidsynth program, on the JACK test server (dummy backend) and a private Xvfb with
# openbox, in alternation.
#   bench/program_first_sound.sh BUILD_DIR [ROUNDS]   (default 11)
set -euo pipefail
build=${1:?build directory}
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/scripts/servers/engine.sh"
source "$top/scripts/servers/x11.sh"
source "$top/scripts/servers/x11wm.sh"
song=$(mktemp /tmp/tonelark-one-note.XXXXXX.mid)
# The settings file sits beside the program; the second pass writes one there (none may be there
# already) that names the SoundFont.
ini=$build/bin/tonelark.ini
wrote_ini=0
cleanup() {
  [[ $wrote_ini == 1 ]] && rm -f "$ini"
  stop_x11wm || true; stop_x11 || true; stop_engine || true; rm -f "$song"
}
trap cleanup EXIT
start_engine
start_x11
start_x11wm
[[ -n "${TONELARK_JACK_SERVER:-}" ]] || { echo "no JACK test server" >&2; exit 1; }
[[ -n "${DISPLAY_FOR_X11_TESTS:-}" ]] || { echo "no Xvfb" >&2; exit 1; }
# Piano, middle C at tick 0, as the reference plays it.
printf 'MThd\0\0\0\6\0\0\0\1\1\340MTrk\0\0\0\20\0\300\0\0\220\74\144\203\140\200\74\0\0\377\57\0' > "$song"
soundfont=$(readlink -f /usr/share/sounds/sf2/default-GM.sf2)
run() {
  env -u PULSE_SERVER JACK_DEFAULT_SERVER="$TONELARK_JACK_SERVER" DISPLAY=$DISPLAY_FOR_X11_TESTS QT_QPA_PLATFORM=xcb \
    "$build/bench/program_first_sound_bench" "${1:-11}" "$build/bench/libfirst_sound_probe.so" "$soundfont" \
    -- "$build/bin/tonelark" "$song" 2> >(grep -v "Instrument not found" >&2)
}
uptime
run "${2:-11}"
if [[ ! -e $ini ]]; then
  printf '[Tonelark]\r\nSoundFont=%s\r\n' "$soundfont" > "$ini"
  wrote_ini=1
  echo "with that SoundFont chosen in the settings:"
  run "${2:-11}"
else
  echo "(no second pass: $ini is there already)"
fi
uptime
