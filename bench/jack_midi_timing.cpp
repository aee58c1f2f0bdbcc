// What reaches a JACK MIDI port, and when: a recording client on the server stamps every event
// with its frame (the cycle's first frame + the event's offset). Two senders play the same
// 4 000 notes 1–3 ms apart into it, one after the other: the engine (device = the recorder's
// port, through the port path's timing thread and JACK client), and a reference client that
// places each message at its own frame. Lateness = arrival − the note's song time; a constant
// latency does not count, its spread does: p99 − p1. Also checks that the engine's notes arrive
// complete, byte for byte, in order.
//
//   JACK_DEFAULT_SERVER=… jack_midi_timing_bench [NOTES]     (bench/jack_midi_timing.sh)

#include "BenchFigures.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Brisola.h"
#include "MidiPortSink.h"
#include "SmfBytes.h"

namespace {

using namespace std::chrono_literals;

struct Note {
    std::int64_t timeUs; // song time
    std::array<std::uint8_t, 3> on, off;
    std::int64_t offUs;
};

// 10 000 ticks per quarter at 1 000 000 µs: one tick is 100 µs; note-ons 10–30 ticks apart
// (1–3 ms), each note released halfway to the next.
std::vector<Note> notes(int count)
{
    std::mt19937 random(11);
    std::vector<Note> out;
    std::int64_t tick = 20;
    for (int i = 0; i < count; ++i) {
        const std::int64_t gap = 10 + std::int64_t(random() % 21);
        const std::uint8_t key = std::uint8_t(40 + i % 40);
        out.push_back({tick * 100, {0x90, key, std::uint8_t(60 + i % 60)}, {0x80, key, 0}, (tick + gap / 2) * 100});
        tick += gap;
    }
    return out;
}

std::vector<std::uint8_t> smf(const std::vector<Note> &song)
{
    struct Timed {
        std::int64_t us;
        std::array<std::uint8_t, 3> bytes;
    };
    std::vector<Timed> events;
    for (const Note &n : song) {
        events.push_back({n.timeUs, n.on});
        events.push_back({n.offUs, n.off});
    }
    std::stable_sort(events.begin(), events.end(), [](const Timed &a, const Timed &b) { return a.us < b.us; });
    std::vector<std::uint8_t> track{0x00, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40}; // 1 000 000 µs per quarter
    std::int64_t now = 0;
    for (const Timed &e : events) {
        bench::putVarLen(track, std::uint32_t((e.us - now) / 100));
        now = e.us;
        track.insert(track.end(), e.bytes.begin(), e.bytes.end());
    }
    track.insert(track.end(), {0, 0xFF, 0x2F, 0});
    std::vector<std::uint8_t> out{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x27, 0x10, 'M', 'T', 'r', 'k'};
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(std::uint8_t(track.size() >> s));
    out.insert(out.end(), track.begin(), track.end());
    return out;
}

// The recording client: every event of every cycle, into storage reserved beforehand.
struct Recorder {
    struct Event {
        jack_nframes_t frame;
        std::uint8_t size;
        std::array<std::uint8_t, 3> bytes;
    };
    jack_client_t *client = nullptr;
    jack_port_t *port = nullptr;
    std::vector<Event> events;
    std::atomic<std::size_t> count{0};

    static int process(jack_nframes_t frames, void *arg)
    {
        auto *self = static_cast<Recorder *>(arg);
        void *buffer = jack_port_get_buffer(self->port, frames);
        const jack_nframes_t start = jack_last_frame_time(self->client);
        const std::uint32_t n = jack_midi_get_event_count(buffer);
        std::size_t at = self->count.load(std::memory_order_relaxed);
        for (std::uint32_t i = 0; i < n && at < self->events.size(); ++i) {
            jack_midi_event_t e;
            if (jack_midi_event_get(&e, buffer, i) != 0)
                continue;
            Event &out = self->events[at++];
            out.frame = start + e.time;
            out.size = std::uint8_t(std::min<std::size_t>(e.size, 3));
            std::copy(e.buffer, e.buffer + out.size, out.bytes.begin());
        }
        self->count.store(at, std::memory_order_release);
        return 0;
    }
};

// The reference: each message written at the frame of its time after a start frame.
struct Reference {
    struct Message {
        std::int64_t frame;
        std::array<std::uint8_t, 3> bytes;
    };
    jack_client_t *client = nullptr;
    jack_port_t *port = nullptr;
    std::vector<Message> messages;
    std::size_t next = 0;
    std::atomic<bool> go{false};
    std::atomic<bool> done{false};
    std::int64_t origin = -1;

