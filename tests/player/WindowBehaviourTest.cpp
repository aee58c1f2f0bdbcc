#include "WindowBehaviour.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tonelark;

TEST(HotKeyResponse, FollowsTheModalLoopTrayAndActiveWindowRules)
{
    using R = HotKeyResponse;
    struct Case {
        const char *what;
        HotKeyContext context;
        R expected;
    };
    const auto context = [](bool modal, int id, bool tray, bool hideIfActive, bool active, bool shown) {
        return HotKeyContext{modal, id, tray, hideIfActive, active, shown};
    };
    const Case cases[] = {
        {"modal loop, any identifier", context(true, 1, false, true, true, true), R::BringModalForward},
        {"modal loop while in the tray", context(true, HotKeyId, true, true, false, false), R::BringModalForward},
        {"another identifier", context(false, 1, true, true, true, true), R::None},
        {"in the tray", context(false, HotKeyId, true, true, false, false), R::RestoreFromTray},
        {"active, hide-if-active on", context(false, HotKeyId, false, true, true, true), R::Minimise},
        {"behind another window", context(false, HotKeyId, false, true, false, true), R::Activate},
        {"behind, hide-if-active off", context(false, HotKeyId, false, false, false, true), R::Minimise},
        {"minimised without a tray", context(false, HotKeyId, false, false, false, false), R::Activate},
    };
    for (const Case &c : cases)
        EXPECT_EQ(hotKeyResponseFor(c.context), c.expected) << c.what;
}

TEST(HotKeyTransition, APressWhileAHideOrRestoreIsUnderWayIsDropped)
{
    HotKeyTransition transition;
    EXPECT_TRUE(transition.pressMayAct(0, false)) << "nothing under way";
    transition.begin(1000);
    struct Case {
        qint64 at;
        bool settled;
        bool acts;
    } cases[] = {
        {1030, false, false}, // the double press 30 ms later
        {1030, true, true},   // the window is where the first press took it
        {2999, false, false},
        {3000, false, true}, // never held longer, whatever the window did
    };
    for (const Case &c : cases)
        EXPECT_EQ(transition.pressMayAct(c.at, c.settled), c.acts) << c.at << " " << c.settled;
}

TEST(AdjacentVisibleTab, SkipsHiddenTabsWithoutWrapping)
{
    // Info, comments (hidden), lyrics, compiler (hidden), about (never shown).
    const QList<bool> tabs{true, false, true, false, false};
    EXPECT_EQ(adjacentVisibleTab(tabs, 0, 1), 2);
    EXPECT_EQ(adjacentVisibleTab(tabs, 2, 1), std::nullopt);
    EXPECT_EQ(adjacentVisibleTab(tabs, 2, -1), 0);
    EXPECT_EQ(adjacentVisibleTab(tabs, 0, -1), std::nullopt);
    EXPECT_EQ(adjacentVisibleTab(tabs, 4, 1), std::nullopt);
    EXPECT_EQ(adjacentVisibleTab(tabs, 4, -1), 2);
}

TEST(DroppedSongPath, TakesTheFirstLocalFileOfAnyLength)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Longer than the 260 characters a fixed buffer would have held.
    const QString deep = dir.filePath(QString(120, QLatin1Char('d')) + QLatin1Char('/') +
                                      QString(120, QLatin1Char('e')));
    ASSERT_TRUE(QDir().mkpath(deep));
    const QString longPath = deep + QStringLiteral("/曲 名.mid");
    const QUrl longFile = QUrl::fromLocalFile(longPath);
    ASSERT_GT(longPath.size(), 260);

    EXPECT_EQ(droppedSongPath({longFile, QUrl::fromLocalFile(QStringLiteral("/b.mid"))}), longPath);
    EXPECT_EQ(droppedSongPath({QUrl::fromLocalFile(deep), longFile}), std::nullopt);
    EXPECT_EQ(droppedSongPath({QUrl(QStringLiteral("https://example.org/a.mid")), longFile}), std::nullopt);
    EXPECT_EQ(droppedSongPath({}), std::nullopt);
}
