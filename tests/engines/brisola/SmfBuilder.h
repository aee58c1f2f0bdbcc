#pragma once

// Builds Standard MIDI Files byte by byte, so every test song is readable in the test itself.

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace brisola::test {

using Bytes = std::vector<std::uint8_t>;

inline void putVarLen(Bytes &out, std::uint32_t value)
{
    std::uint8_t buffer[5];
    int n = 0;
    buffer[n++] = value & 0x7F;
    while (value >>= 7)
        buffer[n++] = std::uint8_t(0x80 | (value & 0x7F));
    while (n)
        out.push_back(buffer[--n]);
}

inline void putBe32(Bytes &out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(std::uint8_t(v >> shift));
}

// Events may be added in any order (a note adds its note-off at once); chunk() writes them in
// tick order, keeping the order of addition among equal ticks.
class TrackBuilder {
public:
    TrackBuilder &raw(std::uint32_t tick, std::initializer_list<std::uint8_t> bytes)
    {
        m_events.push_back({tick, Bytes(bytes)});
        return *this;
    }
    TrackBuilder &noteOn(std::uint32_t tick, int ch, int note, int velocity = 100)
    {
        return raw(tick, {std::uint8_t(0x90 | ch), std::uint8_t(note), std::uint8_t(velocity)});
    }
    TrackBuilder &noteOff(std::uint32_t tick, int ch, int note)
    {
        return raw(tick, {std::uint8_t(0x80 | ch), std::uint8_t(note), 0});
    }
    TrackBuilder &note(std::uint32_t tick, std::uint32_t length, int ch, int note, int velocity = 100)
    {
        noteOn(tick, ch, note, velocity);
        return noteOff(tick + length, ch, note);
    }
    TrackBuilder &cc(std::uint32_t tick, int ch, int number, int value)
    {
        return raw(tick, {std::uint8_t(0xB0 | ch), std::uint8_t(number), std::uint8_t(value)});
    }
    TrackBuilder &program(std::uint32_t tick, int ch, int program)
    {
        return raw(tick, {std::uint8_t(0xC0 | ch), std::uint8_t(program)});
    }
    TrackBuilder &bend(std::uint32_t tick, int ch, int value)
    {
        return raw(tick, {std::uint8_t(0xE0 | ch), std::uint8_t(value & 0x7F), std::uint8_t(value >> 7)});
    }
    TrackBuilder &tempo(std::uint32_t tick, std::uint32_t usPerQuarter)
    {
        return raw(tick, {0xFF, 0x51, 0x03, std::uint8_t(usPerQuarter >> 16), std::uint8_t(usPerQuarter >> 8),
                          std::uint8_t(usPerQuarter)});
    }
    TrackBuilder &text(std::uint32_t tick, int type, const std::string &text)
    {
        Bytes b{0xFF, std::uint8_t(type)};
        putVarLen(b, std::uint32_t(text.size()));
        b.insert(b.end(), text.begin(), text.end());
        m_events.push_back({tick, b});
        return *this;
    }
    // `body` without the leading F0, usually ending in F7.
    TrackBuilder &sysEx(std::uint32_t tick, std::initializer_list<std::uint8_t> body)
    {
        return sysEx(tick, Bytes(body));
    }
    TrackBuilder &sysEx(std::uint32_t tick, const Bytes &body)
    {
        Bytes b{0xF0};
        putVarLen(b, std::uint32_t(body.size()));
        b.insert(b.end(), body.begin(), body.end());
        m_events.push_back({tick, b});
        return *this;
    }
    // End of Track at `tick` (by default it follows the last event).
    TrackBuilder &end(std::uint32_t tick)
    {
        m_end = tick;
        return *this;
    }

    Bytes chunk() const
    {
        auto events = m_events;
        std::stable_sort(events.begin(), events.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        Bytes body;
        std::uint32_t tick = 0;
        for (const auto &[at, bytes] : events) {
            putVarLen(body, at - tick);
            tick = at;
            body.insert(body.end(), bytes.begin(), bytes.end());
        }
        putVarLen(body, std::max(m_end, tick) - tick);
        body.insert(body.end(), {0xFF, 0x2F, 0x00});
        Bytes out{'M', 'T', 'r', 'k'};
        putBe32(out, std::uint32_t(body.size()));
        out.insert(out.end(), body.begin(), body.end());
        return out;
    }

private:
    std::vector<std::pair<std::uint32_t, Bytes>> m_events;
    std::uint32_t m_end = 0;
};

inline Bytes header(int format, int tracks, int division)
{
    Bytes out{'M', 'T', 'h', 'd', 0, 0, 0, 6};
    for (int v : {format, tracks, division}) {
        out.push_back(std::uint8_t(v >> 8));
        out.push_back(std::uint8_t(v));
    }
    return out;
}

inline Bytes smf(const std::vector<TrackBuilder> &tracks, int division = 480, int format = -1)
{
    if (format < 0)
        format = tracks.size() > 1 ? 1 : 0;
    Bytes out = header(format, int(tracks.size()), division);
    for (const TrackBuilder &t : tracks) {
        const Bytes c = t.chunk();
        out.insert(out.end(), c.begin(), c.end());
    }
    return out;
}

} // namespace brisola::test
