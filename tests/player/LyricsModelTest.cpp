#include "LyricsModel.h"

#include <QAbstractItemModelTester>

#include <gtest/gtest.h>

#include <vector>

using namespace tonelark;

namespace {

struct Row {
    qint32 tick;
    qint64 ms;
    bool hide = false;
    const char *text = "line";
};

TSmfMetaEventString lyricsOf(const std::vector<Row> &rows)
{
    TSmfMetaEventString lyrics;
    for (const Row &row : rows) {
        auto info = std::make_unique<TSmfLyricInfo>();
        info->Tick = row.tick;
        info->Millisecond = row.ms;
        info->Second = static_cast<qint32>(row.ms / 1000);
        info->HideLyricTime = row.hide;
        lyrics.AddObject(QString::fromUtf8(row.text), std::move(info));
    }
    return lyrics;
}

} // namespace

TEST(LyricsModel, PassesTheModelTesterAcrossCountChanges)
{
    TSmfMetaEventString lyrics = lyricsOf({{0, 0, false, "一"}, {480, 500, true, "二"}, {960, 6000000}});
    LyricsModel model(lyrics);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setItemCount(3);
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.columnCount(), 2);
    EXPECT_EQ(model.data(model.index(0, 0), Qt::DisplayRole).toString(), QStringLiteral("00:00"));
    EXPECT_EQ(model.data(model.index(0, 1), Qt::DisplayRole).toString(), QStringLiteral("一"));
    // The second line of one lyric event shows no time.
    EXPECT_EQ(model.data(model.index(1, 0), Qt::DisplayRole).toString(), QString());
    EXPECT_EQ(model.data(model.index(1, 1), Qt::DisplayRole).toString(), QStringLiteral("二"));
    // 6000 seconds: three-digit minutes.
    EXPECT_EQ(model.data(model.index(2, 0), Qt::DisplayRole).toString(), QStringLiteral("100:00"));
    model.setItemCount(0);
    EXPECT_EQ(model.rowCount(), 0);
    // A count ahead of the lines (never set by the loader) draws empty rows instead of
    // reading past the list.
    model.setItemCount(5);
    EXPECT_FALSE(model.data(model.index(4, 1), Qt::DisplayRole).isValid());
}