    static int process(jack_nframes_t frames, void *arg)
    {
        auto *self = static_cast<Reference *>(arg);
        void *buffer = jack_port_get_buffer(self->port, frames);
        jack_midi_clear_buffer(buffer);
        if (!self->go.load(std::memory_order_acquire) || self->done.load(std::memory_order_relaxed))
            return 0;
        const std::int64_t start = jack_last_frame_time(self->client);
        if (self->origin < 0)
            self->origin = start + frames; // the next cycle's first frame
        while (self->next < self->messages.size()) {
            const Message &m = self->messages[self->next];
            const std::int64_t offset = self->origin + m.frame - start;
            if (offset >= std::int64_t(frames))
                break;
            if (jack_midi_event_write(buffer, jack_nframes_t(std::max<std::int64_t>(offset, 0)), m.bytes.data(), 3))
                break;
            ++self->next;
        }
        if (self->next == self->messages.size())
            self->done.store(true, std::memory_order_release);
        return 0;
    }
};

struct Spread {
    double p1, p50, p99, max, spread; // ms, relative to the median
};

// Lateness of each note-on relative to its song time, in ms, shifted so the median is 0.
Spread spreadOf(std::vector<double> lateness)
{
    std::sort(lateness.begin(), lateness.end());
    const auto at = [&](double q) { return lateness[std::size_t(q * double(lateness.size() - 1) + 0.5)]; };
    const double median = at(0.5);
    return {at(0.01) - median, 0, at(0.99) - median, lateness.back() - median, at(0.99) - at(0.01)};
}

// The recorded note-ons (and, for the order check, notes on and off) since `from`.
void collect(const Recorder &rec, std::size_t from, std::vector<Recorder::Event> &noteEvents)
{
    const std::size_t n = rec.count.load(std::memory_order_acquire);
    for (std::size_t i = from; i < n; ++i) {
        const Recorder::Event &e = rec.events[i];
        if (e.size == 3 && ((e.bytes[0] & 0xF0) == 0x90 || (e.bytes[0] & 0xF0) == 0x80))
            noteEvents.push_back(e);
    }
}

// Lateness per note-on; false when the notes did not arrive whole and in order.
bool latenessOf(const std::vector<Recorder::Event> &got, const std::vector<Note> &song, double rate,
                std::vector<double> &lateness)
{
    std::vector<std::array<std::uint8_t, 3>> expected;
    std::vector<std::pair<std::int64_t, std::array<std::uint8_t, 3>>> timed;
    for (const Note &n : song) {
        timed.push_back({n.timeUs, n.on});
        timed.push_back({n.offUs, n.off});
    }
    std::stable_sort(timed.begin(), timed.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    for (const auto &t : timed)
        expected.push_back(t.second);
    if (got.size() != expected.size()) {
        std::printf("  %zu note messages arrived, %zu expected\n", got.size(), expected.size());
        return false;
    }
    bool same = true;
    std::size_t on = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        same &= got[i].bytes == expected[i];
        if ((got[i].bytes[0] & 0xF0) == 0x90 && on < song.size())
            lateness.push_back(double(got[i].frame) / rate * 1000.0 - double(song[on++].timeUs) / 1000.0);
    }
    if (!same)
        std::printf("  the note messages arrived with other bytes or in another order\n");
    return same;
}

void print(const char *name, const Spread &s)
{
    std::printf("  %-10s lateness around its median: p1 %+.3f ms, p99 %+.3f ms, max %+.3f ms; p99-p1 %.3f ms\n", name,
                s.p1, s.p99, s.max, s.spread);
}

} // namespace

using bench::loadAverage;

