#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sakura {

// What the interpreter produces and SmfWriter turns into bytes: absolute-tick events per track.
struct SmfEvent
{
    enum Kind : uint8_t { Channel, Tempo, TimeSignature, Text };
    uint32_t tick = 0;
    uint32_t sequence = 0; // creation order, keeps same-tick events in source order
    Kind kind = Channel;
    uint8_t status = 0;  // Channel: status byte; Text: meta type
    uint8_t data1 = 0;   // TimeSignature: numerator
    uint8_t data2 = 0;   // TimeSignature: log2 of the denominator
    uint32_t value = 0;  // Tempo: microseconds per quarter note; Text: index into SmfSong::texts

    bool isNoteOff() const { return kind == Channel && (status & 0xF0) == 0x80; }
};

struct SmfTrack
{
    std::vector<SmfEvent> events;
    uint32_t endTick = 0; // End of Track goes here (never before the last event)
};

struct SmfSong
{
    uint16_t timeBase = 96;
    std::vector<SmfTrack> tracks; // the conductor track first
    std::vector<std::string> texts;
};

// Format 1 SMF bytes: events sorted by tick with note-offs first at a tick, so a repeated
// key is released before it sounds again; End of Track closes every track.
std::string writeSmf(const SmfSong &song);

} // namespace sakura
