#include "CopyFormats.h"

#include <gtest/gtest.h>

using namespace tonelark;

TEST(CopyFormats, TrimmedPartsJoinedBySeparator)
{
    struct Case {
        const char *author, *title;
        qint32 separatorType;
        const char *format1, *format2;
    } cases[] = {
        {"  Tune Maker ", "Night", 0, "Tune Maker - Night", "Night - Tune Maker"},
        {"Tune Maker", "", 1, "Tune Maker / ?", "? / Tune Maker"},
        {"\t\r\n", " \x01 ", 0, "? - ?", "? - ?"},
        {"作者\r\n", "\u3000曲名", 0, "作者 - \u3000曲名", "\u3000曲名 - 作者"},
        {"a", "b", 5, "a / b", "b / a"},
        {"a", "b", -3, "a - b", "b - a"},
    };
    for (const Case &c : cases) {
        qint32 type = c.separatorType;
        const CopyFormats formats(QString::fromUtf8(c.author), QString::fromUtf8(c.title),
                                  GetSeparatorText(type));
        EXPECT_EQ(formats.format1Text(), QString::fromUtf8(c.format1));
        EXPECT_EQ(formats.format2Text(), QString::fromUtf8(c.format2));
    }
}

TEST(CopyFormats, SeparatorTypeIsClampedInPlace)
{
    struct Case {
        qint32 type;
        const char *text;
        qint32 after;
    } cases[] = {{0, "-", 0}, {1, "/", 1}, {5, "/", 1}, {-1, "-", 0}, {INT32_MIN, "-", 0}, {INT32_MAX, "/", 1}};
    for (const Case &c : cases) {
        qint32 type = c.type;
        EXPECT_EQ(GetSeparatorText(type), QString::fromLatin1(c.text));
        EXPECT_EQ(type, c.after);
    }
}

TEST(CopyFormats, ShortenForMenuByWidth)
{
    const QString fullWidth20 = QStringLiteral("あいうえおかきくけこさしすせそたちつてと");
    struct Case {
        QString text;
        QString shown;
    } cases[] = {
        {fullWidth20, QStringLiteral("あいうえおかきく…")},
        {QStringLiteral("0123456789abcdef"), QStringLiteral("0123456789abcdef…")},
        {QStringLiteral("0123456789abcde"), QStringLiteral("0123456789abcde")},
        // 15 narrow then one wide: width 17 at the wide one, kept whole.
        {QStringLiteral("0123456789abcdeあxyz"), QStringLiteral("0123456789abcdeあ…")},
        // Latin-1 letters count as narrow.
        {QStringLiteral("éééééééééééééééé"), QStringLiteral("éééééééééééééééé…")},
        {QString(), QString()},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ShortenForMenu(c.text), c.shown) << c.text.toStdString();
}

TEST(CopyFormats, CaptionsShortenTheTrimmedTexts)
{
    qint32 type = 0;
    const CopyFormats formats(QStringLiteral("  Rock & Roll  "), QStringLiteral("0123456789abcdefXYZ"),
                              GetSeparatorText(type));
    EXPECT_EQ(formats.format1Caption(), QStringLiteral("「Rock && Roll - 0123456789abcdef…」でコピー"));
    EXPECT_EQ(formats.format2Caption(), QStringLiteral("「0123456789abcdef… - Rock && Roll」でコピー"));
    // The copied text is never shortened.
    EXPECT_EQ(formats.format2Text(), QStringLiteral("0123456789abcdefXYZ - Rock & Roll"));
    const CopyFormats blank(QString(), QStringLiteral(" "), GetSeparatorText(type));
    EXPECT_EQ(blank.format1Caption(), QStringLiteral("「? - ?」でコピー"));
}

TEST(CopyFormats, MenuStateByActiveBox)
{
    struct Case {
        MetaTextBox box;
        bool selection, before;
        MetaTextMenuState expected;
    } cases[] = {
        {MetaTextBox::Copyright, true, false, {true, true, false}},
        {MetaTextBox::Copyright, false, true, {false, true, false}},
        {MetaTextBox::Title, true, false, {true, false, true}},
        {MetaTextBox::Memo, true, false, {true, false, false}},
        {MetaTextBox::Memo, false, true, {false, false, false}},
        {MetaTextBox::Other, true, false, {false, false, false}},
        {MetaTextBox::Other, false, true, {true, false, false}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(metaTextMenuStateFor(c.box, c.selection, c.before), c.expected) << int(c.box);
}
