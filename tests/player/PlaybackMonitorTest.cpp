#include "FakeEngine.h"
#include "PlaybackMonitor.h"
#include "SmfTempo.h"

#include <gtest/gtest.h>

#include <ostream>

using namespace tonelark;
using tonelark::test::FakeEngine;

namespace {

constexpr TransportButtons kStopped{true, false, false, true};
constexpr TransportButtons kPlaying{false, true, true, true};
constexpr TransportButtons kPaused{true, true, false, true};

// 480 ticks per quarter; 120 bpm to tick 960 (1 s), then 240 bpm: tick 1440 is 1250 ms.
TSmfEventTempoList twoTempos()
{
    TSmfEventTempoList list(480);
    list.Add(TSmfEventTempo(0, 500000));
    list.Add(TSmfEventTempo(960, 250000));
    return list;
}

struct TickCase {
    const char *name;
    // engine
    TBrsPlayerState state;
    std::int32_t tick, time, totalTick, totalTime, loopTick, loopTime;
    // window
    MonitorInputs inputs;
    bool withTempo;
    // expected
    std::optional<TransportButtons> buttons;
    std::optional<QString> text;
    std::optional<int> maxValue, medValue, progress;
};

void PrintTo(const TickCase &c, std::ostream *os)
{
    *os << c.name;
}

MonitorInputs inputs(int base, bool ticks = false, bool drag = false, int gauge = 0)
{
    MonitorInputs in;
    in.playbackBaseMode = base;
    in.displayTicks = ticks;
    in.isMouseDown = drag;
    in.gaugeProgress = gauge;
    return in;
}

const std::optional<QString> kUnchanged;

const TickCase kCases[] = {
    {"stopped at the start", BRSSTATE_STOP, 0, 0, 1920, 3605000, -1, -1, inputs(0), true,
     kStopped, QStringLiteral("00:00 / 60:05"), 1920, -1, 0},
    {"playing, tick base", BRSSTATE_PLAY, 960, 75250, 1920, 3605000, 480, 500, inputs(0), true,
     kPlaying, QStringLiteral("01:15 / 60:05"), 1920, 480, 960},
    {"paused keeps the position", BRSSTATE_PAUSE, 960, 75250, 1920, 3605000, 480, 500, inputs(0), true,
     kPaused, QStringLiteral("01:15 / 60:05"), 1920, 480, 960},
    {"unknown state leaves the buttons", 7, 960, 75250, 1920, 3605000, 480, 500, inputs(0), true,
     std::nullopt, QStringLiteral("01:15 / 60:05"), 1920, 480, 960},
    {"ticks on the panel", BRSSTATE_PLAY, 960, 75250, 1920, 3605000, 480, 500, inputs(0, true), true,
     kPlaying, QStringLiteral("960 / 1920"), 1920, 480, 960},
    {"millisecond base", BRSSTATE_PLAY, 960, 75250, 1920, 3605000, 480, 500, inputs(1), true,
     kPlaying, QStringLiteral("01:15 / 60:05"), 3605000, 500, 75250},
    {"unknown base leaves the seek bar", BRSSTATE_PLAY, 960, 75250, 1920, 3605000, 480, 500, inputs(2), true,
     kPlaying, QStringLiteral("01:15 / 60:05"), std::nullopt, std::nullopt, std::nullopt},
    {"minutes are not wrapped", BRSSTATE_PLAY, 0, 6000000, 1920, 6000000, -1, -1, inputs(1), true,
     kPlaying, QStringLiteral("100:00 / 100:00"), 6000000, -1, 6000000},
    {"no song: zero totals", BRSSTATE_STOP, 0, 0, 0, 0, -1, -1, inputs(0), false,
     kStopped, QStringLiteral("00:00 / 00:00"), 0, -1, 0},
    {"zero total time guards both bases", BRSSTATE_PLAY, 100, 0, 1920, 0, -1, -1, inputs(1), false,
     kPlaying, QStringLiteral("00:00 / 00:00"), 0, -1, 0},
    {"zero total tick with a time is not divided by", BRSSTATE_PLAY, 100, 500, 0, 1000, -1, -1, inputs(0), false,
     kPlaying, QStringLiteral("00:00 / 00:01"), 0, -1, 0},
    {"negative totals give an empty range", BRSSTATE_STOP, 0, 0, -1, -1, -1, -1, inputs(1), false,
     kStopped, QStringLiteral("00:00 / 00:00"), 0, -1, 0},
    {"end of song without loop shows stop", BRSSTATE_STOP, 1920, 3605000, 1920, 3605000, -1, -1, inputs(0), true,
     kStopped, QStringLiteral("60:05 / 60:05"), 1920, -1, 1920},
    // A drag: the panel shows the seek bar's value, the seek bar is left to the mouse, the
    // range and the marker are still refreshed.
    {"drag, tick base, times", BRSSTATE_PLAY, 100, 100, 1920, 3605000, 480, 500, inputs(0, false, true, 1440), true,
     kPlaying, QStringLiteral("00:01 / 60:05"), 1920, 480, std::nullopt},
    {"drag, tick base, ticks", BRSSTATE_PLAY, 100, 100, 1920, 3605000, 480, 500, inputs(0, true, true, 1440), true,
     kPlaying, QStringLiteral("1440 / 1920"), 1920, 480, std::nullopt},
    {"drag, millisecond base, ticks", BRSSTATE_PLAY, 100, 100, 1920, 3605000, 480, 500, inputs(1, true, true, 1250), true,
     kPlaying, QStringLiteral("1440 / 1920"), 3605000, 500, std::nullopt},
    {"drag, millisecond base, times", BRSSTATE_PAUSE, 100, 100, 1920, 3605000, 480, 500, inputs(1, false, true, 75250), true,
     kPaused, QStringLiteral("01:15 / 60:05"), 3605000, 500, std::nullopt},
    {"drag, unknown base", BRSSTATE_PLAY, 100, 100, 1920, 3605000, 480, 500, inputs(2, false, true, 75250), true,
     kPlaying, kUnchanged, std::nullopt, std::nullopt, std::nullopt},
    {"drag without a tempo map keeps the text", BRSSTATE_PLAY, 100, 100, 1920, 3605000, 480, 500, inputs(0, false, true, 1440), false,
     kPlaying, kUnchanged, 1920, 480, std::nullopt},
};

class PlaybackMonitorTick : public ::testing::TestWithParam<TickCase> {};

} // namespace

