#pragma once

#include <memory>
#include <string>
#include <vector>

#include "MidiSink.h"
#include "Output.h"

class RtMidiOut;

namespace brisola {

class JackMidiOut;

// The MIDI output ports in the order device ids 0..N-1 refer to them. The ALSA sequencer is
// used where /dev/snd/seq exists, else JACK when a server answers; otherwise there are none.
// (Both checks come first: RtMidi throws when it cannot reach the ALSA sequencer, and its JACK
// backend crashes on opening a port without a server.)
std::vector<std::string> midiOutputPorts();

// Port `index` with the clock that drives the song into it: for an ALSA port the timing
// thread (messages leave the moment it sends them); for a JACK port the JACK cycle, every
// message at the frame it falls due at. Null with `message` set when the port does not exist
// or cannot be opened.
std::unique_ptr<Output> openMidiPortOutput(EngineCore &core, int index, std::string &message);

// A MIDI output port. Sent on their own (without the clock of openMidiPortOutput) messages
// leave at once, a JACK port's with its next cycle. ALSA ports go through RtMidi; JACK ports
// through a client of our own (see JackMidiOut).
class MidiPortSink final : public MidiSink {
public:
    // Null with `message` set when port `index` does not exist or cannot be opened.
    static std::unique_ptr<MidiPortSink> open(int index, std::string &message);
    ~MidiPortSink() override;

    void send(const MidiMessage &message, std::int64_t frame) override;
    // The universal real-time master volume message (F0 7F 7F 04 01 lsb msb F7).
    void setMasterGain(double gain) override;

private:
    friend std::unique_ptr<Output> openMidiPortOutput(EngineCore &, int, std::string &);
    explicit MidiPortSink(std::unique_ptr<RtMidiOut> out);
    explicit MidiPortSink(std::unique_ptr<JackMidiOut> out);
    std::unique_ptr<RtMidiOut> m_out;
    std::unique_ptr<JackMidiOut> m_jack;
};

} // namespace brisola
