#include "PlaybackMonitor.h"

#include "CstmUtils.h"
#include "Engine.h"
#include "SmfTempo.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tonelark {

namespace {

// Floor(position / total × maximum), the quotient in extended precision; 0 for a total of
// 0 instead of a division by zero.
int scaledPosition(qint32 position, qint32 total, int maximum)
{
    if (total == 0)
        return 0;
    const long double quotient = static_cast<long double>(position) / static_cast<long double>(total);
    return clampToInt(std::floor(quotient * static_cast<long double>(maximum)));
}

} // namespace

std::optional<TransportButtons> transportButtonsFor(TBrsPlayerState state)
{
    switch (state) {
    case BRSSTATE_STOP:
        return TransportButtons{true, false, false, true};
    case BRSSTATE_PLAY:
        return TransportButtons{false, true, true, true};
    case BRSSTATE_PAUSE:
        return TransportButtons{true, true, false, true};
    default:
        return std::nullopt;
    }
}

PlaybackMonitor::PlaybackMonitor(Engine &engine, QObject *parent)
    : QObject(parent), m_engine(engine)
{
}

QString PlaybackMonitor::timeText(qint64 positionMs, qint64 totalMs)
{
    return formatMinutesSeconds(positionMs) + QStringLiteral(" / ") + formatMinutesSeconds(totalMs);
}

MonitorDisplay PlaybackMonitor::tick(const MonitorInputs &inputs)
{
    m_status = m_engine.status();
    m_info = m_engine.info();

    MonitorDisplay display;
    display.buttons = transportButtonsFor(m_status.State);

    // After the polls, so the list is drawn from the fresh status.
    if (inputs.lyricsVisible)
        emit lyricsStep();

    display.timeText = panelText(inputs);

    // The seek bar refuses a maximum below its minimum 0; an engine reporting a negative
    // total (no song, or a broken one) must not take the monitor down with it.
    int maximum = 0;
    if (inputs.playbackBaseMode == 0) {
        maximum = std::max(m_info.TotalTick, 0);
        display.gaugeMaxValue = maximum;
        display.gaugeMedValue = m_info.LoopTick;
    } else if (inputs.playbackBaseMode == 1) {
        maximum = std::max(m_info.TotalTime, 0);
        display.gaugeMaxValue = maximum;
        display.gaugeMedValue = m_info.LoopTime;
    }
    if (inputs.playbackBaseMode == 0 || inputs.playbackBaseMode == 1) {
        const auto inBar = [&](qint32 tick) -> int {
            if (tick < 0 || inputs.playbackBaseMode == 0)
                return tick;
            return m_tempoList && !m_tempoList->isEmpty() ? m_tempoList->TickToSecond(tick, tuMilliseconds) : -1;
        };
        display.gaugeRepeatMarks = std::pair(inBar(inputs.repeatStartTick), inBar(inputs.repeatEndTick));
        if (inputs.repeatEndTick >= 0)
            display.gaugeMedValue = -1;
    }

    // While dragging, the seek bar belongs to the mouse.
    if (!inputs.isMouseDown) {
        if (m_info.TotalTime < 1)
            display.gaugeProgress = 0;
        else if (inputs.playbackBaseMode == 0)
            display.gaugeProgress = scaledPosition(m_status.Tick, m_info.TotalTick, maximum);
        else if (inputs.playbackBaseMode == 1)
            display.gaugeProgress = scaledPosition(m_status.Time, m_info.TotalTime, maximum);
    }
    return display;
}

std::optional<QString> PlaybackMonitor::panelText(const MonitorInputs &inputs) const
{
    if (!inputs.isMouseDown) {
        if (inputs.displayTicks)
            return formatTickPair(m_status.Tick, m_info.TotalTick);
        return timeText(m_status.Time, m_info.TotalTime);
    }
    // A drag shows where the seek bar's value would take the song.
    const int position = inputs.gaugeProgress;
    if (inputs.playbackBaseMode == 0) {
        if (inputs.displayTicks)
            return formatTickPair(position, m_info.TotalTick);
        if (!m_tempoList || m_tempoList->isEmpty())
            return std::nullopt;
        return timeText(m_tempoList->TickToSecond(position, tuMilliseconds), m_info.TotalTime);
    }
    if (inputs.playbackBaseMode == 1) {
        if (inputs.displayTicks) {
            if (!m_tempoList || m_tempoList->isEmpty())
                return std::nullopt;
            return formatTickPair(m_tempoList->TimeToTick(position, tuMilliseconds), m_info.TotalTick);
        }
        return timeText(position, m_info.TotalTime);
    }
    return std::nullopt;
}

} // namespace tonelark
