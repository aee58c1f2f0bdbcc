#include "Convex.h"
#include "PrefRules.h"

#include <gtest/gtest.h>

using namespace tonelark;

TEST(PrefRules, ColorDialogIsCentredOnTheCursorAndKeptOnTheScreen)
{
    struct Case {
        const char *what;
        QPoint cursor;
        int workAreaRight;
        QPoint expected;
    };
    const QSize dialog(401, 300); // odd width: half of it rounds down
    const Case cases[] = {
        {"room everywhere", {1000, 700}, 1920, {800, 400}},
        {"left of 0", {100, 700}, 1920, {0, 400}},
        {"past the right edge", {1900, 700}, 1920, {1519, 400}},
        {"above 0", {1000, 120}, 1920, {800, 0}},
        {"wider than the work area: the right edge wins", {10, 700}, 300, {-101, 400}},
        {"second screen to the right", {2500, 900}, 3840, {2300, 600}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(colorDialogPosition(dialog, c.cursor, c.workAreaRight), c.expected);
    }
}

TEST(PrefRules, DefaultPresetWritesTheSystemColours)
{
    const GaugeColorPreset &row0 = GaugeColorPresets()[0];
    Convex ini;
    ini.WriteInteger(u"Progress", u"ForeColor", row0.foreColor);
    ini.WriteInteger(u"Progress", u"BackColor", row0.backColor);
    ini.WriteInteger(u"Progress", u"FrameColor", row0.frameColor);
    EXPECT_EQ(ini.toBytes(), QByteArray("[Progress]\nForeColor=-16777203\nBackColor=-16777211\nFrameColor=-16777210\n\n"));
    EXPECT_EQ(GaugeColorPresets()[3].caption, QStringLiteral("モーニングライト(&M)"));
    EXPECT_EQ(GaugeColorPresets()[3].frameColor, 0x8A8A8A);
}

TEST(PrefRules, NoticeAfterOkNamesTheChangedPlayOptionsOnlyWhilePlaying)
{
    QString changed;
    appendChangedPlayOption(changed, QStringLiteral("繰り返しを行わない(&D)"));
    appendChangedPlayOption(changed, QStringLiteral(" \tエクスクルーシブ メッセージを送信しない (&X)"));
    EXPECT_EQ(changed, QStringLiteral("\r\n・繰り返しを行わない\r\n・エクスクルーシブ メッセージを送信しない"));
    EXPECT_EQ(playOptionListCaption(QStringLiteral("先頭の空白をスキップ")), QStringLiteral("先頭の空白をスキップ"));

    const QString modeMessage = QStringLiteral("モードの変更は次回の演奏から有効になります。");
    struct Case {
        const char *what;
        bool modeChanged;
        QString options;
        qint32 settingMode;
        bool playing;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        {"manual, two options, playing", false, changed, 0, true,
         QStringLiteral("変更された次の設定は次回の演奏から有効になります。\r\n\r\n・繰り返しを行わない\r\n"
                        "・エクスクルーシブ メッセージを送信しない")},
        {"the same while stopped", false, changed, 0, false, std::nullopt},
        {"mode changed with options", true, changed, 1, true, modeMessage},
        {"mode changed back to manual", true, QString(), 0, true, modeMessage},
        {"options in the other mode", false, changed, 1, true, std::nullopt},
        {"nothing changed", false, QString(), 0, true, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(playOptionsNotice(c.modeChanged, c.options, c.settingMode, c.playing), c.expected);
    }
}
