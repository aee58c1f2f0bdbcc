#include "FakeEngine.h"
#include "SmfTempo.h"
#include "Transport.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

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
        // Every combination of the four settings.
        {false, false, false, false, 33}, {false, false, false, true, 1},
        {false, false, true, false, 49},  {false, false, true, true, 17},
        {false, true, false, false, 35},  {false, true, false, true, 3},
        {false, true, true, false, 51},   {false, true, true, true, 19},
        {true, false, false, false, 32},  {true, false, false, true, 0},
        {true, false, true, false, 48},   {true, false, true, true, 16},
        {true, true, false, false, 34},   {true, true, false, true, 2},
        {true, true, true, false, 50},    {true, true, true, true, 18},
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

// A song at 120 beats per minute with 480 ticks per quarter: 960 ticks per second.
class TransportSeekTest : public TransportTest {
protected:
    TransportSeekTest()
    {
        m_tempo.Add(TSmfEventTempo(0, 500000));
        m_transport.play({BRSSTATE_STOP, 0, nullptr}); // the option word 35
        m_engine.calls.clear();
    }
    TSmfEventTempoList m_tempo{480};
};

TEST_F(TransportSeekTest, SkipBackGoesFromTheWholeSecondAndIsNotClamped)
{
    m_transport.skipBack(3400, &m_tempo); // 3000 - 5000 = -2000 ms
    m_transport.skipBack(12999, &m_tempo); // 12000 - 5000 = 7000 ms
    m_transport.skipBack(12999, nullptr);
    EXPECT_EQ(m_engine.calls, (QStringList{"play(35,-1920)", "play(35,6720)"}));
}

TEST_F(TransportSeekTest, SkipForwardComparesTheCurrentTimeWithTheLimit)
{
    // Last note at 10,500 ms and 5 s steps: the limit is 10,000 - 5,000 = 5,000 ms.
    m_transport.skipForward(4999, 10500, &m_tempo); // to 4,000 + 5,000 ms
    m_transport.skipForward(5000, 10500, &m_tempo);
    m_transport.skipForward(7000, 10500, &m_tempo);
    m_transport.skipForward(0, 10500, nullptr);
    EXPECT_EQ(m_engine.calls, QStringList{"play(35,8640)"});
}

TEST_F(TransportSeekTest, ZeroSecondsSwitchesBothSkipsOff)
{
    m_settings.SecondsToSkip = 0;
    m_transport.skipBack(30000, &m_tempo);
    m_transport.skipForward(0, 60000, &m_tempo);
    EXPECT_TRUE(m_engine.calls.isEmpty());
    m_settings.SecondsToSkip = 2; // read at each step, like every setting of the transport
    m_transport.skipForward(0, 60000, &m_tempo);
    EXPECT_EQ(m_engine.calls, QStringList{"play(35,1920)"});
}

TEST_F(TransportSeekTest, RewindNeedsALoopPoint)
{
    m_transport.rewind(-1);
    m_transport.rewind(1920);
    EXPECT_EQ(m_engine.calls, QStringList{"play(35,1920)"});
    TBrs4SmfInformation info{};
    info.LoopTick = -1;
    EXPECT_FALSE(loopPointItemEnabled(info));
    info.LoopTick = 0;
    EXPECT_TRUE(loopPointItemEnabled(info));
}

TEST_F(TransportSeekTest, SeekDialogPlaysOnlyAfterOk)
{
    const SeekChoice time{SeekChoice::Time, 1, 15, 123};
    const SeekChoice tick{SeekChoice::Tick, 1, 15, 123};
    m_transport.seekDialogClosed(kSeekDialogOk, time, &m_tempo);
    m_transport.seekDialogClosed(kSeekDialogOk, tick, &m_tempo);
    // Without a tempo map the time row plays nothing; the tick row needs none.
    m_transport.seekDialogClosed(kSeekDialogOk, time, nullptr);
    m_transport.seekDialogClosed(kSeekDialogOk, tick, nullptr);
    // Esc or the close box, or OK with no row chosen.
    m_transport.seekDialogClosed(kSeekDialogCancel, tick, &m_tempo);
    m_transport.seekDialogClosed(0, tick, &m_tempo);
    m_transport.seekDialogClosed(kSeekDialogOk, SeekChoice{}, &m_tempo);
    EXPECT_EQ(m_engine.calls, (QStringList{"play(35,72000)", "play(35,123)", "play(35,123)"}));
}

