#!/usr/bin/env bash
# Offline render speed: tonelark-render against the fluidsynth command line on one generated
# dense 3-minute song, same SoundFont and rate, measured in one run.
#   bench/render_speed.sh BUILD_DIR
set -euo pipefail
build=${1:?build directory}
sf2=/usr/share/sounds/sf2/default-GM.sf2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work/dense.mid" <<'PY'
import struct, sys
def vl(n):
    b = [n & 0x7F]; n >>= 7
    while n: b.append(0x80 | (n & 0x7F)); n >>= 7
    return bytes(reversed(b))
tracks = []
for ch in range(8):  # eight channels of sixteenth notes with chords, 120 bpm, 180 s
    ev = [(0, bytes([0xC0 | ch, ch * 8])), (0, bytes([0xB0 | ch, 7, 100]))]
    for step in range(180 * 8):
        t = step * 60
        for k in range(3):
            n = 40 + ch * 5 + (step * 7 + k * 4) % 24
            ev += [(t, bytes([0x90 | ch, n, 90])), (t + 55, bytes([0x80 | ch, n, 0]))]
    ev.sort(key=lambda e: e[0]); body = b''; last = 0
    for t, b in ev: body += vl(t - last) + b; last = t
    body += b'\x00\xff\x2f\x00'
    tracks.append(b'MTrk' + struct.pack('>I', len(body)) + body)
open(sys.argv[1], 'wb').write(b'MThd' + struct.pack('>IHHH', 6, 1, len(tracks), 480) + b''.join(tracks))
PY
t0=$(date +%s.%N)
"$build/tools/render/tonelark-render" --soundfont "$sf2" "$work/dense.mid" "$work/ours.wav"
t1=$(date +%s.%N)
fluidsynth -ni -q -F "$work/theirs.wav" -r 44100 "$sf2" "$work/dense.mid" > /dev/null 2>&1
t2=$(date +%s.%N)
python3 - "$t0" "$t1" "$t2" <<'PY'
import sys
t0, t1, t2 = map(float, sys.argv[1:])
ours, theirs = t1 - t0, t2 - t1
print(f"tonelark-render {ours:.2f} s, fluidsynth -F {theirs:.2f} s, speed ratio {theirs / ours:.3f}")
PY
