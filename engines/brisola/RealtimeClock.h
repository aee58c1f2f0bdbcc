#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <thread>

#include "Output.h"

namespace brisola {

// Drives the sequencer in real time from a thread of its own, for sinks that dispatch
// immediately (MIDI ports, the silent output, test recorders). Clock frames are microseconds
// since start(): frame f is due at origin() + f µs. The thread sleeps until shortly before the
// next event and waits the last stretch actively, so events leave within tens of µs of their
// time; between events it still wakes every few milliseconds to publish the position. While
// nothing plays it sleeps until a command wakes it.
class RealtimeClock final : public Output {
public:
    static constexpr std::uint32_t kRate = 1000000;

    // `precise`: wait the last stretch before each event actively (MIDI ports, test
    // recorders). The silent output has nobody listening and sleeps instead.
    RealtimeClock(EngineCore &core, std::unique_ptr<MidiSink> sink, bool precise = true);
    ~RealtimeClock() override;

    MidiSink &sink() override { return *m_sink; }
    std::uint32_t rate() const override { return kRate; }
    void start() override;
    void stop() override;
    void deactivate() override { m_active = false; }
    void syncClock() override;
    void wake() override;

    std::chrono::steady_clock::time_point origin() const { return m_origin; }

private:
    void run();
    std::int64_t nowFrames() const;

    EngineCore &m_core;
    std::unique_ptr<MidiSink> m_sink;
    std::chrono::steady_clock::time_point m_origin;
    std::thread m_thread;
    std::mutex m_wakeMutex;
    std::condition_variable m_wakeCondition;
    bool m_wakeRequested = false;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_active{true};
    bool m_precise = true;
};

} // namespace brisola
