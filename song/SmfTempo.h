#pragma once

#include <QtGlobal>

#include <vector>

namespace tonelark {

// One tempo change: from tick FPosition on, a quarter note lasts FMicroseconds.
struct TSmfEventTempo {
    TSmfEventTempo(qint32 Position, qint32 Microseconds)
        : FPosition(Position), FMicroseconds(Microseconds) {}
    qint32 FPosition;
    qint32 FMicroseconds;
};

enum TSmfEventTempoTimeUnit : quint8 {
    tuSeconds = 0,
    tuMilliseconds = 1,
    tuMicroseconds = 2,
};

// The tempo map of a song: tempo entries plus the song's ticks per quarter note, converting
// between ticks and time in 64-bit integers. Each segment's duration is truncated on its own
// before the segments are summed, so results match the engine's own integer timing.
class TSmfEventTempoList {
public:
    explicit TSmfEventTempoList(quint16 TimeBase);

    quint16 TimeBase() const { return m_timeBase; }
    int Count() const { return static_cast<int>(m_entries.size()); }
    bool isEmpty() const { return m_entries.empty(); }
    const TSmfEventTempo &Items(int index) const { return m_entries[static_cast<size_t>(index)]; }
    const std::vector<TSmfEventTempo> &entries() const { return m_entries; }

    void Add(const TSmfEventTempo &tempo);
    // Inserts before index (0 <= index <= Count()).
    void Insert(int index, const TSmfEventTempo &tempo);
    void Delete(int index);
    void Clear();
    // Puts the entries in ascending tick order; entries at the same tick keep their order,
    // so the later one in the file still governs the ticks after it.
    void Sort();

    // The time at which Tick is reached, in TimeUnit, cut to 32 bits.
    // Throws ESongException "テンポデータがありません。" when the list is empty.
    qint32 TickToSecond(qint32 Tick, TSmfEventTempoTimeUnit TimeUnit) const;
    // The tick reached at Time (in TimeUnit), cut to 32 bits. A segment of 0 microseconds
    // per quarter takes no time; when it is the last one, the result is its start tick.
    // Throws ESongException "テンポデータがありません。" when the list is empty.
    qint32 TimeToTick(qint64 Time, TSmfEventTempoTimeUnit TimeUnit) const;

private:
    qint64 duration(size_t index, qint64 ticks) const;
    void rebuildPrefix();

    quint16 m_timeBase;
    std::vector<TSmfEventTempo> m_entries;
    // m_prefixUs[i]: microseconds from entry 0 to the start of entry i (sum of the truncated
    // full segments before it). Only valid while m_ascending; lets TickToSecond bisect
    // instead of walking, which keeps lyric timing linear in the file size.
    std::vector<qint64> m_prefixUs;
    bool m_ascending = true;
};

} // namespace tonelark
