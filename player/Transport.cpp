#include "Transport.h"

#include "Engine.h"
#include "SmfTempo.h"

namespace tonelark {

namespace {
constexpr qint32 kMuteVolume = -127;
constexpr qint32 kSettingModeManual = 0;
constexpr qint32 kSettingModeRpg = 1;
constexpr qint32 kBaseTicks = 0;
constexpr qint32 kBaseMilliseconds = 1;
} // namespace

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
    if (context.state != BRSSTATE_PAUSE) {
        m_engine.play(m_currentPlayOption, 0);
        return;
    }
    // Resume where the seek bar stands, not where the engine paused: the user may have
    // dragged the bar meanwhile.
    if (m_settings.PlaybackBaseMode == kBaseTicks) {
        m_engine.play(m_currentPlayOption, context.progress);
    } else if (m_settings.PlaybackBaseMode == kBaseMilliseconds && context.tempoList) {
        m_engine.play(m_currentPlayOption,
                      context.tempoList->TimeToTick(context.progress, tuMilliseconds));
    }
}

void Transport::pause()
{
    m_engine.pause();
}

void Transport::playFrom(qint32 tick)
{
    m_engine.play(m_currentPlayOption, tick);
}

void Transport::stop()
{
    m_engine.play(m_currentPlayOption, 0);
    m_engine.stop();
}

} // namespace tonelark
