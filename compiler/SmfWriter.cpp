#include "SmfSong.h"

#include <algorithm>

namespace sakura {

namespace {

void appendBigEndian(std::string &out, uint32_t value, int bytes)
{
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void appendVarLen(std::string &out, uint32_t value)
{
    char bytes[5];
    int count = 0;
    bytes[count++] = static_cast<char>(value & 0x7F);
    while ((value >>= 7) != 0)
        bytes[count++] = static_cast<char>(0x80 | (value & 0x7F));
    while (count > 0)
        out.push_back(bytes[--count]);
}

int channelDataLength(uint8_t status)
{
    const uint8_t kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

void appendEvent(std::string &out, const SmfSong &song, const SmfEvent &event)
{
    switch (event.kind) {
    case SmfEvent::Channel:
        out.push_back(static_cast<char>(event.status));
        out.push_back(static_cast<char>(event.data1));
        if (channelDataLength(event.status) == 2)
            out.push_back(static_cast<char>(event.data2));
        break;
    case SmfEvent::Tempo:
        out += "\xFF\x51\x03";
        appendBigEndian(out, event.value, 3);
        break;
    case SmfEvent::TimeSignature:
        out += "\xFF\x58\x04";
        out.push_back(static_cast<char>(event.data1));
        out.push_back(static_cast<char>(event.data2));
        out.push_back(static_cast<char>(24)); // MIDI clocks per metronome click
        out.push_back(static_cast<char>(8));  // 32nd notes per quarter note
        break;
    case SmfEvent::Text: {
        const std::string &text = song.texts[event.value];
        out.push_back(static_cast<char>(0xFF));
        out.push_back(static_cast<char>(event.status));
        appendVarLen(out, static_cast<uint32_t>(text.size()));
        out += text;
        break;
    }
    }
}

} // namespace

std::string writeSmf(const SmfSong &song)
{
    std::string out = "MThd";
    appendBigEndian(out, 6, 4);
    appendBigEndian(out, 1, 2);
    appendBigEndian(out, static_cast<uint32_t>(song.tracks.size()), 2);
    appendBigEndian(out, song.timeBase, 2);

    size_t eventCount = 0;
    for (const SmfTrack &track : song.tracks)
        eventCount += track.events.size();
    out.reserve(out.size() + eventCount * 5 + song.tracks.size() * 16);

    auto inOrder = [](const SmfEvent &a, const SmfEvent &b) {
        if (a.tick != b.tick)
            return a.tick < b.tick;
        if (a.isNoteOff() != b.isNoteOff())
            return a.isNoteOff();
        return a.sequence < b.sequence;
    };
    std::vector<SmfEvent> sorted;
    for (const SmfTrack &track : song.tracks) {
        // The interpreter hands over tracks already in order; sort only what is not.
        const std::vector<SmfEvent> *events = &track.events;
        if (!std::is_sorted(track.events.begin(), track.events.end(), inOrder)) {
            sorted = track.events;
            std::stable_sort(sorted.begin(), sorted.end(), inOrder);
            events = &sorted;
        }
        std::string body;
        body.reserve(events->size() * 5 + 8);
        uint32_t now = 0;
        for (const SmfEvent &event : *events) {
            appendVarLen(body, event.tick - now);
            now = event.tick;
            appendEvent(body, song, event);
        }
        appendVarLen(body, std::max(track.endTick, now) - now);
        body += "\xFF\x2F";
        body.push_back('\0');
        out += "MTrk";
        appendBigEndian(out, static_cast<uint32_t>(body.size()), 4);
        out += body;
    }
    return out;
}

} // namespace sakura
