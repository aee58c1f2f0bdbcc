#include "SmfTempo.h"
#include "SongException.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>

using namespace tonelark;

namespace {

TSmfEventTempoList makeList(quint16 timeBase, std::initializer_list<TSmfEventTempo> entries)
{
    TSmfEventTempoList list(timeBase);
    for (const TSmfEventTempo &entry : entries)
        list.Add(entry);
    return list;
}

// The segment walk written out step by step, to check the bisecting fast path against.
qint64 referenceTickToMicroseconds(const std::vector<TSmfEventTempo> &e, qint64 timeBase, qint32 tick)
{
    qint64 acc = 0;
    for (size_t i = 0;; ++i) {
        if (i + 1 == e.size() || e[i + 1].FPosition > tick)
            return acc + (qint64(e[i].FMicroseconds) * (qint64(tick) - e[i].FPosition)) / timeBase;
        acc += (qint64(e[i].FMicroseconds) * (qint64(e[i + 1].FPosition) - e[i].FPosition)) / timeBase;
    }
}

} // namespace

TEST(TSmfEventTempoList, WorkedExampleBothWays)
{
    const auto list = makeList(480, {{0, 500000}, {960, 250000}});
    EXPECT_EQ(list.TickToSecond(1440, tuMilliseconds), 1250);
    EXPECT_EQ(list.TimeToTick(1250, tuMilliseconds), 1440);
    // A time exactly at a segment's end yields the tick of the change.
    EXPECT_EQ(list.TimeToTick(1000, tuMilliseconds), 960);
    EXPECT_EQ(list.TickToSecond(960, tuMicroseconds), 1000000);
}

TEST(TSmfEventTempoList, ConvertsInEveryUnit)
{
    const auto list = makeList(480, {{0, 500000}});
    struct Case { qint32 tick; TSmfEventTempoTimeUnit unit; qint32 time; };
    for (const Case &c : {Case{0, tuMilliseconds, 0}, Case{480, tuMilliseconds, 500},
                          Case{960, tuMilliseconds, 1000}, Case{960, tuSeconds, 1},
                          Case{959, tuSeconds, 0}, Case{1, tuMicroseconds, 1041},
                          Case{-480, tuMilliseconds, -500}}) {
        EXPECT_EQ(list.TickToSecond(c.tick, c.unit), c.time) << c.tick << " unit " << c.unit;
    }
    EXPECT_EQ(list.TimeToTick(0, tuMilliseconds), 0);
    EXPECT_EQ(list.TimeToTick(1, tuSeconds), 960);
    // Beyond the last change the last tempo goes on without limit.
    EXPECT_EQ(list.TimeToTick(3600, tuSeconds), 3456000);
    // Truncation: 1 tick is 1041.66 µs, so 1041 µs does not reach it.
    EXPECT_EQ(list.TimeToTick(1041, tuMicroseconds), 0);
}

TEST(TSmfEventTempoList, TruncatesEachSegmentBeforeSumming)
{
    // Two ticks at 2 µs per quarter and 3 ticks per quarter: 0 + 0 per segment, 1 as a whole.
    const auto list = makeList(3, {{0, 2}, {1, 2}});
    EXPECT_EQ(list.TickToSecond(2, tuMicroseconds), 0);
}

TEST(TSmfEventTempoList, LaterEntryAtSameTickGoverns)
{
    const auto list = makeList(480, {{0, 500000}, {0, 250000}});
    EXPECT_EQ(list.TickToSecond(480, tuMilliseconds), 250);
    EXPECT_EQ(list.TimeToTick(250, tuMilliseconds), 480);
}

TEST(TSmfEventTempoList, EmptyListRaisesGeneralError)
{
    const TSmfEventTempoList list(480);
    for (auto convert : {+[](const TSmfEventTempoList &l) { l.TickToSecond(0, tuMilliseconds); },
                         +[](const TSmfEventTempoList &l) { l.TimeToTick(0, tuMilliseconds); }}) {
        try {
            convert(list);
            FAIL() << "no exception";
        } catch (const ESmfParserException &) {
            FAIL() << "must not be a parser exception";
        } catch (const ESongException &e) {
            EXPECT_EQ(e.message(), QStringLiteral("テンポデータがありません。"));
        }
    }
}

