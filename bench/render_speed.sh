#!/usr/bin/env bash
# Offline render speed: tonelark-render against the fluidsynth command line on one generated
# dense 3-minute song, same SoundFont and rate, in one run. The runs alternate (the order turns
# each round) so that a neighbour's load falls on both sides; each figure is the median of the
# rounds with its spread (lowest … highest). Three kinds of run:
#   wav   tonelark-render to WAV, as before
#   flac  the window's backing track: FLAC, two semitones down, the guide melody off
#   fs    fluidsynth -ni -F to WAV
#   bench/render_speed.sh BUILD_DIR [ROUNDS]
set -euo pipefail
build=${1:?build directory}
rounds=${2:-5}
sf2=/usr/share/sounds/sf2/default-GM.sf2
render="$build/tools/render/tonelark-render"
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

run() {
  case $1 in
    wav) "$render" --soundfont "$sf2" "$work/dense.mid" "$work/ours.wav" ;;
    flac) "$render" --soundfont "$sf2" --key -2 --melody off "$work/dense.mid" "$work/backing.flac" > /dev/null ;;
    fs) fluidsynth -ni -q -F "$work/theirs.wav" -r 44100 "$sf2" "$work/dense.mid" > /dev/null 2>&1 ;;
  esac
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)   cores: $(nproc)"
kinds=(wav fs flac)
: > "$work/times"
for ((r = 0; r < rounds; r++)); do
  for ((k = 0; k < 3; k++)); do
    kind=${kinds[$(((r + k) % 3))]}
    t0=$(date +%s.%N)
    run "$kind"
    t1=$(date +%s.%N)
    echo "$kind $t0 $t1" >> "$work/times"
  done
done
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$work/times" "$rounds" <<'PY'
import statistics, sys
times = {}
for line in open(sys.argv[1]):
    kind, t0, t1 = line.split()
    times.setdefault(kind, []).append(float(t1) - float(t0))
med = {k: statistics.median(v) for k, v in times.items()}
names = {"wav": "tonelark-render WAV", "flac": "backing track FLAC", "fs": "fluidsynth -ni -F"}
for k in ("wav", "flac", "fs"):
    v = sorted(times[k])
    print(f"{names[k]:22s} median {med[k]:.2f} s  (spread {v[0]:.2f} ... {v[-1]:.2f} s, {len(v)} runs)")
print(f"wall time vs fluidsynth -ni -F: WAV {med['wav'] / med['fs']:.2f}x, backing track FLAC {med['flac'] / med['fs']:.2f}x")
PY
