#pragma once

#include <atomic>
#include <cstdint>

#include "../Brisola.h"

namespace brisola {

// The player status as one consistent snapshot, written by whichever thread advanced the
// sequencer (one writer at a time: the engine lock holder) and read by any thread without a
// lock (a sequence lock: the reader retries while a write is in progress).
class StatusBoard {
public:
    void publish(const TBrs4PlayerStatus &status)
    {
        const std::uint32_t seq = m_sequence.load(std::memory_order_relaxed);
        m_sequence.store(seq + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        m_state.store(status.State, std::memory_order_relaxed);
        m_tempo.store(status.Tempo, std::memory_order_relaxed);
        m_tick.store(status.Tick, std::memory_order_relaxed);
        m_time.store(status.Time, std::memory_order_relaxed);
        m_loopCount.store(status.LoopCount, std::memory_order_relaxed);
        m_sequence.store(seq + 2, std::memory_order_release);
    }

    TBrs4PlayerStatus read() const
    {
        TBrs4PlayerStatus status{};
        for (;;) {
            const std::uint32_t before = m_sequence.load(std::memory_order_acquire);
            if (before & 1)
                continue;
            status.State = m_state.load(std::memory_order_relaxed);
            status.Tempo = m_tempo.load(std::memory_order_relaxed);
            status.Tick = m_tick.load(std::memory_order_relaxed);
            status.Time = m_time.load(std::memory_order_relaxed);
            status.LoopCount = m_loopCount.load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (m_sequence.load(std::memory_order_relaxed) == before)
                return status;
        }
    }

private:
    std::atomic<std::uint32_t> m_sequence{0};
    std::atomic<TBrsPlayerState> m_state{BRSSTATE_STOP};
    std::atomic<std::int32_t> m_tempo{500000};
    std::atomic<std::int32_t> m_tick{0};
    std::atomic<std::int32_t> m_time{0};
    std::atomic<std::int32_t> m_loopCount{0};
};

} // namespace brisola
