#include "MidiPortSink.h"

#include "FluidSynthSink.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#ifdef BRISOLA_WITH_RTMIDI
#include <RtMidi.h>
#endif

namespace brisola {

#ifdef BRISOLA_WITH_RTMIDI

namespace {

constexpr const char *kClientName = "Tonelark";

bool portApi(RtMidi::Api &api)
{
    std::error_code ec;
    std::vector<RtMidi::Api> compiled;
    RtMidi::getCompiledApi(compiled);
    auto has = [&](RtMidi::Api a) { return std::find(compiled.begin(), compiled.end(), a) != compiled.end(); };
    if (has(RtMidi::LINUX_ALSA) && std::filesystem::exists("/dev/snd/seq", ec)) {
        api = RtMidi::LINUX_ALSA;
        return true;
    }
    if (has(RtMidi::UNIX_JACK) && jackServerRunning()) {
        api = RtMidi::UNIX_JACK;
        return true;
    }
    return false;
}

} // namespace

std::vector<std::string> midiOutputPorts()
{
    std::vector<std::string> names;
    RtMidi::Api api;
    if (!portApi(api))
        return names;
    try {
        RtMidiOut out(api, kClientName);
        const unsigned count = out.getPortCount();
        for (unsigned i = 0; i < count; ++i)
            names.push_back(out.getPortName(i));
    } catch (const RtMidiError &) {
        names.clear();
    }
    return names;
}

std::unique_ptr<MidiPortSink> MidiPortSink::open(int index, std::string &message)
{
    RtMidi::Api api;
    if (!portApi(api)) {
        message = "no MIDI system (neither the ALSA sequencer nor a JACK server)";
        return nullptr;
    }
    try {
        auto out = std::make_unique<RtMidiOut>(api, kClientName);
        if (index < 0 || unsigned(index) >= out->getPortCount()) {
            message = "no MIDI output port " + std::to_string(index);
            return nullptr;
        }
        out->openPort(unsigned(index), "Tonelark output");
        return std::unique_ptr<MidiPortSink>(new MidiPortSink(std::move(out)));
    } catch (const RtMidiError &error) {
        message = error.getMessage();
        return nullptr;
    }
}

MidiPortSink::MidiPortSink(std::unique_ptr<RtMidiOut> out) : m_out(std::move(out)) {}

MidiPortSink::~MidiPortSink() = default;

void MidiPortSink::send(const MidiMessage &message, std::int64_t)
{
    try {
        m_out->sendMessage(message.data, message.size);
    } catch (const RtMidiError &) {
        // A vanished port loses the message; playback goes on.
    }
}

#else

} // namespace brisola
class RtMidiOut {};
namespace brisola {

std::vector<std::string> midiOutputPorts() { return {}; }

std::unique_ptr<MidiPortSink> MidiPortSink::open(int, std::string &message)
{
    message = "built without MIDI port support";
    return nullptr;
}

MidiPortSink::~MidiPortSink() = default;
void MidiPortSink::send(const MidiMessage &, std::int64_t) {}

#endif

void MidiPortSink::setMasterGain(double gain)
{
    const int value = int(std::lround(std::clamp(gain, 0.0, 1.0) * 16383));
    const std::uint8_t bytes[] = {0xF0, 0x7F, 0x7F, 0x04, 0x01, std::uint8_t(value & 0x7F), std::uint8_t(value >> 7), 0xF7};
    send(MidiMessage{bytes, sizeof bytes}, 0);
}

} // namespace brisola
