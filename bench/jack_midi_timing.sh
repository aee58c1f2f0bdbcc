#!/usr/bin/env bash
# When MIDI sent to a JACK port arrives there: the engine against a reference client that places
# each message at its frame, on a JACK dummy server like the tests' one, at 256 and 1 024 frames
# a period (see bench/jack_midi_timing.cpp).
#   bench/jack_midi_timing.sh BUILD_DIR [NOTES]
set -euo pipefail
build=${1:?build directory}
notes=${2:-4000}
dir=$(mktemp -d /tmp/tonelark-jack-bench.XXXXXX)
pid=""
cleanup() {
  [[ -n "$pid" ]] && { kill "$pid" 2> /dev/null || true; wait "$pid" 2> /dev/null || true; }
  rm -rf "$dir"
}
trap cleanup EXIT
uptime
for period in 256 1024; do
  name="tonelark-bench-$$-$period"
  # As the tests' server: dummy backend, synchronous mode, no real-time scheduling.
  JACK_NO_AUDIO_RESERVATION=1 jackd -S --no-realtime -n "$name" -d dummy -r 44100 -p "$period" \
    > "$dir/jackd-$period.log" 2>&1 &
  pid=$!
  for _ in $(seq 100); do
    (jack_lsp -s "$name") > /dev/null 2>&1 && break
    sleep 0.1
  done
  JACK_DEFAULT_SERVER="$name" "$build/bench/jack_midi_timing_bench" "$notes"
  kill "$pid"; wait "$pid" 2> /dev/null || true; pid=""
done
uptime
