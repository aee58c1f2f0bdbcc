#!/usr/bin/env bash
# Time to first sound of the built-in synthesizer against bare libfluidsynth, the longest audio
# callback during whole songs and the resident memory while one plays, through the JACK
# test server (dummy backend) that scripts/servers/engine.sh starts. PulseAudio is kept out of
# reach (its null sink's 2 s blocks would dominate every figure).
#   bench/engine_first_sound.sh BUILD_DIR [ROUNDS]   (default 11 pairs)
set -euo pipefail
build=${1:?build directory}
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/scripts/servers/engine.sh"
start_engine
trap stop_engine EXIT
[[ -n "${TONELARK_JACK_SERVER:-}" ]] || { echo "no JACK test server" >&2; exit 1; }
run() {
  env -u PULSE_SERVER XDG_RUNTIME_DIR=/nonexistent JACK_DEFAULT_SERVER="$TONELARK_JACK_SERVER" \
    "$build/bench/engine_first_sound_bench" "$@" 2> >(grep -v "Instrument not found" >&2)
}
uptime
run "${2:-11}"
run memory
run memory whole
uptime
