#!/usr/bin/env python3
"""Writes examples/twinkle.kar, a karaoke MIDI file: "Twinkle, Twinkle, Little Star"
(traditional melody, words by Jane Taylor, 1806; both public domain).

It is laid out as karaoke files are: the "@KMIDI KARAOKE FILE" marker with version and
information texts in the first track, a "Words" track holding the language and title texts
("@L", "@T") and then one Text event per sung syllable, where "\\" starts a paragraph and "/"
a line, and a melody track. There is no Lyric event: the player builds the lyric lines from
the syllables.

    python3 examples/make_karaoke_song.py [OUT.kar]
"""
import struct
import sys
from pathlib import Path

TIMEBASE = 480
Q = TIMEBASE
H = TIMEBASE * 2
TEMPO_BPM = 100

C4, D4, E4, F4, G4, A4 = 60, 62, 64, 65, 67, 69

# (syllables, notes): one sung line; the first syllable carries the "\" or "/" mark.
A_LINE = [C4, C4, G4, G4, A4, A4, G4]
B_LINE = [F4, F4, E4, E4, D4, D4, C4]
C_LINE = [G4, G4, F4, F4, E4, E4, D4]
LINES = [
    (["\\Twin", "kle, ", "twin", "kle, ", "lit", "tle ", "star,"], A_LINE),
    (["/How ", "I ", "won", "der ", "what ", "you ", "are!"], B_LINE),
    (["\\Up ", "a", "bove ", "the ", "world ", "so ", "high,"], C_LINE),
    (["/Like ", "a ", "dia", "mond ", "in ", "the ", "sky."], C_LINE),
    (["\\Twin", "kle, ", "twin", "kle, ", "lit", "tle ", "star,"], A_LINE),
    (["/How ", "I ", "won", "der ", "what ", "you ", "are!"], B_LINE),
]


def var_len(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, 0x80 | (value & 0x7F))
        value >>= 7
    return bytes(out)


def meta(delta, kind, data):
    return var_len(delta) + bytes([0xFF, kind]) + var_len(len(data)) + data


def chunk(kind, body):
    return kind + struct.pack(">I", len(body)) + body


def build():
    info = meta(0, 0x01, b"@KMIDI KARAOKE FILE") + meta(0, 0x01, b"@V0100")
    info += meta(0, 0x01, b"@I Traditional melody, words by Jane Taylor (1806)")
    info += meta(0, 0x01, b"@I Generated for Tonelark by examples/make_karaoke_song.py")
    info += meta(0, 0x51, (60_000_000 // TEMPO_BPM).to_bytes(3, "big"))
    info += meta(0, 0x2F, b"")

    words = meta(0, 0x03, b"Words") + meta(0, 0x01, b"@LENGL")
    words += meta(0, 0x01, b"@TTwinkle, Twinkle, Little Star") + meta(0, 0x01, b"@TJane Taylor")
    melody = meta(0, 0x03, b"Melody") + var_len(0) + bytes([0xC0, 10])  # music box
    delay = TIMEBASE * 4  # one bar before the singing starts
    word_delta = delay
    note_delta = delay
    for syllables, notes in LINES:
        for index, (syllable, note) in enumerate(zip(syllables, notes)):
            length = H if index == len(notes) - 1 else Q
            words += meta(word_delta, 0x01, syllable.encode("ascii"))
            word_delta = length
            melody += var_len(note_delta) + bytes([0x90, note, 96])
            melody += var_len(length - 40) + bytes([0x80, note, 0])
            note_delta = 40
    words += meta(word_delta, 0x2F, b"")
    melody += meta(note_delta, 0x2F, b"")

    header = b"MThd" + struct.pack(">IHHH", 6, 1, 3, TIMEBASE)
    return header + chunk(b"MTrk", info) + chunk(b"MTrk", words) + chunk(b"MTrk", melody)


def main():
    # An option is not a file name: "--help" once wrote a song named "--help".
    if len(sys.argv) > 2 or (len(sys.argv) == 2 and sys.argv[1].startswith("-")):
        print(__doc__.strip())
        sys.exit(0 if sys.argv[1] in ("-h", "--help") else 2)
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("twinkle.kar")
    out.write_bytes(build())


if __name__ == "__main__":
    main()
