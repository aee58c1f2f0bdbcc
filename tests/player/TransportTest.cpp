#include "FakeEngine.h"
#include "SmfTempo.h"
#include "Transport.h"

#include <gtest/gtest.h>

using namespace tonelark;
using namespace tonelark::test;

namespace {

Settings manual(bool disableLoop, bool skipFirstBlank, bool normalize, bool ignoreSysEx)
{
    Settings settings;
    settings.SettingMode = 0;
    settings.DisableLoop = disableLoop;
    settings.SkipFirstBlank = skipFirstBlank;
    settings.BrsNormalizeOption = normalize;
    settings.IgnoreSysEx = ignoreSysEx;
    return settings;
}

TEST(ComposePlayOption, ManualModeBuildsTheWordFromTheFourSettings)
{
    struct Case {
        bool disableLoop, skipFirstBlank, normalize, ignoreSysEx;
        qint32 expected;
    } cases[] = {
        {false, false, false, false, 1 + 32},
        {true, false, false, true, 0},
        {false, true, false, false, 1 + 2 + 32},
        {false, false, true, false, 1 + 16 + 32},
        {true, true, true, true, 2 + 16},
        {false, true, true, false, 1 + 2 + 16 + 32},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(composePlayOption(manual(c.disableLoop, c.skipFirstBlank, c.normalize, c.ignoreSysEx), 999),
                  c.expected)
            << c.disableLoop << c.skipFirstBlank << c.normalize << c.ignoreSysEx;
    }
}

TEST(ComposePlayOption, RpgModeLoopsOnlyAndOtherModesKeepThePreviousWord)
{
    Settings settings = manual(true, true, true, true);
    settings.SettingMode = 1;
    EXPECT_EQ(composePlayOption(settings, 50), 1);
    for (qint32 mode : {2, -1, 100}) {
        settings.SettingMode = mode;
        EXPECT_EQ(composePlayOption(settings, 50), 50) << mode;
    }
}

class TransportTest : public ::testing::Test {
protected:
    FakeEngine m_engine;
    Settings m_settings = manual(false, true, false, false);
    bool m_muteMode = false;
    Transport m_transport{m_engine, m_settings, m_muteMode};
};

TEST_F(TransportTest, PlayWhenNotPausedStartsFromTheBeginning)
{
    for (TBrsPlayerState state : {TBrsPlayerState(BRSSTATE_STOP), TBrsPlayerState(BRSSTATE_PLAY), TBrsPlayerState(7)}) {
        m_engine.calls.clear();
        m_transport.play({state, 1234, nullptr});
        EXPECT_EQ(m_engine.calls, QStringList{"play(35,0)"}) << int(state);
    }
    EXPECT_EQ(m_transport.currentPlayOption(), 35);
}

TEST_F(TransportTest, MuteModeTurnsTheVolumeDownBeforeEveryPlayCommandOnly)
{
    m_muteMode = true;
    m_transport.play({BRSSTATE_STOP, 0, nullptr});
    m_transport.stop();
    m_transport.pause();
    m_transport.playFrom(10);
    EXPECT_EQ(m_engine.calls, (QStringList{"setMasterVolume(-127)", "play(35,0)", "play(35,0)", "stop()",
                                           "pause()", "play(35,10)"}));
}

TEST_F(TransportTest, PausedSongResumesFromTheSeekBarInEitherBase)
{
    TSmfEventTempoList tempo(480);
    tempo.Add(TSmfEventTempo(0, 500000)); // 960 ticks per second

    m_settings.PlaybackBaseMode = 0;
    m_transport.play({BRSSTATE_PAUSE, 700, &tempo});
    m_settings.PlaybackBaseMode = 1;
    m_transport.play({BRSSTATE_PAUSE, 1500, &tempo});
    // Time base without a tempo map, or an unknown base: nothing is played.
    m_transport.play({BRSSTATE_PAUSE, 1500, nullptr});
    m_settings.PlaybackBaseMode = 2;
    m_transport.play({BRSSTATE_PAUSE, 1500, &tempo});
    EXPECT_EQ(m_engine.calls, (QStringList{"play(35,700)", "play(35,1440)"}));
}

TEST_F(TransportTest, StopPlaysFromZeroThenStopsWithoutRecomposing)
{
    m_transport.play({BRSSTATE_STOP, 0, nullptr});
    m_settings.DisableLoop = true; // reaches the engine only at the next Play
    m_engine.calls.clear();
    m_transport.stop();
    m_transport.playFrom(480);
    EXPECT_EQ(m_engine.calls, (QStringList{"play(35,0)", "stop()", "play(35,480)"}));
    m_transport.play({BRSSTATE_STOP, 0, nullptr});
    EXPECT_EQ(m_engine.calls.last(), QStringLiteral("play(34,0)"));
}

TEST_F(TransportTest, CommandsBeforeAnyPlayUseTheWordZero)
{
    m_transport.playFrom(0);
    EXPECT_EQ(m_engine.calls, QStringList{"play(0,0)"});
}

} // namespace
