#pragma once

#include <cstddef>
#include <cstdint>

namespace brisola {

// One message as a sink receives it. The bytes belong to the caller and are valid only during
// the call: channel messages point into the sequencer's scratch buffer, SysEx into the song.
// A SysEx message is complete (F0 … F7) unless the song used F7 escape packets, which are
// passed through as written.
struct MidiMessage {
    const std::uint8_t *data = nullptr;
    std::uint32_t size = 0;

    std::uint8_t status() const { return size ? data[0] : 0; }
    bool isSysEx() const { return size && (data[0] == 0xF0 || data[0] == 0xF7); }
};

// Where the sequencer's output goes. `frame` is the clock frame (in the sequencer's clock units)
// at which the message takes effect: sinks that render audio place it inside their block, sinks
// that dispatch in real time have already been woken at that frame. Sinks must not allocate
// or block in send(): it runs on the audio thread.
class MidiSink {
public:
    virtual ~MidiSink() = default;
    virtual void send(const MidiMessage &message, std::int64_t frame) = 0;
    // Master volume as 0 (silent) … 1 (full); applied in whatever way the device allows.
    virtual void setMasterGain(double gain) { (void)gain; }
};

// Swallows everything: the silent output behind a device that could not be opened.
class NullSink final : public MidiSink {
public:
    void send(const MidiMessage &, std::int64_t) override {}
};

} // namespace brisola