TEST(TSmfEventTempoList, ZeroMicrosecondSegmentTakesNoTime)
{
    const auto middle = makeList(480, {{0, 500000}, {480, 0}, {960, 500000}});
    EXPECT_EQ(middle.TickToSecond(1440, tuMilliseconds), 1000);
    EXPECT_EQ(middle.TimeToTick(500, tuMilliseconds), 960);
    EXPECT_EQ(middle.TimeToTick(750, tuMilliseconds), 1200);

    // As the last segment, no tick after its start is ever reached.
    const auto last = makeList(480, {{0, 500000}, {480, 0}});
    EXPECT_EQ(last.TimeToTick(10, tuSeconds), 480);
    EXPECT_EQ(makeList(480, {{0, 0}}).TimeToTick(-5, tuMilliseconds), 0);
}

TEST(TSmfEventTempoList, TimeBaseZeroDoesNotDivide)
{
    const auto list = makeList(0, {{0, 500000}, {960, 250000}});
    EXPECT_EQ(list.TickToSecond(1440, tuMilliseconds), 0);
    EXPECT_EQ(list.TimeToTick(5, tuSeconds), 960);
}

TEST(TSmfEventTempoList, ExtremeValuesStayDefined)
{
    // 0xFFFFFFFF from a 4-byte tempo arrives as -1; times of centuries overflow 64 bits.
    const auto list = makeList(1, {{0, -1}, {std::numeric_limits<qint32>::max(), std::numeric_limits<qint32>::min()}});
    list.TickToSecond(std::numeric_limits<qint32>::max(), tuMicroseconds);
    list.TickToSecond(std::numeric_limits<qint32>::min(), tuSeconds);
    list.TimeToTick(std::numeric_limits<qint64>::max(), tuSeconds);
    list.TimeToTick(std::numeric_limits<qint64>::min(), tuMicroseconds);
    EXPECT_EQ(makeList(1, {{0, -1}}).TimeToTick(std::numeric_limits<qint64>::min(), tuMicroseconds),
              0); // INT64_MIN negated wraps to itself; its low 32 bits are 0
}

TEST(TSmfEventTempoList, UnsortedListFollowsTheWalkAndSortRestoresOrder)
{
    auto list = makeList(480, {{0, 500000}, {960, 250000}, {480, 1000000}});
    // The walk stops at the first entry whose successor starts after the tick.
    EXPECT_EQ(list.TickToSecond(600, tuMilliseconds), 625);
    list.Sort();
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Items(1).FPosition, 480);
    EXPECT_EQ(list.TickToSecond(600, tuMilliseconds), 750);
}

TEST(TSmfEventTempoList, BisectionMatchesSegmentWalk)
{
    std::mt19937 random(20240611);
    for (int round = 0; round < 200; ++round) {
        const quint16 timeBase = static_cast<quint16>(1 + random() % 0x7FFF);
        TSmfEventTempoList list(timeBase);
        qint32 position = 0;
        const int count = 1 + static_cast<int>(random() % 12);
        for (int i = 0; i < count; ++i) {
            list.Add({position, static_cast<qint32>(random() % 3000000)});
            position += static_cast<qint32>(random() % 4) == 0 ? 0 : static_cast<qint32>(random() % 5000);
        }
        if (round % 2)
            list.Insert(0, {0, 400000}); // rebuilt rather than appended
        for (int probe = 0; probe < 20; ++probe) {
            const qint32 tick = static_cast<qint32>(random() % (position + 2000)) - 100;
            EXPECT_EQ(list.TickToSecond(tick, tuMicroseconds),
                      static_cast<qint32>(referenceTickToMicroseconds(list.entries(), timeBase, tick)))
                << "round " << round << " tick " << tick;
        }
    }
}