int main(int argc, char **argv)
{
    const int count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 4000;
    const std::vector<Note> song = notes(count);
    const double loadBefore = loadAverage();

    Recorder rec;
    rec.events.resize(std::size_t(count) * 4 + 4096);
    jack_status_t status;
    const std::string name = "TonelarkTimingRecorder" + std::to_string(::getpid());
    rec.client = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (!rec.client) {
        std::fprintf(stderr, "no JACK server (set JACK_DEFAULT_SERVER; bench/jack_midi_timing.sh starts one)\n");
        return 1;
    }
    rec.port = jack_port_register(rec.client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(rec.client, &Recorder::process, &rec);
    jack_activate(rec.client);
    const double rate = jack_get_sample_rate(rec.client);
    const jack_nframes_t period = jack_get_buffer_size(rec.client);
    std::printf("JACK dummy server: %u frames a period at %.0f Hz (%.2f ms), %d notes, load %.2f\n", period, rate,
                period / rate * 1000, count, loadBefore);

    // The engine into the recorder's port.
    const std::vector<std::string> ports = brisola::midiOutputPorts();
    int index = -1;
    for (std::size_t i = 0; i < ports.size(); ++i)
        if (ports[i] == name + ":in")
            index = int(i);
    if (index < 0 || BRS4OpenDevice(index, nullptr) != BRSERROR_NOERROR) {
        std::fprintf(stderr, "the engine cannot open the recorder's port\n");
        return 1;
    }
    const std::vector<std::uint8_t> bytes = smf(song);
    BRS4AddListFromMemory(bytes.data(), std::int32_t(bytes.size()), 0, 0);
    std::this_thread::sleep_for(300ms); // the port connected
    const std::size_t engineFrom = rec.count.load();
    BRS4Play(0, 0, 0, 0, 0);
    TBrs4PlayerStatus player{};
    do {
        std::this_thread::sleep_for(50ms);
        BRS4GetPlayerStatus(&player, sizeof player);
    } while (player.State == BRSSTATE_PLAY);
    BRS4CloseDevice();
    std::this_thread::sleep_for(300ms);
    std::vector<Recorder::Event> engineEvents;
    collect(rec, engineFrom, engineEvents);

    // The reference client.
    Reference ref;
    for (const Note &n : song) {
        ref.messages.push_back({std::llround(double(n.timeUs) * rate / 1e6), n.on});
        ref.messages.push_back({std::llround(double(n.offUs) * rate / 1e6), n.off});
    }
    std::stable_sort(ref.messages.begin(), ref.messages.end(),
                     [](const Reference::Message &a, const Reference::Message &b) { return a.frame < b.frame; });
    ref.client = jack_client_open(("TonelarkTimingReference" + std::to_string(::getpid())).c_str(), JackNoStartServer,
                                  &status);
    ref.port = jack_port_register(ref.client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(ref.client, &Reference::process, &ref);
    jack_activate(ref.client);
    jack_connect(ref.client, jack_port_name(ref.port), jack_port_name(rec.port));
    std::this_thread::sleep_for(300ms);
    const std::size_t refFrom = rec.count.load();
    ref.go.store(true, std::memory_order_release);
    while (!ref.done.load(std::memory_order_acquire))
        std::this_thread::sleep_for(50ms);
    std::this_thread::sleep_for(300ms);
    jack_deactivate(ref.client);
    jack_client_close(ref.client);
    std::vector<Recorder::Event> refEvents;
    collect(rec, refFrom, refEvents);
    jack_deactivate(rec.client);
    jack_client_close(rec.client);

    std::vector<double> engineLate, refLate;
    const bool engineWhole = latenessOf(engineEvents, song, rate, engineLate);
    latenessOf(refEvents, song, rate, refLate);
    if (engineLate.empty() || refLate.empty())
        return 1;
    const Spread e = spreadOf(engineLate), r = spreadOf(refLate);
    print("engine", e);
    print("reference", r);
    std::printf("  engine notes %s; spread engine / reference %.1fx; load %.2f -> %.2f\n",
                engineWhole ? "complete, bytes and order exact" : "NOT exact", e.spread / std::max(r.spread, 1e-9),
                loadBefore, loadAverage());
    return engineWhole ? 0 : 2;
}
