#include "KeyTempo.h"

#include <functional>

#include <gtest/gtest.h>

using namespace tonelark;

TEST(KeyTempo, StepsStopAtTheLimitsAndMarksShowOnlyChanges)
{
    struct Case {
        const char *what;
        KeyTempo start;
        std::function<bool(KeyTempo &)> step;
        bool changed;
        int key;
        int tempo;
        const char *mark;
    };
    const auto up = [](KeyTempo &k) { return k.keyUp(); };
    const auto down = [](KeyTempo &k) { return k.keyDown(); };
    const auto faster = [](KeyTempo &k) { return k.tempoUp(); };
    const auto slower = [](KeyTempo &k) { return k.tempoDown(); };
    const auto originalKey = [](KeyTempo &k) { return k.resetKey(); };
    const auto originalTempo = [](KeyTempo &k) { return k.resetTempo(); };
    const auto none = [](KeyTempo &) { return false; };
    const Case cases[] = {
        {"key up", {}, up, true, 1, 100, "♯1"},
        {"key down", {}, down, true, -1, 100, "♭1"},
        {"key at the top", {12, 100}, up, false, 12, 100, "♯12"},
        {"key at the bottom", {-12, 100}, down, false, -12, 100, "♭12"},
        {"original key keeps the tempo", {-2, 90}, originalKey, true, 0, 90, "90%"},
        {"original key when there", {}, originalKey, false, 0, 100, ""},
        {"faster", {}, faster, true, 0, 105, "105%"},
        {"slower", {}, slower, true, 0, 95, "95%"},
        {"fastest", {0, 200}, faster, false, 0, 200, "200%"},
        {"slowest", {0, 50}, slower, false, 0, 50, "50%"},
        {"off the grid, faster", {0, 93}, faster, true, 0, 95, "95%"},
        {"off the grid, slower", {0, 93}, slower, true, 0, 90, "90%"},
        {"original tempo keeps the key", {3, 90}, originalTempo, true, 3, 100, "♯3"},
        {"both changed", {-2, 90}, none, false, -2, 90, "♭2 90%"},
        {"stored values beyond the range", {40, 1000}, none, false, 12, 200, "♯12 200%"},
        {"stored values below the range", {-99, 0}, none, false, -12, 50, "♭12 50%"},
    };
    for (const Case &c : cases) {
        KeyTempo value = c.start;
        EXPECT_EQ(c.step(value), c.changed) << c.what;
        EXPECT_EQ(value.key(), c.key) << c.what;
        EXPECT_EQ(value.tempo(), c.tempo) << c.what;
        EXPECT_EQ(value.mark(), QString::fromUtf8(c.mark)) << c.what;
    }
}

TEST(KeyTempo, ToolTipNamesBothValues)
{
    EXPECT_EQ(KeyTempo().toolTip(), QStringLiteral("キー: 原曲キー\nテンポ: 100% (元のテンポ)"));
    EXPECT_EQ(KeyTempo(-2, 90).toolTip(), QStringLiteral("キー: ♭2 (2 半音下)\nテンポ: 90%"));
    EXPECT_EQ(KeyTempo(3, 135).toolTip(), QStringLiteral("キー: ♯3 (3 半音上)\nテンポ: 135%"));
    EXPECT_EQ(KeyTempo(-12, 100).toolTip(), QStringLiteral("キー: ♭12 (12 半音下)\nテンポ: 100% (元のテンポ)"));
}