TEST_P(PlaybackMonitorTick, Display)
{
    const TickCase &c = GetParam();
    FakeEngine engine;
    engine.setStatus(c.state, c.tick, c.time);
    engine.setTotals(c.totalTick, c.totalTime, c.loopTick, c.loopTime);
    const TSmfEventTempoList tempo = twoTempos();
    PlaybackMonitor monitor(engine);
    if (c.withTempo)
        monitor.setTempoList(&tempo);
    const MonitorDisplay display = monitor.tick(c.inputs);
    EXPECT_EQ(display.buttons, c.buttons);
    EXPECT_EQ(display.timeText, c.text);
    EXPECT_EQ(display.gaugeMaxValue, c.maxValue);
    EXPECT_EQ(display.gaugeMedValue, c.medValue);
    EXPECT_EQ(display.gaugeProgress, c.progress);
    EXPECT_EQ(monitor.status().Tick, c.tick);
    EXPECT_EQ(monitor.info().TotalTick, c.totalTick);
}

INSTANTIATE_TEST_SUITE_P(Table, PlaybackMonitorTick, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TickCase> &info) {
                             std::string name = info.param.name;
                             for (char &ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

TEST(PlaybackMonitor, PollsStatusThenInformationAndNothingElse)
{
    FakeEngine engine;
    PlaybackMonitor monitor(engine);
    monitor.tick(inputs(0));
    EXPECT_EQ(engine.calls, (QStringList{QStringLiteral("status()"), QStringLiteral("info()")}));
}

TEST(PlaybackMonitor, LyricsStepRunsOnlyWhileVisibleAndSeesTheFreshStatus)
{
    FakeEngine engine;
    PlaybackMonitor monitor(engine);
    int steps = 0;
    std::int32_t seenTick = -1;
    QObject::connect(&monitor, &PlaybackMonitor::lyricsStep, [&] {
        ++steps;
        seenTick = monitor.status().Tick;
        EXPECT_EQ(engine.calls.size() % 2, 0); // both polls done
    });
    engine.setStatus(BRSSTATE_PLAY, 480, 500);
    MonitorInputs in = inputs(0);
    monitor.tick(in);
    EXPECT_EQ(steps, 0);
    in.lyricsVisible = true;
    monitor.tick(in);
    EXPECT_EQ(steps, 1);
    EXPECT_EQ(seenTick, 480);
    engine.setStatus(BRSSTATE_PLAY, 960, 1000);
    monitor.tick(in);
    EXPECT_EQ(steps, 2);
    EXPECT_EQ(seenTick, 960);
}

TEST(PlaybackMonitor, SwitchingToTicksWhilePausedChangesTheTextAtTheNextTick)
{
    FakeEngine engine;
    engine.setStatus(BRSSTATE_PAUSE, 960, 1000);
    engine.setTotals(1920, 2000);
    PlaybackMonitor monitor(engine);
    MonitorInputs in = inputs(0);
    EXPECT_EQ(monitor.tick(in).timeText, QStringLiteral("00:01 / 00:02"));
    in.displayTicks = true;
    EXPECT_EQ(monitor.tick(in).timeText, QStringLiteral("960 / 1920"));
}

TEST(PlaybackMonitor, SeekBarValueFollowsThePositionAcrossTheSong)
{
    FakeEngine engine;
    engine.setTotals(7, 3, 3, 1);
    PlaybackMonitor monitor(engine);
    // Floor of tick / total × maximum with the maximum equal to the total: the position
    // itself, also for thirds and sevenths that no binary fraction holds exactly.
    for (int tick = 0; tick <= 7; ++tick) {
        engine.setStatus(BRSSTATE_PLAY, tick, tick * 3 / 7);
        EXPECT_EQ(monitor.tick(inputs(0)).gaugeProgress, tick) << tick;
    }
}

TEST(PlaybackMonitor, TransportButtonTable)
{
    EXPECT_EQ(transportButtonsFor(BRSSTATE_STOP), kStopped);
    EXPECT_EQ(transportButtonsFor(BRSSTATE_PLAY), kPlaying);
    EXPECT_EQ(transportButtonsFor(BRSSTATE_PAUSE), kPaused);
    for (int state = 3; state < 256; ++state)
        EXPECT_EQ(transportButtonsFor(static_cast<TBrsPlayerState>(state)), std::nullopt);
}

TEST(PlaybackMonitor, InitialPanelText)
{
    EXPECT_EQ(PlaybackMonitor::initialTimeText(), QStringLiteral("--:-- / --:--"));
}