// Panels are told of every jump of the position: the jump hook runs once per command that
// moved it, after the engine has it, and never for a start, a pause or a stop.
TEST_F(TransportSeekTest, EveryJumpRunsTheJumpHookOnce)
{
    int jumps = 0;
    qsizetype callsAtJump = -1;
    m_transport.setJumpHook([&] {
        ++jumps;
        callsAtJump = m_engine.calls.size();
    });
    const struct {
        const char *name;
        std::function<void()> command;
        int jumps;
    } commands[] = {
        {"play from stop", [&] { m_transport.play({BRSSTATE_STOP, 0, &m_tempo}); }, 0},
        {"play while playing", [&] { m_transport.play({BRSSTATE_PLAY, 0, &m_tempo}); }, 1},
        {"resume from pause", [&] { m_transport.play({BRSSTATE_PAUSE, 960, &m_tempo}); }, 1},
        {"pause", [&] { m_transport.pause(); }, 0},
        {"stop", [&] { m_transport.stop(); }, 0},
        {"skip back", [&] { m_transport.skipBack(5000, &m_tempo); }, 1},
        {"skip forward", [&] { m_transport.skipForward(5000, 60000, &m_tempo); }, 1},
        {"rewind", [&] { m_transport.rewind(480); }, 1},
        {"rewind without loop point", [&] { m_transport.rewind(-1); }, 0},
        {"seek dialog", [&] { m_transport.seekDialogClosed(kSeekDialogOk, {SeekChoice::Tick, 0, 0, 5}, &m_tempo); }, 1},
        {"drag", [&] { m_transport.mouseDown(Qt::LeftButton); m_transport.mouseUp(Qt::LeftButton, 960, &m_tempo); }, 1},
    };
    for (const auto &c : commands) {
        jumps = 0;
        m_engine.calls.clear();
        c.command();
        EXPECT_EQ(jumps, c.jumps) << c.name;
        if (c.jumps) {
            EXPECT_EQ(callsAtJump, m_engine.calls.size()) << c.name << ": after the engine call";
        }
    }
}

TEST(DragValue, FollowsTheFormulaInFloatingPointAndStopsBelowTheTotal)
{
    TBrs4SmfInformation info{};
    info.TotalTick = 1000;
    info.TotalTime = 500;
    struct Case {
        int maxValue, width, x, base;
        std::optional<int> expected;
    } cases[] = {
        {1000, 329, 100, 0, 310},      // 1000 / 329 × 102 = 310.03; whole-number division gives 306
        {1000, 100, 97, 0, 990},
        {1000, 100, 98, 0, std::nullopt}, // 1000 is not below TotalTick
        {1000, 100, 500, 0, std::nullopt},
        {1000, 100, 47, 1, 490},         // time base compares with TotalTime
        {1000, 100, 48, 1, std::nullopt},
        {1000, 100, -2, 0, 0},
        {1000, 100, -30, 0, -280},      // left of the bar: the bar clamps it to 0
        {1000, 100, 50, 2, std::nullopt}, // unknown base
        {1000, 0, 50, 0, std::nullopt},   // a bar without width
    };
    for (const Case &c : cases)
        EXPECT_EQ(dragValue(c.maxValue, c.width, c.x, c.base, info), c.expected)
            << c.maxValue << " " << c.width << " " << c.x << " " << c.base;
}

TEST_F(TransportSeekTest, DragPlaysFromTheReleasePointInEveryState)
{
    m_settings.PlaybackBaseMode = 0;
    TBrs4SmfInformation info{};
    info.TotalTick = 1000;
    info.TotalTime = 1000;

    EXPECT_TRUE(m_transport.mouseDown(Qt::LeftButton));
    EXPECT_TRUE(m_transport.isMouseDown());
    EXPECT_EQ(m_transport.mouseMove(97, 1000, 100, info), 990);
    // Past the right end the value stays where it was; the release plays from it.
    EXPECT_EQ(m_transport.mouseMove(150, 1000, 100, info), std::nullopt);
    m_transport.mouseUp(Qt::LeftButton, 990, &m_tempo);
    EXPECT_FALSE(m_transport.isMouseDown());
    // A release or move without a drag does nothing.
    EXPECT_EQ(m_transport.mouseMove(10, 1000, 100, info), std::nullopt);
    m_transport.mouseUp(Qt::LeftButton, 500, &m_tempo);

    // Time base converts the milliseconds; without a tempo map it plays nothing but the
    // drag still ends.
    m_settings.PlaybackBaseMode = 1;
    m_transport.mouseDown(Qt::LeftButton);
    m_transport.mouseUp(Qt::LeftButton, 1500, &m_tempo);
    m_transport.mouseDown(Qt::LeftButton);
    m_transport.mouseUp(Qt::LeftButton, 1500, nullptr);
    EXPECT_FALSE(m_transport.isMouseDown());
    EXPECT_EQ(m_engine.calls, (QStringList{"play(35,990)", "play(35,1440)"}));
}

TEST_F(TransportSeekTest, RightOrMiddlePressOrEscEndsADragSoTheReleasePlaysNothing)
{
    struct Case {
        const char *name;
        std::function<void(Transport &)> interrupt;
    } cases[] = {
        {"right press", [](Transport &t) { EXPECT_FALSE(t.mouseDown(Qt::RightButton)); }},
        {"middle press", [](Transport &t) { EXPECT_FALSE(t.mouseDown(Qt::MiddleButton)); }},
        {"Esc", [](Transport &t) { EXPECT_TRUE(t.cancelDrag()); }},
    };
    for (const Case &c : cases) {
        m_transport.mouseDown(Qt::LeftButton);
        c.interrupt(m_transport);
        EXPECT_FALSE(m_transport.isMouseDown()) << c.name;
        EXPECT_FALSE(m_transport.cancelDrag()) << c.name;
        m_transport.mouseUp(Qt::LeftButton, 480, &m_tempo);
    }
    // A right release during a drag does not play either, and the drag goes on.
    m_transport.mouseDown(Qt::LeftButton);
    m_transport.mouseUp(Qt::RightButton, 480, &m_tempo);
    EXPECT_TRUE(m_transport.isMouseDown());
    EXPECT_TRUE(m_engine.calls.isEmpty());
}

} // namespace
