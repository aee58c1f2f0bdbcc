#include "SmfTexts.h"

#include <gtest/gtest.h>

#include <vector>

using namespace tonelark;

namespace {

struct Line {
    QString text;
    bool hide;
    bool operator==(const Line &) const = default;
};

void PrintTo(const Line &line, std::ostream *os)
{
    *os << '"' << line.text.toStdString() << '"' << (line.hide ? " hidden" : "");
}

std::vector<Line> linesOf(const QString &text, TLyricLoadOptions options)
{
    TSmfMetaEventString list;
    AddLyricLines(list, text, 480, options);
    std::vector<Line> lines;
    for (int i = 0; i < list.Count(); ++i) {
        EXPECT_EQ(list.Objects(i)->Tick, 480);
        lines.push_back({list.Strings(i), list.Objects(i)->HideLyricTime});
    }
    return lines;
}

const QString kIdeo(QChar(0x3000));

} // namespace

TEST(TrimLyricLine, RemovesControlsSpacesAndIdeographicSpacesAtBothEnds)
{
    struct Case { QString in; QString out; };
    for (const Case &c : {Case{"", ""}, Case{"word", "word"},
                          Case{kIdeo + " \t\r\nword" + kIdeo + QChar(0x01), "word"},
                          Case{"a" + kIdeo + "b", "a" + kIdeo + "b"},
                          Case{kIdeo + kIdeo, ""}, Case{QString(QChar(0)) + "x", "x"},
                          Case{QString(QChar(0x21)) + "x", "!x"}}) {
        EXPECT_EQ(TrimLyricLine(c.in), c.out) << c.in.toStdString();
    }
}

TEST(LyricLineRule, SplitsTrimsAndDrops)
{
    const TLyricLoadOptions none;
    const TLyricLoadOptions trim{lloTrimAnySpace};
    const TLyricLoadOptions noEmpty{lloNoEmptyLines};
    const TLyricLoadOptions both{lloTrimAnySpace, lloNoEmptyLines};
    struct Case { QString text; TLyricLoadOptions options; std::vector<Line> lines; };
    const std::vector<Case> cases = {
        {"word", none, {{"word", false}}},
        {"one\r\ntwo", none, {{"one", false}, {"two", true}}},
        {"\r", none, {{"", false}, {"", true}}},
        {"\r", noEmpty, {}},
        {"\n", none, {{"", false}, {"", true}}},
        {"a\rb\nc\r\n", none, {{"a", false}, {"b", true}, {"c", true}, {"", true}}},
        {"a\n\rb", none, {{"a", false}, {"", true}, {"b", true}}},
        {"", none, {}},
        {"one\ttwo", none, {{"one  two", false}}},
        {kIdeo + "word\t", trim, {{"word", false}}},
        {"a" + kIdeo + "b", trim, {{"a" + kIdeo + "b", false}}},
        {kIdeo + kIdeo + kIdeo, both, {}},
        {kIdeo + kIdeo + kIdeo, noEmpty, {{kIdeo + kIdeo + kIdeo, false}}},
        {"  ", noEmpty, {{"  ", false}}},
        {"\t\r\nx", trim, {{"", false}, {"x", true}}},
        // The first kept line shows its time even when earlier pieces were dropped.
        {"\r\n  \r\nword\r\nnext", both, {{"word", false}, {"next", true}}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(linesOf(c.text, c.options), c.lines)
            << "text \"" << c.text.toStdString() << "\" options " << int(c.options.bits());
}

TEST(TSmfMetaEventString, HandsInfosOverWithTheirLines)
{
    TSmfMetaEventString source;
    AddLyricLines(source, "one\ntwo", 960, {});
    const TSmfLyricInfo *first = source.Objects(0);

    TSmfMetaEventString target;
    target.Add("old");
    target.Assign(std::move(source));
    EXPECT_EQ(source.Count(), 0);
    ASSERT_EQ(target.Count(), 2);
    EXPECT_EQ(target.Objects(0), first); // the same info, not a copy
    EXPECT_EQ(target.Text(), QStringLiteral("one\r\ntwo\r\n"));

    TSmfMetaEventString more;
    more.Add("three");
    target.AddStrings(std::move(more));
    EXPECT_EQ(target.Count(), 3);
    EXPECT_EQ(target.Objects(2), nullptr);
    target.Clear();
    EXPECT_EQ(target.Count(), 0);
}
