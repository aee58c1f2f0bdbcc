#include "ABRepeat.h"

#include "Engine.h"
#include "SmfTempo.h"
#include "SmfTexts.h"
#include "Transport.h"

#include <algorithm>

namespace tonelark {

namespace {
// PlaybackBaseMode: the seek bar counts ticks or milliseconds.
constexpr int kBaseTicks = 0;
constexpr int kBaseMilliseconds = 1;
} // namespace

QString ABRepeat::timeOf(qint32 tick) const
{
    // Tenths of a second: two points a few beats apart often share their whole second.
    if (!m_tempoList || m_tempoList->isEmpty())
        return QStringLiteral("%1 ティック").arg(tick);
    const qint32 ms = std::max(m_tempoList->TickToSecond(tick, tuMilliseconds), 0);
    return QStringLiteral("%1:%2.%3")
        .arg(ms / 60000, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 100 % 10);
}

QString ABRepeat::setStart(qint32 tick)
{
    tick = std::max(tick, 0);
    if (!m_end) {
        m_start = tick;
        return {};
    }
    if (tick >= *m_end)
        return QStringLiteral("A-B リピート: A (%1) が B (%2) と同じか後ろなので設定できません。"
                              "A は B より前に置いてください。")
            .arg(timeOf(tick), timeOf(*m_end));
    return setRange(tick, *m_end);
}

QString ABRepeat::setEnd(qint32 tick)
{
    return setRange(m_start.value_or(0), tick);
}

QString ABRepeat::setRange(qint32 startTick, qint32 endTick)
{
    startTick = std::max(startTick, 0);
    if (endTick <= startTick)
        return QStringLiteral("A-B リピート: B (%2) が A (%1) と同じか前なので設定できません。"
                              "B は A より後ろに置いてください。")
            .arg(timeOf(startTick), timeOf(endTick));
    if (m_engine.setRepeat(startTick, endTick) != BRSERROR_NOERROR)
        return QStringLiteral("A-B リピート: A (%1) と B (%2) が近すぎるか曲の外なので設定できません。")
            .arg(timeOf(startTick), timeOf(endTick));
    m_start = startTick;
    m_end = endTick;
    return {};
}

void ABRepeat::clear()
{
    if (m_end)
        m_engine.setRepeat(-1, -1);
    forget();
}

bool ABRepeat::seekedTo(qint32 tick)
{
    if (!m_end || (tick >= *m_start && tick < *m_end))
        return false;
    clear();
    return true;
}

QString ABRepeat::mark() const
{
    if (m_end)
        return QStringLiteral("A-B");
    return m_start ? QStringLiteral("A") : QString();
}

std::optional<std::pair<qint32, qint32>> lyricLineRange(const TSmfMetaEventString &lyrics, int row,
                                                        qint32 totalTick)
{
    if (row < 0 || row >= lyrics.Count() || !lyrics.Objects(row))
        return std::nullopt;
    const qint32 start = lyrics.Objects(row)->Tick;
    // Lines of one lyric event share its tick: the line's end is where the next one is sung.
    for (int next = row + 1; next < lyrics.Count(); ++next)
        if (const TSmfLyricInfo *info = lyrics.Objects(next); info && info->Tick > start)
            return std::pair(start, info->Tick);
    return std::pair(start, totalTick);
}

std::optional<qint32> seekBarTick(int x, int width, int maxValue, int playbackBaseMode,
                                  const TBrs4SmfInformation &info, const TSmfEventTempoList *tempoList)
{
    if (width <= 0 || (playbackBaseMode != kBaseTicks && playbackBaseMode != kBaseMilliseconds))
        return std::nullopt;
    const std::optional<int> value = dragValue(maxValue, width, x, playbackBaseMode, info);
    if (!value)
        return info.TotalTick;
    if (playbackBaseMode == kBaseTicks)
        return std::clamp<qint32>(*value, 0, info.TotalTick);
    if (!tempoList || tempoList->isEmpty())
        return std::nullopt;
    return std::clamp<qint32>(tempoList->TimeToTick(std::max(*value, 0), tuMilliseconds), 0, info.TotalTick);
}

} // namespace tonelark