TEST(GetCurrentPlayingLyricIndex, BinarySearchWithTruncatingFallback)
{
    const TSmfMetaEventString rows = lyricsOf({{100, 0}, {200, 0}, {300, 0}, {400, 0}, {500, 0}});
    const TSmfMetaEventString none;
    const TSmfMetaEventString one = lyricsOf({{100, 0}});
    struct Case {
        const TSmfMetaEventString *lyrics;
        qint32 tick;
        int expected;
    } cases[] = {
        {&rows, 0, 0},     {&rows, 99, 0},   {&rows, 100, 0}, {&rows, 150, 0}, {&rows, 300, 2},
        {&rows, 301, 2},   {&rows, 499, 3},  {&rows, 500, 4}, {&rows, 99999, 4}, {&none, 0, 0},
        {&none, 1000, 0},  {&one, 50, 0},    {&one, 150, 0},  {&rows, -5, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(GetCurrentPlayingLyricIndex(*c.lyrics, c.tick), c.expected) << "tick " << c.tick;
}

TEST(GetCurrentPlayingLyricIndex, EqualTicksGiveTheRowTheSearchMeetsFirst)
{
    // Three lines of one event at 480: the search meets the middle one first (mid = 2).
    const TSmfMetaEventString lyrics = lyricsOf({{0, 0}, {480, 0}, {480, 0}, {480, 0}, {960, 0}});
    EXPECT_EQ(GetCurrentPlayingLyricIndex(lyrics, 480), 2);
    EXPECT_EQ(GetCurrentPlayingLyricIndex(lyrics, 700), 3);
}

TEST(LyricHighlight, RuleByApplyColor)
{
    // Rows 1..3 are the three lines of one event at 1000 ms; the song's last note at 9000.
    const TSmfMetaEventString lyrics =
        lyricsOf({{0, 0}, {480, 1000}, {480, 1000, true}, {480, 1000, true}, {960, 5000}});
    const qint64 lastNote = 9000;
    struct Case {
        qint32 applyColor;
        qint64 now;
        std::vector<bool> highlighted;
    } cases[] = {
        {0, -1, {false, false, false, false, false}},
        {0, 0, {true, false, false, false, false}},
        {0, 999, {true, false, false, false, false}},
        // Only the last of the three equal lines has a non-empty interval.
        {0, 1000, {false, false, false, true, false}},
        {0, 5000, {false, false, false, false, true}},
        {0, 8999, {false, false, false, false, true}},
        {0, 9000, {false, false, false, false, false}},
        {1, 1000, {true, true, true, true, false}},
        {1, 9000, {true, true, true, true, true}},
        {2, 1000, {false, false, false, false, false}},
        {7, 1000, {false, false, false, false, false}},
        {-1, 1000, {false, false, false, false, false}},
    };
    for (const Case &c : cases) {
        for (int row = 0; row < lyrics.Count(); ++row) {
            EXPECT_EQ(isLyricRowHighlighted(lyrics, row, c.now, lastNote, c.applyColor),
                      c.highlighted[size_t(row)])
                << "ApplyColor " << c.applyColor << " now " << c.now << " row " << row;
        }
    }
}

TEST(LyricFollowing, ScrollsOnlyWhenTheRowChanges)
{
    int last = -1;
    EXPECT_EQ(followLyricRow(0, last, true, 10), std::optional<int>(0));
    EXPECT_EQ(last, 0);
    EXPECT_EQ(followLyricRow(0, last, true, 10), std::nullopt);
    // Following off: no scroll, but the row is still taken over.
    EXPECT_EQ(followLyricRow(3, last, false, 10), std::nullopt);
    EXPECT_EQ(last, 3);
    EXPECT_EQ(followLyricRow(3, last, true, 10), std::nullopt);
    EXPECT_EQ(followLyricRow(4, last, true, 10), std::optional<int>(4));
    // No rows: nothing to scroll.
    EXPECT_EQ(followLyricRow(0, last, true, 0), std::nullopt);
    EXPECT_EQ(last, 0);
}

TEST(LyricFollowing, MinimalScroll)
{
    // Rows of 10 pixels in a viewport of 45.
    struct Case {
        int offset, row, expected;
    } cases[] = {
        {0, 0, 0},     {0, 3, 0},     {0, 4, 5},      {0, 20, 165},  {100, 9, 90},
        {100, 10, 100}, {100, 13, 100}, {100, 14, 105}, {105, 14, 105},
    };
    for (const Case &c : cases)
        EXPECT_EQ(minimalScrollOffset(c.offset, 45, c.row * 10, 10), c.expected)
            << c.offset << " " << c.row;
    // An item taller than the viewport is aligned at its start.
    EXPECT_EQ(minimalScrollOffset(0, 45, 100, 60), 100);
    EXPECT_EQ(minimalScrollOffset(300, 45, 100, 60), 100);
}

// Rows of a song with furigana carry their readings for the delegate and the tool tip; a
// model whose sung lines no longer match the rows shows none.
TEST(LyricsModel, RubyOfSungLines)
{
    SungLines sung;
    SungLine line;
    line.text = QStringLiteral("春の小川");
    line.ruby = {{QStringLiteral("春"), QStringLiteral("はる"), 0}, {QStringLiteral("小川"), QStringLiteral("おがわ"), 2}};
    sung.lines = {line, SungLine{}};
    TSmfMetaEventString lyrics = sungLyricRows(sung);
    LyricsModel model(lyrics);
    model.setSungLines(&sung);
    model.setItemCount(lyrics.Count());
    EXPECT_TRUE(model.index(1, 0).data(kLyricsSongHasRubyRole).toBool());
    const QVariantList ruby = model.index(0, kLyricsTextColumn).data(kLyricsRubyRole).toList();
    ASSERT_EQ(ruby.size(), 2);
    EXPECT_EQ(ruby.at(1).toList(), (QVariantList{2, QStringLiteral("小川"), QStringLiteral("おがわ")}));
    EXPECT_FALSE(model.index(1, kLyricsTextColumn).data(kLyricsRubyRole).isValid());
    EXPECT_EQ(lyricTextWithReadings(line), QStringLiteral("春(はる)の小川(おがわ)"));

    sung.lines.pop_back();
    model.setItemCount(lyrics.Count());
    EXPECT_FALSE(model.index(0, 0).data(kLyricsSongHasRubyRole).toBool());
    EXPECT_EQ(model.sungLine(0), nullptr);
}
