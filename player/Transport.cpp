#include "Transport.h"

#include "Engine.h"
#include "SmfTempo.h"

#include <cmath>
#include <limits>

namespace tonelark {

namespace {
constexpr qint32 kMuteVolume = -127;
constexpr qint32 kSettingModeManual = 0;
constexpr qint32 kSettingModeRpg = 1;
constexpr qint32 kBaseTicks = 0;
constexpr qint32 kBaseMilliseconds = 1;
constexpr qint32 kNoLoopPoint = -1;

// A tempo map that can convert. The parser never makes an empty one, but an empty map
// would throw from inside a slot, so it counts as absent.
bool usable(const TSmfEventTempoList *tempoList)
{
    return tempoList && !tempoList->isEmpty();
}

} // namespace

std::optional<int> dragValue(int maxValue, int width, int x, int playbackBaseMode,
                             const TBrs4SmfInformation &info)
{
    if (width <= 0)
        return std::nullopt;
    const long double value = std::floor(static_cast<long double>(maxValue) / width *
                                         (static_cast<long double>(x) + 2));
    long double total = 0;
    if (playbackBaseMode == kBaseTicks)
        total = info.TotalTick;
    else if (playbackBaseMode == kBaseMilliseconds)
        total = info.TotalTime;
    else
        return std::nullopt;
    if (!(value < total))
        return std::nullopt;
    // Far left of the bar the value may pass the 32-bit range; the bar clamps it to 0 anyway.
    if (value < static_cast<long double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

qint32 composePlayOption(const Settings &settings, qint32 previous)
{
    switch (settings.SettingMode) {
    case kSettingModeManual: {
        qint32 option = 0;
        if (!settings.DisableLoop)
            option += BRSPLAY_LOOP;
        if (settings.SkipFirstBlank)
            option += BRSPLAY_SKIPBLANK;
        if (settings.BrsNormalizeOption)
            option += BRSPLAY_NORMALIZE;
        if (!settings.IgnoreSysEx)
            option += BRSPLAY_SYSEX;
        return option;
    }
    case kSettingModeRpg:
        return BRSPLAY_LOOP;
    default:
        return previous;
    }
}

Transport::Transport(Engine &engine, const Settings &settings, const bool &muteMode)
    : m_engine(engine), m_settings(settings), m_muteMode(muteMode)
{
}

void Transport::play(const PlayContext &context)
{
    if (m_muteMode)
        m_engine.setMasterVolume(kMuteVolume);
    m_currentPlayOption = composePlayOption(m_settings, m_currentPlayOption);
    if (m_loopWanted && !m_loopWanted())
        m_currentPlayOption &= ~qint32(BRSPLAY_LOOP);
    if (context.state != BRSSTATE_PAUSE) {
        m_engine.play(m_currentPlayOption, 0);
        commanded();
        if (context.state == BRSSTATE_PLAY && m_jumpHook)
            m_jumpHook();
        return;
    }
    // Resume where the seek bar stands, not where the engine paused: the user may have
    // dragged the bar meanwhile.
    playFromSeekBar(context.progress, context.tempoList);
}

void Transport::playFromSeekBar(qint32 progress, const TSmfEventTempoList *tempoList)
{
    if (m_settings.PlaybackBaseMode == kBaseTicks)
        playFrom(progress);
    else if (m_settings.PlaybackBaseMode == kBaseMilliseconds && usable(tempoList))
        playFrom(tempoList->TimeToTick(progress, tuMilliseconds));
}

void Transport::rewind(qint32 loopTick)
{
    if (loopTick != kNoLoopPoint)
        playFrom(loopTick);
}

void Transport::skipBack(qint32 timeMs, const TSmfEventTempoList *tempoList)
{
    const qint64 seconds = m_settings.SecondsToSkip;
    if (seconds == 0)
        return;
    // C++ % truncates toward zero, as the whole-second rule wants.
    const qint64 target = qint64(timeMs) - qint64(timeMs) % 1000 - seconds * 1000;
    if (usable(tempoList))
        playFrom(tempoList->TimeToTick(target, tuMilliseconds));
}

void Transport::skipForward(qint32 timeMs, qint32 lastNoteTimeMs, const TSmfEventTempoList *tempoList)
{
    const qint64 seconds = m_settings.SecondsToSkip;
    if (seconds == 0)
        return;
    const qint64 target = qint64(timeMs) - qint64(timeMs) % 1000 + seconds * 1000;
    const qint64 limit = qint64(lastNoteTimeMs) - qint64(lastNoteTimeMs) % 1000 - seconds * 1000;
    if (timeMs >= limit)
        return;
    if (usable(tempoList))
        playFrom(tempoList->TimeToTick(target, tuMilliseconds));
}

void Transport::seekDialogClosed(int modalResult, const SeekChoice &choice,
                                 const TSmfEventTempoList *tempoList)
{
    if (modalResult != kSeekDialogOk)
        return;
    if (choice.unit == SeekChoice::Time) {
        if (usable(tempoList))
            playFrom(tempoList->TimeToTick(qint64(choice.minutes) * 60 + choice.seconds, tuSeconds));
    } else if (choice.unit == SeekChoice::Tick) {
        playFrom(choice.tick);
    }
}

bool Transport::mouseDown(Qt::MouseButton button)
{
    m_isMouseDown = button == Qt::LeftButton;
    if (m_isMouseDown)
        commanded();
    return m_isMouseDown;
}

std::optional<int> Transport::mouseMove(int x, int maxValue, int width,
                                        const TBrs4SmfInformation &info) const
{
    if (!m_isMouseDown)
        return std::nullopt;
    return dragValue(maxValue, width, x, m_settings.PlaybackBaseMode, info);
}

void Transport::mouseUp(Qt::MouseButton button, qint32 progress, const TSmfEventTempoList *tempoList)
{
    if (button == Qt::RightButton || !m_isMouseDown)
        return;
    playFromSeekBar(progress, tempoList);
    m_isMouseDown = false;
}

bool Transport::cancelDrag()
{
    const bool wasDragging = m_isMouseDown;
    m_isMouseDown = false;
    return wasDragging;
}

void Transport::pause()
{
    m_engine.pause();
    commanded();
}

void Transport::playFrom(qint32 tick)
{
    m_engine.play(m_currentPlayOption, tick);
    commanded();
    if (m_jumpHook)
        m_jumpHook();
}

void Transport::stop()
{
    m_engine.play(m_currentPlayOption, 0);
    m_engine.stop();
    commanded();
}

} // namespace tonelark
