#include "SmfTempo.h"

#include "SongException.h"

#include <algorithm>

namespace tonelark {
namespace {

// Sums and products that only overflow on absurd data (a 4-byte tempo of 0xFFFFFFFF, a time
// of centuries) wrap like the 64-bit registers of the engine instead of being undefined.
constexpr qint64 wrapAdd(qint64 a, qint64 b)
{
    return static_cast<qint64>(static_cast<quint64>(a) + static_cast<quint64>(b));
}
constexpr qint64 wrapSub(qint64 a, qint64 b)
{
    return static_cast<qint64>(static_cast<quint64>(a) - static_cast<quint64>(b));
}
constexpr qint64 wrapMul(qint64 a, qint64 b)
{
    return static_cast<qint64>(static_cast<quint64>(a) * static_cast<quint64>(b));
}

constexpr qint64 divisorOf(TSmfEventTempoTimeUnit unit)
{
    switch (unit) {
    case tuSeconds:
        return 1000000;
    case tuMilliseconds:
        return 1000;
    case tuMicroseconds:
        return 1;
    }
    return 1;
}

[[noreturn]] void throwNoTempo()
{
    throw ESongException(QStringLiteral("テンポデータがありません。"));
}

} // namespace

TSmfEventTempoList::TSmfEventTempoList(quint16 TimeBase) : m_timeBase(TimeBase) {}

// D(i, n): microseconds of n ticks at entry i, truncated. A time base of 0 gives ticks no
// duration rather than dividing by zero. |U * n| < 2^31 * 2^32, so the product fits.
qint64 TSmfEventTempoList::duration(size_t index, qint64 ticks) const
{
    if (m_timeBase == 0)
        return 0;
    return (static_cast<qint64>(m_entries[index].FMicroseconds) * ticks) / m_timeBase;
}

void TSmfEventTempoList::Add(const TSmfEventTempo &tempo)
{
    if (m_entries.empty()) {
        m_entries.push_back(tempo);
        m_prefixUs.assign(1, 0);
        m_ascending = true;
        return;
    }
    const TSmfEventTempo &last = m_entries.back();
    if (m_ascending && tempo.FPosition >= last.FPosition) {
        const qint64 span = static_cast<qint64>(tempo.FPosition) - last.FPosition;
        m_prefixUs.push_back(wrapAdd(m_prefixUs.back(), duration(m_entries.size() - 1, span)));
    } else {
        m_ascending = false;
    }
    m_entries.push_back(tempo);
}

void TSmfEventTempoList::Insert(int index, const TSmfEventTempo &tempo)
{
    m_entries.insert(m_entries.begin() + index, tempo);
    rebuildPrefix();
}

void TSmfEventTempoList::Delete(int index)
{
    m_entries.erase(m_entries.begin() + index);
    rebuildPrefix();
}

void TSmfEventTempoList::Clear()
{
    m_entries.clear();
    rebuildPrefix();
}

void TSmfEventTempoList::Sort()
{
    std::stable_sort(m_entries.begin(), m_entries.end(),
                     [](const TSmfEventTempo &a, const TSmfEventTempo &b) {
                         return a.FPosition < b.FPosition;
                     });
    rebuildPrefix();
}

void TSmfEventTempoList::rebuildPrefix()
{
    m_prefixUs.clear();
    m_ascending = std::is_sorted(m_entries.begin(), m_entries.end(),
                                 [](const TSmfEventTempo &a, const TSmfEventTempo &b) {
                                     return a.FPosition < b.FPosition;
                                 });
    if (!m_ascending || m_entries.empty())
        return;
    m_prefixUs.reserve(m_entries.size());
    m_prefixUs.push_back(0);
    for (size_t i = 0; i + 1 < m_entries.size(); ++i) {
        const qint64 span = static_cast<qint64>(m_entries[i + 1].FPosition) - m_entries[i].FPosition;
        m_prefixUs.push_back(wrapAdd(m_prefixUs.back(), duration(i, span)));
    }
}

qint32 TSmfEventTempoList::TickToSecond(qint32 Tick, TSmfEventTempoTimeUnit TimeUnit) const
{
    if (m_entries.empty())
        throwNoTempo();

    // The segment holding Tick is the first entry whose successor starts after Tick (or the
    // last entry); a tick exactly at a change belongs to the new entry.
    size_t index = 0;
    qint64 accUs = 0;
    if (m_ascending) {
        const auto next = std::upper_bound(m_entries.begin(), m_entries.end(), Tick,
                                           [](qint32 tick, const TSmfEventTempo &entry) {
                                               return tick < entry.FPosition;
                                           });
        index = next == m_entries.begin() ? 0 : static_cast<size_t>(next - m_entries.begin()) - 1;
        accUs = m_prefixUs[index];
    } else {
        while (index + 1 < m_entries.size() && m_entries[index + 1].FPosition <= Tick) {
            const qint64 span = static_cast<qint64>(m_entries[index + 1].FPosition) - m_entries[index].FPosition;
            accUs = wrapAdd(accUs, duration(index, span));
            ++index;
        }
    }
    accUs = wrapAdd(accUs, duration(index, static_cast<qint64>(Tick) - m_entries[index].FPosition));
    return static_cast<qint32>(accUs / divisorOf(TimeUnit));
}

qint32 TSmfEventTempoList::TimeToTick(qint64 Time, TSmfEventTempoTimeUnit TimeUnit) const
{
    if (m_entries.empty())
        throwNoTempo();

    const qint64 targetUs = wrapMul(Time, divisorOf(TimeUnit));
    qint64 accUs = 0;
    qint64 result = 0;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (i + 1 < m_entries.size()) {
            const qint64 span = static_cast<qint64>(m_entries[i + 1].FPosition) - m_entries[i].FPosition;
            const qint64 endUs = wrapAdd(accUs, duration(i, span));
            // A time exactly at a segment's end moves on: it yields the tick of the change.
            if (endUs <= targetUs) {
                result = wrapAdd(result, span);
                accUs = endUs;
                continue;
            }
        }
        // A segment of 0 microseconds per quarter takes no time, so no tick of it is reached.
        const qint64 microseconds = m_entries[i].FMicroseconds;
        if (microseconds != 0) {
            const qint64 numerator = wrapMul(wrapSub(targetUs, accUs), m_timeBase);
            // INT64_MIN / -1 would trap; negating with wrap-around gives the same bits.
            const qint64 ticks = microseconds == -1 ? wrapSub(0, numerator) : numerator / microseconds;
            result = wrapAdd(result, ticks);
        }
        break;
    }
    return static_cast<qint32>(result);
}

} // namespace tonelark
