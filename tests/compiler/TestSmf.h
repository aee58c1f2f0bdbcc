#pragma once

// A strict little reader for the SMF files the compiler writes, so the tests check the bytes
// themselves: every chunk length, every delta, End of Track last in every track.

#include <cstdint>
#include <string>
#include <vector>

namespace testsmf {

struct Event
{
    uint32_t tick = 0;
    uint8_t status = 0;    // 0xFF for meta events
    uint8_t metaType = 0;  // meta events only
    std::string data;      // channel data bytes or meta payload
};

struct Note
{
    uint32_t tick;
    int channel;
    int key;
    int velocity;
    uint32_t length; // to the matching note-off
};

struct Track
{
    std::vector<Event> events;

    std::vector<Note> notes() const;
    std::vector<Event> metas(uint8_t type) const;
    // Control changes as (tick, controller, value).
    std::vector<Event> channelEvents(uint8_t kind) const;
};

struct File
{
    int format = -1;
    int division = 0;
    std::vector<Track> tracks;
};

// Throws std::runtime_error with the reason when the bytes are not a well-formed SMF.
File parse(const std::string &bytes);

} // namespace testsmf
