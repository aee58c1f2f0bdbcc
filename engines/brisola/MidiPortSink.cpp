#include "MidiPortSink.h"

#include "FluidSynthSink.h"
#include "RealtimeClock.h"

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
//
// Driven by an engine (drive()), the JACK cycle is the song's clock, as the audio callback is
// the synthesizer's: each cycle advances the sequencer by its frames and every message goes to
// the frame it falls due at. (Handed over by a timing thread, a message could only go into the
// next cycle: at its start, up to a period late, and on a server whose frames run slower than
// the system clock, as a loaded dummy backend's do, later still by the drift.)
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

    // From the next cycle on, advances `core`'s sequencer by each cycle's frames; until
    // undrive(), called with the core lock held.
    void drive(EngineCore &core)
    {
        m_core = &core;
        m_driving.store(true, std::memory_order_release);
    }
    void undrive() { m_driving.store(false, std::memory_order_release); }
    std::uint32_t rate() const { return jack_get_sample_rate(m_client); }

    // Inside a cycle that advances the song: into the port at its frame. Otherwise (commands,
    // and before a driven start) queued for the next cycle's start; a full queue loses it
    // (never blocks). Callers hold the core lock when a cycle may be advancing the song.
    void send(const std::uint8_t *data, std::uint32_t size, std::int64_t frame)
    {
        if (size == 0)
            return;
        if (m_inCycle && !m_cycleFull) {
            const std::int64_t offset = std::clamp<std::int64_t>(frame - m_cycleClock, m_cycleLast, m_cycleFrames - 1);
            if (jack_midi_data_t *place = jack_midi_event_reserve(m_cycleBuffer, jack_nframes_t(offset), size)) {
                std::memcpy(place, data, size);
                m_cycleLast = offset;
                return;
            }
            m_cycleFull = true; // the port buffer is full: this and what follows go next cycle
        }
        if (jack_ringbuffer_write_space(m_queue) < sizeof size + size)
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
                return 0; // the song waits for the connection: nothing it sends is lost
            self->m_connected = true;
        }
        std::uint32_t size;
        while (jack_ringbuffer_peek(self->m_queue, reinterpret_cast<char *>(&size), sizeof size) == sizeof size
               && jack_ringbuffer_read_space(self->m_queue) >= sizeof size + size) {
            jack_midi_data_t *place = jack_midi_event_reserve(buffer, 0, size);
            if (!place)
                return 0; // the port buffer is full: the rest goes next cycle, and the song waits
            jack_ringbuffer_read_advance(self->m_queue, sizeof size);
            jack_ringbuffer_read(self->m_queue, reinterpret_cast<char *>(place), size);
        }
        // Never wait for the lock: a command holding it delays the song by one cycle at most.
        if (!self->m_driving.load(std::memory_order_acquire) || !self->m_core->mutex.try_lock())
            return 0;
        // Checked again under the lock: the engine stops driving while holding it.
        if (self->m_driving.load(std::memory_order_acquire)) {
            self->m_inCycle = true;
            self->m_cycleFull = false;
            self->m_cycleBuffer = buffer;
            self->m_cycleFrames = frames;
            self->m_cycleLast = 0;
            self->m_cycleClock = self->m_core->sequencer.clock();
            self->m_core->sequencer.advance(frames);
            self->m_core->publish();
            self->m_inCycle = false;
        }
        self->m_core->mutex.unlock();
        return 0;
    }

    jack_client_t *m_client = nullptr;
    jack_port_t *m_port = nullptr;
    jack_ringbuffer_t *m_queue = nullptr;
    bool m_active = false;
    bool m_connected = false; // touched by the process callback only
    std::atomic<unsigned> m_cycles{0};
    EngineCore *m_core = nullptr;
    std::atomic<bool> m_driving{false};
    // The cycle advancing the song, while it does (under the core lock).
    bool m_inCycle = false;
    bool m_cycleFull = false;
    void *m_cycleBuffer = nullptr;
    std::int64_t m_cycleFrames = 0;
    std::int64_t m_cycleLast = 0;  // offset of the last message placed (a buffer takes them in order)
    std::int64_t m_cycleClock = 0; // the sequencer's clock at the cycle's first frame
};

// The JACK port with its cycle as the song's clock (see JackMidiOut).
class JackPortOutput final : public Output {
public:
    JackPortOutput(EngineCore &core, std::unique_ptr<MidiPortSink> sink, JackMidiOut &jack)
        : m_core(core), m_sink(std::move(sink)), m_jack(jack)
    {
    }
    MidiSink &sink() override { return *m_sink; }
    std::uint32_t rate() const override { return m_jack.rate(); }
    void start() override
    {
        std::lock_guard lock(m_core.mutex);
        m_jack.drive(m_core);
    }
    void deactivate() override { m_jack.undrive(); }
    void stop() override
    {
        std::lock_guard lock(m_core.mutex);
        m_jack.undrive();
    }

private:
    EngineCore &m_core;
    std::unique_ptr<MidiPortSink> m_sink;
    JackMidiOut &m_jack;
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

std::unique_ptr<Output> openMidiPortOutput(EngineCore &core, int index, std::string &message)
{
    auto sink = MidiPortSink::open(index, message);
    if (!sink)
        return nullptr;
    if (JackMidiOut *jack = sink->m_jack.get())
        return std::make_unique<JackPortOutput>(core, std::move(sink), *jack);
    return std::make_unique<RealtimeClock>(core, std::move(sink));
}

void MidiPortSink::send(const MidiMessage &message, std::int64_t frame)
{
    if (m_jack) {
        m_jack->send(message.data, message.size, frame);
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

std::unique_ptr<Output> openMidiPortOutput(EngineCore &, int, std::string &message)
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
