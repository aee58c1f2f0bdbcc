#include "MidiPortSink.h"

#include "FluidSynthSink.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <thread>

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

constexpr std::size_t kJackQueueBytes = 1 << 16;

} // namespace

// A JACK MIDI output port connected to one input port. RtMidi's JACK output empties its queue
// into the port from the first cycle after the port exists, but the connection it then asks
// for takes effect only at a later cycle's start: the master volume and the chase sent right
// after opening were lost now and then (always on a loaded machine). Here the queue waits until
// the port is seen connected inside a cycle, and a cycle whose port buffer is full leaves the
// rest of the queue for the next one instead of dropping it.
class JackMidiOut {
public:
    static std::unique_ptr<JackMidiOut> open(int index, std::string &message)
    {
        std::unique_ptr<JackMidiOut> out(new JackMidiOut);
        jack_status_t status;
        out->m_client = jack_client_open(kClientName, JackNoStartServer, &status);
        if (!out->m_client) {
            message = "cannot reach the JACK server";
            return nullptr;
        }
        // The same query, in the same order, as the list that midiOutputPorts gave.
        const char **ports = jack_get_ports(out->m_client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
        int count = 0;
        while (ports && ports[count])
            ++count;
        const std::string target = index >= 0 && index < count ? ports[index] : "";
        jack_free(ports);
        if (target.empty()) {
            message = "no MIDI output port " + std::to_string(index);
            return nullptr;
        }
        out->m_queue = jack_ringbuffer_create(kJackQueueBytes);
        out->m_port = jack_port_register(out->m_client, "Tonelark output", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        if (!out->m_queue || !out->m_port || jack_set_process_callback(out->m_client, &JackMidiOut::process, out.get())
            || jack_activate(out->m_client)) {
            message = "cannot open a JACK MIDI port";
            return nullptr;
        }
        out->m_active = true;
        if (jack_connect(out->m_client, jack_port_name(out->m_port), target.c_str()) != 0) {
            message = "cannot connect to the JACK MIDI port \"" + target + "\"";
            return nullptr;
        }
        return out;
    }

    ~JackMidiOut()
    {
        if (m_active) {
            // What was sent last (the note-offs of a stop) leaves before the port goes; a port
            // that was never connected never empties, hence the limit.
            const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
            while (jack_ringbuffer_read_space(m_queue) > 0 && std::chrono::steady_clock::now() < limit)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            // The cycle that took the last messages hands them on once it ends.
            const unsigned cycle = m_cycles.load();
            while (m_cycles.load() - cycle < 2 && std::chrono::steady_clock::now() < limit)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            jack_deactivate(m_client);
        }
        if (m_client)
            jack_client_close(m_client);
        if (m_queue)
            jack_ringbuffer_free(m_queue);
    }

    // Queues one message for the next cycle; a full queue loses it (never blocks).
    void send(const std::uint8_t *data, std::uint32_t size)
    {
        if (size == 0 || jack_ringbuffer_write_space(m_queue) < sizeof size + size)
            return;
        jack_ringbuffer_write(m_queue, reinterpret_cast<const char *>(&size), sizeof size);
        jack_ringbuffer_write(m_queue, reinterpret_cast<const char *>(data), size);
    }

private:
    JackMidiOut() = default;

    static int process(jack_nframes_t frames, void *arg)
    {
        auto *self = static_cast<JackMidiOut *>(arg);
        void *buffer = jack_port_get_buffer(self->m_port, frames);
        jack_midi_clear_buffer(buffer);
        self->m_cycles.fetch_add(1, std::memory_order_relaxed);
        if (!self->m_connected) {
            if (jack_port_connected(self->m_port) <= 0)
                return 0;
            self->m_connected = true;
        }
        std::uint32_t size;
        while (jack_ringbuffer_peek(self->m_queue, reinterpret_cast<char *>(&size), sizeof size) == sizeof size
               && jack_ringbuffer_read_space(self->m_queue) >= sizeof size + size) {
            jack_midi_data_t *place = jack_midi_event_reserve(buffer, 0, size);
            if (!place)
                break; // the port buffer is full: the rest goes next cycle
            jack_ringbuffer_read_advance(self->m_queue, sizeof size);
            jack_ringbuffer_read(self->m_queue, reinterpret_cast<char *>(place), size);
        }
        return 0;
    }

    jack_client_t *m_client = nullptr;
    jack_port_t *m_port = nullptr;
    jack_ringbuffer_t *m_queue = nullptr;
    bool m_active = false;
    bool m_connected = false; // touched by the process callback only
    std::atomic<unsigned> m_cycles{0};
};

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
    if (api == RtMidi::UNIX_JACK) {
        auto out = JackMidiOut::open(index, message);
        return out ? std::unique_ptr<MidiPortSink>(new MidiPortSink(std::move(out))) : nullptr;
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
MidiPortSink::MidiPortSink(std::unique_ptr<JackMidiOut> out) : m_jack(std::move(out)) {}

MidiPortSink::~MidiPortSink() = default;

void MidiPortSink::send(const MidiMessage &message, std::int64_t)
{
    if (m_jack) {
        m_jack->send(message.data, message.size);
        return;
    }
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
class JackMidiOut {};

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
