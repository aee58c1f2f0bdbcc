#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "MidiSink.h"

namespace brisola {

// Keeps every message with its clock frame (and the wall-clock moment it arrived), for tests,
// the renderer's event list and the dispatch benchmark. Allocates: not for the audio thread.
class RecordingSink final : public MidiSink {
public:
    struct Entry {
        std::int64_t frame;
        std::vector<std::uint8_t> bytes;
        std::chrono::steady_clock::time_point arrived;
    };

    void send(const MidiMessage &message, std::int64_t frame) override
    {
        m_entries.push_back({frame, std::vector<std::uint8_t>(message.data, message.data + message.size),
                             std::chrono::steady_clock::now()});
    }
    void setMasterGain(double gain) override { m_gain = gain; }

    const std::vector<Entry> &entries() const { return m_entries; }
    void clear() { m_entries.clear(); }
    double gain() const { return m_gain; }

private:
    std::vector<Entry> m_entries;
    double m_gain = 1.0;
};

// Forwards to two sinks: a device and a recorder watching what it gets.
class TeeSink final : public MidiSink {
public:
    TeeSink(MidiSink &first, MidiSink &second) : m_first(first), m_second(second) {}
    void send(const MidiMessage &message, std::int64_t frame) override
    {
        m_first.send(message, frame);
        m_second.send(message, frame);
    }
    void setMasterGain(double gain) override
    {
        m_first.setMasterGain(gain);
        m_second.setMasterGain(gain);
    }

private:
    MidiSink &m_first;
    MidiSink &m_second;
};

} // namespace brisola
