#!/usr/bin/env python3
"""Writes examples/sakura-sung.mid: the demo song "さくらさくら" with one Lyric event per sung
note, karaoke marks ("/" a new line, "<" a new page, "^" a space) and furigana written as
漢字[かな] across the events that sing them, for the karaoke window.

    python3 examples/make_sung_song.py [OUT.mid]
"""
import sys
from pathlib import Path

import make_demo_song as demo

# One syllable per note of the demo's phrases; None holds the syllable before it.
SYLLABLES = [
    ["/さ", "く", "ら", "^さ", "く", "ら"],
    ["/弥生[や", "よ", "い]", "の", "空[そ", "ら]", "は", None],
    ["/見[み]", "渡[わ", "た]", "す", "限[か", "ぎ]", "り", None],
    ["/霞[か", "す", "み]", "か", "雲[く", "も]", "か", None],
    ["/匂[に", "お]", "い", "ぞ", "出[い]", "ず", "る", None],
    ["<い", "ざ", "や", "^い", "ざ", "や"],
    ["/見[み]", "に", "行[ゆ]", "か", "ん", None],
]


def build():
    # The demo's tracks with its one Lyric event per phrase given way to the syllables.
    conductor, melody, strings = demo.Track(), demo.Track(), demo.Track()
    conductor.text(0, 0x03, "さくらさくら")
    conductor.text(0, 0x02, "Arrangement (C) 2026 Tonelark project / 日本古謡 (public domain)")
    conductor.text(0, 0x01, "Tonelarkのデモ曲（一音ごとの歌詞とふりがな）です。")
    conductor.meta(0, 0x58, bytes([4, 2, 24, 8]))
    conductor.tempo(0, demo.TEMPO_OPENING)
    melody.text(0, 0x03, "Koto")
    melody.add(0, [0xC0, 107])
    melody.add(0, [0xB0, 7, 110])
    strings.text(0, 0x03, "Strings")
    strings.add(0, [0xC1, 48])
    strings.add(0, [0xB1, 7, 72])
    tick = 0
    for key, length in [(demo.A4, demo.Q), (demo.B4, demo.Q), (demo.C5, demo.Q), (demo.B4, demo.Q)]:
        melody.note(tick, 0, key - 12, length, 70)
        tick += length
    melody.add(demo.LOOP_TICK, [0xB0, 111, 0])
    tick = demo.LOOP_TICK
    for index, ((line, notes), syllables) in enumerate(zip(demo.PHRASES, SYLLABLES)):
        assert len(notes) == len(syllables), line
        if line == "いざや　いざや":
            conductor.tempo(tick, demo.TEMPO_SECOND_HALF)
        if index == len(demo.PHRASES) - 1:
            conductor.tempo(tick, demo.TEMPO_ENDING)
        phrase_start = tick
        for (key, length), syllable in zip(notes, syllables):
            if syllable is not None:
                melody.text(tick, 0x05, syllable)
            melody.note(tick, 0, key, length, 100)
            tick += length
        strings.note(phrase_start, 1, 45, demo.BAR, 64, gate=1.0)
        strings.note(phrase_start + demo.BAR, 1, notes[-1][0] - 12, tick - phrase_start - demo.BAR, 60, gate=1.0)
    end = tick + demo.Q
    header = b"MThd" + demo.struct.pack(">IHHH", 6, 1, 3, demo.TIMEBASE)
    return header + conductor.chunk(end) + melody.chunk(end) + strings.chunk(end)


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("sakura-sung.mid")
    out.write_bytes(build())
    print(f"wrote {out}")


if __name__ == "__main__":
    main()
