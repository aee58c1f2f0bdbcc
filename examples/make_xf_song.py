#!/usr/bin/env python3
"""Writes two example songs for the sung lines:

examples/haru.mid, an XF karaoke file with the first half of the words of "春の小川"
(高野辰之, 1912; public domain) on a simple tune written for this example (not the song's
own melody). It is laid out as XF files are: the XF version mark in the first track, the
melody on channel 1 and chords on channel 2, then an XFIH chunk ("XFhd:", "XFln:" texts,
CP932) and an XFKM chunk with the "$Lyrc:1:240:JP" cue, a "&f" part cue and one Lyric event
per sung kana, furigana written 漢字[かな] across the kana's events, "/" ending a line and
"<" starting a page.

examples/twinkle-syllables.mid, "Twinkle, Twinkle, Little Star" (traditional melody, words
by Jane Taylor, 1806) with one Lyric event per syllable, "\\" starting a paragraph and "/"
a line, as karaoke MIDI files converted from .kar usually are.

    python3 examples/make_xf_song.py [OUT_DIR]
"""
import struct
import sys
from pathlib import Path

TIMEBASE = 480
Q = TIMEBASE

C4, D4, E4, F4, G4, A4, C5 = 60, 62, 64, 65, 67, 69, 72

# (syllables, notes) per line; the first syllable of a page carries "<", the last syllable
# of a line "/".
HARU = [
    (["<春[は", "る]", "の", "小川[お", "が", "わ]", "は/"], [E4, G4, A4, G4, E4, D4, C4]),
    (["さ", "ら", "さ", "ら", "流[な", "が]", "る/"], [D4, E4, G4, E4, D4, E4, C4]),
    (["<岸[き", "し]", "の", "す", "み", "れ", "や/"], [A4, C5, A4, G4, E4, G4, A4]),
    (["れ", "ん", "げ", "の", "花[は", "な]", "に/"], [G4, E4, D4, E4, G4, D4, C4]),
]

A_LINE = [C4, C4, G4, G4, A4, A4, G4]
B_LINE = [F4, F4, E4, E4, D4, D4, C4]
C_LINE = [G4, G4, F4, F4, E4, E4, D4]
TWINKLE = [
    (["\\Twin", "kle, ", "twin", "kle, ", "lit", "tle ", "star,"], A_LINE),
    (["/How ", "I ", "won", "der ", "what ", "you ", "are!"], B_LINE),
    (["\\Up ", "a", "bove ", "the ", "world ", "so ", "high,"], C_LINE),
    (["/Like ", "a ", "dia", "mond ", "in ", "the ", "sky."], C_LINE),
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


def sung(lines, encode, channel=0, lead=TIMEBASE * 4):
    """The words as Lyric events and the melody notes, one note per syllable."""
    words = b""
    melody = var_len(0) + bytes([0xC0 | channel, 73])  # flute
    word_delta = lead
    note_delta = lead
    for syllables, notes in lines:
        for index, (syllable, note) in enumerate(zip(syllables, notes)):
            length = Q * 2 if index == len(notes) - 1 else Q
            words += meta(word_delta, 0x05, encode(syllable))
            word_delta = length
            melody += var_len(note_delta) + bytes([0x90 | channel, note, 100])
            melody += var_len(length - 40) + bytes([0x80 | channel, note, 0])
            note_delta = 40
    return words, melody, word_delta, note_delta


def chords(bars, channel=1, lead=TIMEBASE * 4):
    body = var_len(0) + bytes([0xC0 | channel, 48])  # strings
    delta = lead
    for bar in range(bars):
        root = [C4, F4, G4, C4][bar % 4] - 12
        for key in (root, root + 4, root + 7):
            body += var_len(delta) + bytes([0x90 | channel, key, 60])
            delta = 0
        delta = Q * 4 - 20
        for key in (root, root + 4, root + 7):
            body += var_len(delta) + bytes([0x80 | channel, key, 0])
            delta = 0
        delta = 20
    return body


def haru():
    encode = lambda text: text.encode("cp932")
    words, melody, word_end, note_end = sung(HARU, encode)
    first = meta(0, 0x03, "春の小川".encode("cp932"))
    first += meta(0, 0x7F, bytes([0x43, 0x7B, 0x00]) + b"XF02" + bytes([0x00, 0x1B]))
    first += meta(0, 0x51, (60_000_000 // 96).to_bytes(3, "big"))
    first += melody + meta(note_end, 0x2F, b"")
    accompaniment = chords(9) + meta(0, 0x2F, b"")

    info = meta(0, 0x01, "XFhd:2026/12/09:JP:童謡:::F:岡野貞一:高野辰之:Tonelark::Tonelark:".encode("cp932"))
    info += meta(0, 0x01, "XFln:JP:春の小川:岡野貞一:高野辰之:Tonelark:例の歌い手:Tonelark".encode("cp932"))
    info += meta(0, 0x2F, b"")
    karaoke = meta(0, 0x07, b"$Lyrc:1:240:JP") + meta(0, 0x07, b"&f") + words + meta(word_end, 0x2F, b"")

    header = b"MThd" + struct.pack(">IHHH", 6, 1, 2, TIMEBASE)
    return (header + chunk(b"MTrk", first) + chunk(b"MTrk", accompaniment)
            + chunk(b"XFIH", info) + chunk(b"XFKM", karaoke))


def twinkle():
    words, melody, word_end, note_end = sung(TWINKLE, lambda text: text.encode("ascii"))
    first = meta(0, 0x03, b"Twinkle, Twinkle, Little Star") + meta(0, 0x02, b"Jane Taylor")
    first += meta(0, 0x51, (60_000_000 // 100).to_bytes(3, "big"))
    first += words + meta(word_end, 0x2F, b"")
    melody += meta(note_end, 0x2F, b"")
    header = b"MThd" + struct.pack(">IHHH", 6, 1, 2, TIMEBASE)
    return header + chunk(b"MTrk", first) + chunk(b"MTrk", melody)


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).parent
    (out / "haru.mid").write_bytes(haru())
    (out / "twinkle-syllables.mid").write_bytes(twinkle())


if __name__ == "__main__":
    main()
