#pragma once

#include <memory>
#include <string>
#include <vector>

#include "MidiSink.h"

class RtMidiOut;

namespace brisola {

class JackMidiOut;

// The MIDI output ports in the order device ids 0..N-1 refer to them. The ALSA sequencer is
// used where /dev/snd/seq exists, else JACK when a server answers; otherwise there are none.
// (Both checks come first: RtMidi throws when it cannot reach the ALSA sequencer, and its JACK
// backend crashes on opening a port without a server.)
std::vector<std::string> midiOutputPorts();

// A MIDI output port. Messages leave at once; the real-time clock decides when to send them.
// ALSA ports go through RtMidi; JACK ports through a client of our own (see JackMidiOut).
class MidiPortSink final : public MidiSink {
public:
    // Null with `message` set when port `index` does not exist or cannot be opened.
    static std::unique_ptr<MidiPortSink> open(int index, std::string &message);
    ~MidiPortSink() override;

    void send(const MidiMessage &message, std::int64_t frame) override;
    // The universal real-time master volume message (F0 7F 7F 04 01 lsb msb F7).
    void setMasterGain(double gain) override;

private:
    explicit MidiPortSink(std::unique_ptr<RtMidiOut> out);
    explicit MidiPortSink(std::unique_ptr<JackMidiOut> out);
    std::unique_ptr<RtMidiOut> m_out;
    std::unique_ptr<JackMidiOut> m_jack;
};

} // namespace brisola
