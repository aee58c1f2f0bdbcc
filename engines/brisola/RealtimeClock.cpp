#include "RealtimeClock.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

namespace brisola {

namespace {

using Clock = std::chrono::steady_clock;
// Longest sleep between two position updates, and the stretch before an event that is waited
// actively: a sleeping thread wakes late by the scheduler's granularity, a spinning one does not.
constexpr auto kIdleWake = std::chrono::milliseconds(5);
constexpr auto kFinalWait = std::chrono::microseconds(300);
// Below audio servers' threads (JACK's default is 70 and up), above every ordinary thread.
constexpr int kRealtimePriority = 20;

// A timing thread at ordinary priority waits for a core whenever others are busy: on a loaded
// two-core machine one event in a hundred left 5 ms late. A real-time priority puts it first
// when it wakes. Where that is not allowed (no CAP_SYS_NICE or RLIMIT_RTPRIO), it stays an
// ordinary thread, with the least timer slack the kernel allows.
void raiseTimingPriority()
{
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    sched_param param{};
    param.sched_priority = kRealtimePriority;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

} // namespace

RealtimeClock::RealtimeClock(EngineCore &core, std::unique_ptr<MidiSink> sink, bool precise)
    : m_core(core), m_sink(std::move(sink)), m_origin(Clock::now()), m_precise(precise)
{
}

RealtimeClock::~RealtimeClock() { stop(); }

std::int64_t RealtimeClock::nowFrames() const
{
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - m_origin).count();
}

void RealtimeClock::start()
{
    if (m_running.exchange(true))
        return;
    {
        std::lock_guard lock(m_core.mutex);
        // The sequencer's clock restarted at 0 when this sink was attached.
        m_origin = Clock::now() - std::chrono::microseconds(m_core.sequencer.clock());
    }
    m_thread = std::thread([this] { run(); });
}

void RealtimeClock::stop()
{
    if (!m_running.exchange(false))
        return;
    wake();
    if (m_thread.joinable())
        m_thread.join();
}

void RealtimeClock::syncClock()
{
    if (!m_running.load() || !m_active.load())
        return;
    const std::int64_t behind = nowFrames() - m_core.sequencer.clock();
    if (behind > 0)
        m_core.sequencer.advance(behind);
}

void RealtimeClock::wake()
{
    {
        std::lock_guard lock(m_wakeMutex);
        m_wakeRequested = true;
    }
    m_wakeCondition.notify_one();
}

void RealtimeClock::run()
{
    raiseTimingPriority();
    while (m_running.load()) {
        std::int64_t untilNext;
        std::int64_t clockNow;
        {
            std::lock_guard lock(m_core.mutex);
            if (!m_running.load() || !m_active.load())
                break;
            syncClock();
            m_core.publish();
            untilNext = m_core.sequencer.framesUntilNextEvent();
            clockNow = m_core.sequencer.clock();
        }
        if (untilNext < 0) {
            // Stopped, paused or at the end: the position stands still until a command (which
            // wakes this thread) moves it.
            std::unique_lock lock(m_wakeMutex);
            m_wakeCondition.wait(lock, [this] { return m_wakeRequested || !m_running.load(); });
            m_wakeRequested = false;
            continue;
        }
        // One µs past the due frame: the clock counts whole µs, and an event is sent once the
        // clock has passed its frame.
        const auto due = std::min(Clock::now() + kIdleWake,
                                  m_origin + std::chrono::microseconds(clockNow + untilNext + 1));
        {
            std::unique_lock lock(m_wakeMutex);
            m_wakeCondition.wait_until(lock, m_precise ? due - kFinalWait : due,
                                       [this] { return m_wakeRequested; });
            if (m_wakeRequested) {
                m_wakeRequested = false;
                continue;
            }
        }
        while (m_precise && Clock::now() < due && m_running.load())
            std::this_thread::yield();
    }
}

} // namespace brisola
