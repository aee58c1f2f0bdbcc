#include "ABRepeat.h"
#include "FakeEngine.h"
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

TEST(ABRepeat, ALyricLineRunsToTheNextLineThatBeginsLater)
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
    const Range expected[] = {Range({0, 960}), Range({0, 960}), Range({960, 1920}), Range({1920, 4800}), Range()};
    for (int row = 0; row < 5; ++row)
        EXPECT_EQ(lyricLineRange(lyrics, row, 4800), expected[row]) << row;
    EXPECT_EQ(lyricLineRange(lyrics, -1, 4800), Range());
}
