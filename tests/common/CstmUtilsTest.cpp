#include "CstmUtils.h"

#include <gtest/gtest.h>

#include <limits>

using namespace tonelark;

TEST(AnsiCodec, RoundTripsJapaneseWithCp932Extensions)
{
    // ① (NEC row 13) and ～ (0x8160) are where CP932 and plain Shift_JIS part ways.
    const QString text = QStringLiteral("さくら①～Ⅱ㈱ＡＢＣ半角ｶﾅ");
    const QByteArray bytes = unicodeToAnsi(text);
    EXPECT_EQ(bytes.mid(0, 2), QByteArray("\x82\xb3", 2));
    EXPECT_TRUE(bytes.contains(QByteArray("\x87\x40", 2))); // ①
    EXPECT_TRUE(bytes.contains(QByteArray("\x81\x60", 2))); // ～
    EXPECT_EQ(ansiToUnicode(bytes), text);
}

TEST(AnsiCodec, DecodesWaveDashByteAsFullwidthTilde)
{
    EXPECT_EQ(ansiToUnicode(QByteArray("\x81\x60", 2)), QString(QChar(0xFF5E)));
}

TEST(AnsiCodec, AsciiIsUnchanged)
{
    const QByteArray ascii("Copyright (C) 2026 \\ ~ Tonelark");
    EXPECT_EQ(ansiToUnicode(ascii), QString::fromLatin1(ascii));
    EXPECT_EQ(unicodeToAnsi(QString::fromLatin1(ascii)), ascii);
}

TEST(AnsiCodec, InvalidBytesBecomeReplacementCharactersAndDecodingGoesOn)
{
    // 0xA0 and 0xFD-0xFF are unassigned in CP932; a lead byte at the very end is truncated.
    const QByteArray bytes("A\xff" "B\x82\xa0" "\xfd" "C\x82", 8);
    EXPECT_EQ(ansiToUnicode(bytes), QStringLiteral("A\uFFFDBあ\uFFFDC\uFFFD"));
}

TEST(AnsiCodec, LeadByteWithInvalidTrailKeepsTheTrailAsItsOwnCharacter)
{
    // 0x82 0x20: the lead byte is bad, the space after it is still a space.
    EXPECT_EQ(ansiToUnicode(QByteArray("\x82 x", 3)), QStringLiteral("\uFFFD x"));
}

TEST(AnsiCodec, UnencodableCharactersBecomeQuestionMarks)
{
    // U+00E9 has no CP932 code; U+1F3B5 is a surrogate pair and still one character.
    const QString text = QStringLiteral("a\u00e9b") + QString::fromUcs4(U"\U0001F3B5") + QStringLiteral("あ");
    EXPECT_EQ(unicodeToAnsi(text), QByteArray("a?b?\x82\xa0"));
}

TEST(AnsiCodec, EmptyInputGivesEmptyOutput)
{
    EXPECT_TRUE(ansiToUnicode(QByteArray()).isEmpty());
    EXPECT_TRUE(unicodeToAnsi(QString()).isEmpty());
}

TEST(Formats, MinutesAndSecondsTruncateAndMinutesDoNotWrap)
{
    EXPECT_EQ(formatMinutesSeconds(0), "00:00");
    EXPECT_EQ(formatMinutesSeconds(59999), "00:59");
    EXPECT_EQ(formatMinutesSeconds(60000), "01:00");
    EXPECT_EQ(formatMinutesSeconds(3600000 + 5 * 60000 + 7999), "65:07");
    EXPECT_EQ(formatMinutesSeconds(100 * 60000), "100:00");
}

TEST(Formats, TickPairAndWidth8)
{
    EXPECT_EQ(formatTickPair(0, 1920), "0 / 1920");
    EXPECT_EQ(formatWidth8(480), "     480");
    EXPECT_EQ(formatWidth8(123456789), "123456789");
}

TEST(Helpers, TrimControlAndSpaceKeepsInnerBlanksAndIdeographicSpace)
{
    EXPECT_EQ(trimControlAndSpace(QStringLiteral("\t\r\n  a b \x01")), "a b");
    EXPECT_EQ(trimControlAndSpace(QStringLiteral("\u3000x\u3000")), QStringLiteral("\u3000x\u3000"));
    EXPECT_TRUE(trimControlAndSpace(QStringLiteral(" \t ")).isEmpty());
}

TEST(Helpers, ClampToIntTruncatesTowardZeroAndSaturates)
{
    EXPECT_EQ(clampToInt(2.9L), 2);
    EXPECT_EQ(clampToInt(-2.9L), -2);
    EXPECT_EQ(clampToInt(1e30L), std::numeric_limits<int>::max());
    EXPECT_EQ(clampToInt(-1e30L), std::numeric_limits<int>::min());
}
