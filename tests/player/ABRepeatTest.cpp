#include "ABRepeat.h"
#include "FakeEngine.h"
#include "SmfTempo.h"
#include "SmfTexts.h"

#include <gtest/gtest.h>

using namespace tonelark;
using namespace tonelark::test;

TEST(ABRepeat, AWaitsForBRefusalsChangeNothingAndLeavingTheRangeClearsIt)
{
    FakeEngine engine;
    ABRepeat repeat(engine);
    // One command: refused or not, what reached the engine, the points and the mark after it.
    const auto step = [&](const QString &refusal, bool refused, const QStringList &calls,
                          std::optional<qint32> a, std::optional<qint32> b, const char *mark) {
        EXPECT_EQ(!refusal.isEmpty(), refused) << refusal.toStdString();
        EXPECT_EQ(engine.calls, calls);
        EXPECT_EQ(repeat.start(), a);
        EXPECT_EQ(repeat.end(), b);
        EXPECT_EQ(repeat.mark(), QLatin1String(mark));
        engine.calls.clear();
    };
    step(repeat.setStart(480), false, {}, 480, {}, "A");
    step(repeat.setEnd(480), true, {}, 480, {}, "A");   // B at A
    step(repeat.setEnd(100), true, {}, 480, {}, "A");   // B before A
    step(repeat.setEnd(1920), false, {"setRepeat(480,1920)"}, 480, 1920, "A-B");
    step(repeat.setStart(1920), true, {}, 480, 1920, "A-B"); // A at B
    step(repeat.setStart(960), false, {"setRepeat(960,1920)"}, 960, 1920, "A-B");
    engine.repeatResult = BRSERROR_FAILED; // too short for the engine
    step(repeat.setRange(960, 962), true, {"setRepeat(960,962)"}, 960, 1920, "A-B");
    engine.repeatResult = BRSERROR_NOERROR;
    EXPECT_FALSE(repeat.seekedTo(960));
    EXPECT_FALSE(repeat.seekedTo(1919));
    EXPECT_TRUE(repeat.seekedTo(1920)); // B itself lies outside
    step({}, false, {"setRepeat(-1,-1)"}, {}, {}, "");
    step(repeat.setEnd(720), false, {"setRepeat(0,720)"}, 0, 720, "A-B"); // without A: from the start
    EXPECT_TRUE(repeat.seekedTo(800));
    step({}, false, {"setRepeat(-1,-1)"}, {}, {}, "");
    repeat.setStart(100);
    repeat.clear(); // A alone: nothing to tell the engine
    step({}, false, {}, {}, {}, "");
}

TEST(ABRepeat, LyricLineRangesAndSeekBarPoints)
{
    TSmfMetaEventString lyrics;
    const auto line = [&](const char *text, qint32 tick) {
        auto info = std::make_unique<TSmfLyricInfo>();
        info->Tick = tick;
        lyrics.AddObject(QString::fromUtf8(text), std::move(info));
    };
    line("さいた", 0);
    line("さいた", 0); // a second line of the same event
    line("さくら", 960);
    line("が", 1920);
    using Range = std::optional<std::pair<qint32, qint32>>;
    EXPECT_EQ(lyricLineRange(lyrics, 0, 4800), Range({0, 960}));
    EXPECT_EQ(lyricLineRange(lyrics, 1, 4800), Range({0, 960}));
    EXPECT_EQ(lyricLineRange(lyrics, 2, 4800), Range({960, 1920}));
    EXPECT_EQ(lyricLineRange(lyrics, 3, 4800), Range({1920, 4800}));
    EXPECT_EQ(lyricLineRange(lyrics, 4, 4800), Range());
    EXPECT_EQ(lyricLineRange(lyrics, -1, 4800), Range());

    TSmfEventTempoList tempo(480);
    tempo.Add({0, 500000}); // 960 ticks a second
    TBrs4SmfInformation info{};
    info.TotalTick = 9600;
    info.TotalTime = 10000;
    // floor(max / 329 × (x + 2)): x 100 is 3100 of 10000 (ms or ticks), x 400 lies past the end.
    EXPECT_EQ(seekBarTick(100, 329, 9600, 0, info, &tempo), std::optional<qint32>(2976));
    EXPECT_EQ(seekBarTick(100, 329, 10000, 1, info, &tempo), std::optional<qint32>(2976));
    EXPECT_EQ(seekBarTick(400, 329, 10000, 1, info, &tempo), std::optional<qint32>(9600));
    EXPECT_EQ(seekBarTick(100, 329, 10000, 1, info, nullptr), std::nullopt);
    EXPECT_EQ(seekBarTick(100, 329, 10000, 2, info, &tempo), std::nullopt);
    EXPECT_EQ(seekBarTick(100, 0, 10000, 0, info, &tempo), std::nullopt);
}
