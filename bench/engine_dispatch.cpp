// Real-time dispatch accuracy of the port path: the engine's timing thread (RealtimeClock, the
// one MIDI ports use) plays 10 000 events at irregular 1–3 ms spacing into a sink that records
// when each message arrived by the system clock. Lateness = arrival - the event's due moment
// (the clock's origin + its frame). Prints p50, p99 and the maximum.
//
//   engine_dispatch_bench [EVENTS]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "SmfBytes.h"
#include "Output.h"
#include "RealtimeClock.h"

using namespace brisola;
using Clock = std::chrono::steady_clock;

namespace {

using bench::putVarLen;

// Records into storage reserved beforehand, so that recording never delays a later message.
class StampingSink final : public MidiSink {
public:
    explicit StampingSink(std::size_t capacity) { m_stamps.reserve(capacity); }
    void send(const MidiMessage &message, std::int64_t frame) override
    {
        const auto now = Clock::now();
        // Notes only: the chase at the start is due at the moment of the play command.
        if ((message.status() & 0xE0) == 0x80 && m_stamps.size() < m_stamps.capacity())
            m_stamps.push_back({frame, now});
    }
    struct Stamp {
        std::int64_t frame;
        Clock::time_point arrived;
    };
    std::vector<Stamp> m_stamps;
};

// 960 ticks per quarter at 500 000 µs: one tick is 520.8 µs; gaps of 2–6 ticks (1–3 ms), notes
// alternating on and off.
std::vector<std::uint8_t> song(int events)
{
    std::mt19937 random(7);
    std::vector<std::uint8_t> track;
    for (int i = 0; i < events; ++i) {
        putVarLen(track, 2 + random() % 5);
        const std::uint8_t note = std::uint8_t(40 + (i / 2) % 40);
        const std::uint8_t bytes[] = {std::uint8_t(i % 2 ? 0x80 : 0x90), note, 100};
        track.insert(track.end(), bytes, bytes + 3);
    }
    track.insert(track.end(), {0, 0xFF, 0x2F, 0});
    std::vector<std::uint8_t> out{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x03, 0xC0, 'M', 'T', 'r', 'k'};
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(std::uint8_t(track.size() >> s));
    out.insert(out.end(), track.begin(), track.end());
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    const int events = argc > 1 ? std::max(10, std::atoi(argv[1])) : 10000;
    const auto bytes = song(events);
    BrsError error;
    auto timeline = SmfTimeline::read(bytes.data(), bytes.size(), error);
    if (!timeline) {
        std::fprintf(stderr, "song not read\n");
        return 1;
    }
    EngineCore core;
    auto owned = std::make_unique<StampingSink>(std::size_t(events));
    StampingSink &sink = *owned;
    RealtimeClock output(core, std::move(owned));
    {
        std::lock_guard lock(core.mutex);
        core.sequencer.setTimeline(std::move(timeline));
        core.sequencer.setSink(&output.sink(), output.rate());
    }
    output.start();
    {
        std::lock_guard lock(core.mutex);
        output.syncClock();
        core.sequencer.play(0, 0);
        core.publish();
    }
    output.wake();
    while (core.board.read().State == BRSSTATE_PLAY)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    output.stop();
    {
        std::lock_guard lock(core.mutex);
        core.sequencer.detachSink();
    }

    std::vector<double> lateness;
    for (const auto &s : sink.m_stamps)
        lateness.push_back(std::chrono::duration<double, std::micro>(
                               s.arrived - (output.origin() + std::chrono::microseconds(s.frame)))
                               .count());
    if (lateness.empty())
        return 1;
    std::sort(lateness.begin(), lateness.end());
    auto at = [&](double q) { return lateness[std::min(lateness.size() - 1, std::size_t(q * double(lateness.size())))]; };
    std::printf("%zu events: lateness p50 %.1f us, p99 %.1f us, max %.1f us, min %.1f us\n", lateness.size(), at(0.5),
                at(0.99), lateness.back(), lateness.front());
    return 0;
}
