#!/usr/bin/env python3
"""Writes examples/sakura.mid, the demo song: "さくらさくら", a traditional Japanese melody
(public domain), arranged for koto and strings.

The file exercises what the player shows: Sequence Name and Copyright texts, a Text comment,
one CP932 Lyric event per sung line, two tempo changes after the opening tempo, and a
controller-111 loop point where the melody begins.

    python3 examples/make_demo_song.py [OUT.mid]
"""
import struct
import sys
from pathlib import Path

TIMEBASE = 480
Q = TIMEBASE          # quarter
E = TIMEBASE // 2     # eighth
H = TIMEBASE * 2      # half
W = TIMEBASE * 4      # whole
BAR = W

# Note numbers of the miyako-bushi scale used by the melody.
B3, C4, E4, F4, A4, B4, C5 = 59, 60, 64, 65, 69, 71, 72

# (lyric line, [(note, length), ...]) — one line per two bars.
PHRASES = [
    ("さくら　さくら", [(A4, Q), (A4, Q), (B4, H), (A4, Q), (A4, Q), (B4, H)]),
    ("弥生の空は", [(A4, Q), (B4, Q), (C5, Q), (B4, Q), (A4, Q), (B4, E), (A4, E), (F4, H)]),
    ("見渡す限り", [(E4, Q), (C4, Q), (E4, Q), (F4, Q), (E4, Q), (E4, E), (C4, E), (B3, H)]),
    ("霞か雲か", [(A4, Q), (B4, Q), (C5, Q), (B4, Q), (A4, Q), (B4, E), (A4, E), (F4, H)]),
    ("匂いぞ出ずる", [(E4, Q), (C4, Q), (E4, Q), (F4, Q), (E4, Q), (E4, E), (C4, E), (B3, H)]),
    ("いざや　いざや", [(A4, Q), (A4, Q), (B4, H), (A4, Q), (A4, Q), (B4, H)]),
    ("見に行かん", [(E4, Q), (F4, Q), (B4, E), (A4, E), (F4, Q), (E4, W)]),
]

INTRO_BARS = 1
LOOP_TICK = INTRO_BARS * BAR
TEMPO_OPENING = 72      # bpm
TEMPO_SECOND_HALF = 80  # from "いざや　いざや"
TEMPO_ENDING = 60       # the last line slows down


def varlen(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


class Track:
    def __init__(self):
        self.events = []  # (tick, order, bytes)

    def add(self, tick, data):
        self.events.append((tick, len(self.events), bytes(data)))

    def meta(self, tick, kind, payload):
        self.add(tick, bytes([0xFF, kind]) + varlen(len(payload)) + payload)

    def text(self, tick, kind, text):
        self.meta(tick, kind, text.encode("cp932"))

    def tempo(self, tick, bpm):
        self.meta(tick, 0x51, (60_000_000 // bpm).to_bytes(3, "big"))

    def note(self, tick, channel, key, length, velocity, gate=0.92):
        self.add(tick, [0x90 | channel, key, velocity])
        self.add(tick + max(1, int(length * gate)), [0x80 | channel, key, 0])

    def chunk(self, end_tick):
        # Note-offs sort before note-ons at the same tick so repeated notes never overlap.
        events = sorted(self.events, key=lambda e: (e[0], 0 if e[2][0] & 0xF0 == 0x80 else 1, e[1]))
        body = bytearray()
        now = 0
        for tick, _, data in events:
            body += varlen(tick - now) + data
            now = tick
        body += varlen(max(0, end_tick - now)) + b"\xFF\x2F\x00"
        return b"MTrk" + struct.pack(">I", len(body)) + bytes(body)


def build():
    conductor, melody, strings = Track(), Track(), Track()
    # A GM reset SysEx, so the SysEx option has something to send. It comes first, before any
    # track sets up its instrument: a reset sent after the setup would wipe it.
    conductor.add(0, [0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7])
    conductor.text(0, 0x03, "さくらさくら")
    conductor.text(0, 0x02, "Arrangement (C) 2026 Tonelark project / 日本古謡 (public domain)")
    conductor.text(0, 0x01, "Tonelarkのデモ曲です。歌詞は行ごとに表示されます。")
    conductor.meta(0, 0x58, bytes([4, 2, 24, 8]))
    conductor.tempo(0, TEMPO_OPENING)

    # Koto on channel 1, strings on channel 2.
    melody.text(0, 0x03, "Koto")
    melody.add(0, [0xB0, 0, 0])
    melody.add(0, [0xC0, 107])
    melody.add(0, [0xB0, 7, 110])
    melody.add(0, [0xB0, 10, 56])
    melody.add(0, [0xB0, 91, 48])
    strings.text(0, 0x03, "Strings")
    strings.add(0, [0xC1, 48])
    strings.add(0, [0xB1, 7, 72])
    strings.add(0, [0xB1, 10, 80])
    strings.add(0, [0xB1, 91, 64])

    # Intro: the koto plays the opening motif softly before the singing starts.
    tick = 0
    for key, length in [(A4, Q), (B4, Q), (C5, Q), (B4, Q)]:
        melody.note(tick, 0, key - 12, length, 70)
        tick += length

    melody.add(LOOP_TICK, [0xB0, 111, 0])
    tick = LOOP_TICK
    for index, (line, notes) in enumerate(PHRASES):
        if line == "いざや　いざや":
            conductor.tempo(tick, TEMPO_SECOND_HALF)
        if index == len(PHRASES) - 1:
            conductor.tempo(tick, TEMPO_ENDING)
        melody.text(tick, 0x05, line)
        phrase_start = tick
        for key, length in notes:
            melody.note(tick, 0, key, length, 100)
            tick += length
        # Strings hold the phrase's ground: a low A and E, then the phrase's last note.
        strings.note(phrase_start, 1, 45, BAR, 64, gate=1.0)
        strings.note(phrase_start, 1, 52, BAR, 56, gate=1.0)
        strings.note(phrase_start + BAR, 1, notes[-1][0] - 12, tick - phrase_start - BAR, 60, gate=1.0)
    end = tick + Q

    header = b"MThd" + struct.pack(">IHHH", 6, 1, 3, TIMEBASE)
    return header + conductor.chunk(end) + melody.chunk(end) + strings.chunk(end)


def main():
    # An option is not a file name: "--help" once wrote a song named "--help".
    if len(sys.argv) > 2 or (len(sys.argv) == 2 and sys.argv[1].startswith("-")):
        print(__doc__.strip())
        sys.exit(0 if sys.argv[1] in ("-h", "--help") else 2)
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("sakura.mid")
    out.write_bytes(build())
    print(f"wrote {out}")


if __name__ == "__main__":
    main()
