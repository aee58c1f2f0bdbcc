#include "Settings.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tonelark;

namespace {

QString dataPath(const char *name)
{
    return QStringLiteral(TONELARK_TEST_DATA_DIR "/settings/") + QString::fromLatin1(name);
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace

TEST(SettingsDefaults, MissingFileGivesEveryDefault)
{
    QTemporaryDir dir;
    const Settings s = Settings::load(Convex(dir.filePath(QStringLiteral("absent.ini"))));
    EXPECT_FALSE(s.BrsNormalizeOption);
    EXPECT_FALSE(s.DisableLoop);
    EXPECT_TRUE(s.SkipFirstBlank);
    EXPECT_FALSE(s.IgnoreSysEx);
    EXPECT_EQ(s.SettingMode, 0);
    EXPECT_EQ(s.MidiOutDeviceId, -1100);
    EXPECT_EQ(s.PlaybackBaseMode, 1);
    EXPECT_FALSE(s.ReloadWhenModified);
    EXPECT_EQ(s.HotKey, 24641);
    EXPECT_TRUE(s.CombinationWithWinKey);
    EXPECT_TRUE(s.HideIfWindowIsActive);
    EXPECT_FALSE(s.RestoreWindowPos);
    EXPECT_EQ(s.Left, 441);
    EXPECT_EQ(s.Top, 128);
    EXPECT_FALSE(s.AlwaysOnTop);
    EXPECT_FALSE(s.ShowInfo);
    EXPECT_FALSE(s.UseClassicDialogForFile);
    EXPECT_EQ(s.InfoBoxStyle, 0);
    EXPECT_EQ(s.SeparatorType, 0);
    EXPECT_FALSE(s.UseSystemContextMenu);
    EXPECT_EQ(s.SecondsToSkip, 5);
    EXPECT_EQ(s.Keyword, QString());
    EXPECT_EQ(s.CommentBackColor, -16777201);
    EXPECT_EQ(s.CommentTextColor, -16777208);
    EXPECT_EQ(s.CopyrightBackColor, -16777201);
    EXPECT_EQ(s.CopyrightTextColor, -16777208);
    EXPECT_EQ(s.TitleBackColor, -16777201);
    EXPECT_EQ(s.TitleTextColor, -16777208);
    EXPECT_EQ(s.UIFontType, -1);
    EXPECT_EQ(s.FontName, QStringLiteral("ＭＳ ゴシック"));
    EXPECT_EQ(s.FontSize, 9);
    EXPECT_TRUE(s.Lyric.AutoLyricTab);
    EXPECT_FALSE(s.Lyric.TrimAnySpace);
    EXPECT_FALSE(s.Lyric.NoEmptyLines);
    EXPECT_EQ(s.Lyric.ApplyColor, 0);
    EXPECT_TRUE(s.Lyric.FontBold);
    EXPECT_FALSE(s.Lyric.FontItalic);
    EXPECT_EQ(s.Lyric.BackColor, -16777211);
    EXPECT_EQ(s.Lyric.TextColor, 16750950);
    EXPECT_EQ(s.Progress.ForeColor, -16777203);
    EXPECT_EQ(s.Progress.BackColor, -16777211);
    EXPECT_EQ(s.Progress.FrameColor, -16777210);
    EXPECT_EQ(s, Settings{});
}

TEST(SettingsLoad, EveryKeyIsReadFromItsOwnSection)
{
    // Every value in the file differs from its default and from the keys around it, so a
    // misspelt key or a key read from the wrong section shows up here.
    Settings expected;
    expected.BrsNormalizeOption = true;
    expected.DisableLoop = true;
    expected.SkipFirstBlank = false;
    expected.IgnoreSysEx = true;
    expected.SettingMode = 2;
    expected.MidiOutDeviceId = 3;
    expected.PlaybackBaseMode = 0;
    expected.ReloadWhenModified = true;
    expected.HotKey = 16449;
    expected.CombinationWithWinKey = false;
    expected.HideIfWindowIsActive = false;
    expected.RestoreWindowPos = true;
    expected.Left = -20;
    expected.Top = 700;
    expected.AlwaysOnTop = true;
    expected.ShowInfo = true;
    expected.UseClassicDialogForFile = true;
    expected.InfoBoxStyle = 2;
    expected.SeparatorType = 1;
    expected.UseSystemContextMenu = true;
    expected.SecondsToSkip = 0;
    expected.Keyword = QStringLiteral("雨の日は窓辺で本を読みたい");
    expected.CommentBackColor = 1;
    expected.CommentTextColor = 2;
    expected.CopyrightBackColor = 3;
    expected.CopyrightTextColor = 4;
    expected.TitleBackColor = 5;
    expected.TitleTextColor = 6;
    expected.UIFontType = 3;
    expected.FontName = QStringLiteral("IPAGothic");
    expected.FontSize = 12;
    expected.Lyric = {false, true, true, 1, false, true, 11, 12};
    expected.Progress = {21, 22, 23};

    const Settings loaded = Settings::load(Convex(dataPath("all_keys.ini")));
    EXPECT_EQ(loaded, expected);
    EXPECT_EQ(loaded.Lyric, expected.Lyric);
    EXPECT_EQ(loaded.Progress, expected.Progress);
}

TEST(SettingsLoad, BadValuesKeepDefaultsAndOutOfRangeValuesPassThrough)
{
    const Convex ini = Convex::fromBytes("[Tonelark]\n"
                                         "SkipFirstBlank=abc\n"
                                         "MidiOutDeviceId=0x\n"
                                         "SettingMode=2\n"
                                         "SeparatorType=7\n"
                                         "HotKey=0x12345\n"
                                         "Left=0x1F\n"
                                         "[Lyric]\n"
                                         "TextColor=$FF00000D\n");
    const Settings s = Settings::load(ini);
    EXPECT_TRUE(s.SkipFirstBlank);
    EXPECT_EQ(s.MidiOutDeviceId, -1100);
    EXPECT_EQ(s.SettingMode, 2);
    EXPECT_EQ(s.SeparatorType, 7);
    EXPECT_EQ(s.HotKey, 0x2345); // only the low 16 bits are a shortcut
    EXPECT_EQ(s.Left, 31);
    EXPECT_EQ(s.Lyric.TextColor, kClHighlight);
}

TEST(SettingsLoad, AtStartReadsTheProgramStore)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("tonelark.ini"));
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("[tonelark]\nsecondstoskip=15\n");
    out.close();
    FreeIniFile();
    SetSettingsFileName(file);
    EXPECT_EQ(loadSettingsAtStart().SecondsToSkip, 15);
    FreeIniFile();
    SetSettingsFileName({});
}

struct KeywordCase {
    const char16_t *keyword;
    bool mute;
    bool debug;
};

class SettingsKeyword : public testing::TestWithParam<KeywordCase> {};

TEST_P(SettingsKeyword, OnlyAnExactMatchSwitchesAMode)
{
    const QString keyword = QString::fromUtf16(GetParam().keyword);
    EXPECT_EQ(isMuteKeyword(keyword), GetParam().mute) << keyword.toStdString();
    EXPECT_EQ(isDebugKeyword(keyword), GetParam().debug) << keyword.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Keywords, SettingsKeyword,
    testing::Values(KeywordCase{u"静寂", true, false},
                    KeywordCase{u"静寂 ", false, false},
                    KeywordCase{u" 静寂", false, false},
                    KeywordCase{u"静寂　", false, false}, // ideographic (full-width) space
                    KeywordCase{u"静", false, false},
                    KeywordCase{u"静寂静寂", false, false},
                    KeywordCase{u"雨の日は窓辺で本を読みたい", false, true},
                    KeywordCase{u"雨の日は窓辺で本を読みたい ", false, false},
                    KeywordCase{u"雨の日は窓辺で本を読みた", false, false},
                    KeywordCase{u"", false, false}));

TEST(SettingsKeyword, IsReadRawFromTheFile)
{
    // Values are trimmed on the left only by the line's own trim; a blank inside the value
    // (here before the second word) stays and keeps the mode off.
    const Settings s = Settings::load(Convex::fromBytes("[Tonelark]\nKeyword=  \x90\xc3\x8e\xe2  \n"));
    EXPECT_TRUE(isMuteKeyword(s.Keyword));
    const Settings t = Settings::load(Convex::fromBytes("[Tonelark]\nKeyword=\x90\xc3 \x8e\xe2\n"));
    EXPECT_FALSE(isMuteKeyword(t.Keyword));
}

struct CloseCase {
    const char *name;
    WindowSnapshot atStart;
    WindowSnapshot atClose;
    bool restoreWindowPos;
    const char *expected; // store content after the writes; empty when nothing is written
};

class SettingsAtClose : public testing::TestWithParam<CloseCase> {};

TEST_P(SettingsAtClose, WritesOnlyWhatChanged)
{
    const CloseCase &c = GetParam();
    Convex ini;
    const bool written = writeCloseTimeSettings(ini, c.atStart, c.atClose, c.restoreWindowPos);
    EXPECT_EQ(written, *c.expected != '\0');
    EXPECT_EQ(ini.Modified(), written);
    EXPECT_EQ(ini.toBytes(), QByteArray(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsAtClose,
    testing::Values(
        CloseCase{"Unchanged", {false, false, 0, 0}, {false, false, 0, 0}, true, ""},
        CloseCase{"PinDown", {false, false, 0, 0}, {true, false, 0, 0}, false,
                  "[Tonelark]\nAlwaysOnTop=1\n\n"},
        CloseCase{"InfoHidden", {true, true, 0, 0}, {true, false, 0, 0}, false,
                  "[Tonelark]\nShowInfo=0\n\n"},
        CloseCase{"MovedWithoutRestore", {false, false, 441, 128}, {false, false, 500, 600}, false, ""},
        CloseCase{"MovedLeftOnly", {false, false, 441, 128}, {false, false, 500, 128}, true,
                  "[Tonelark]\nLeft=500\n\n"},
        CloseCase{"NotRestoredAtStart", {false, false, 0, 0}, {false, false, 441, 128}, true,
                  "[Tonelark]\nLeft=441\nTop=128\n\n"},
        CloseCase{"KeyAndTempo", {false, false, 0, 0, 0, 100}, {false, false, 0, 0, -2, 90}, false,
                  "[Tonelark]\nKeyShift=-2\nTempoRatio=90\n\n"},
        CloseCase{"BackToTheSongsOwn", {false, false, 0, 0, 3, 80}, {false, false, 0, 0, 0, 100}, false,
                  "[Tonelark]\nKeyShift=0\nTempoRatio=100\n\n"},
        CloseCase{"Everything", {false, true, 1, 2}, {true, false, -3, 4}, true,
                  "[Tonelark]\nAlwaysOnTop=1\nShowInfo=0\nLeft=-3\nTop=4\n\n"}),
    [](const testing::TestParamInfo<CloseCase> &info) { return std::string(info.param.name); });

TEST(SettingsAtCloseSave, FirstRunWithoutChangesWritesNoFile)
{
    QTemporaryDir dir;
    Convex ini(dir.filePath(QStringLiteral("tonelark.ini")));
    const WindowSnapshot start{false, false, 0, 0};
    EXPECT_FALSE(saveSettingsAtClose(ini, start, start, false).has_value());
    EXPECT_FALSE(QFile::exists(ini.fileName()));

    const auto saved = saveSettingsAtClose(ini, start, {true, false, 0, 0}, false);
    ASSERT_TRUE(saved.has_value());
    EXPECT_TRUE(saved->ok) << saved->errorMessage.toStdString();
    EXPECT_EQ(readBytes(ini.fileName()), QByteArray("[Tonelark]\nAlwaysOnTop=1\n\n"));
}

TEST(SettingsAtCloseSave, AnEarlierFailedSaveIsRetriedAtClose)
{
    QTemporaryDir dir;
    Convex ini(dir.filePath(QStringLiteral("sub/tonelark.ini")));
    QFile blocker(dir.filePath(QStringLiteral("sub")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ini.WriteInteger(kSectionTonelark, u"SecondsToSkip", 10);
    EXPECT_FALSE(ini.UpdateFile());

    ASSERT_TRUE(QFile::remove(blocker.fileName()));
    const WindowSnapshot same{};
    const auto saved = saveSettingsAtClose(ini, same, same, false);
    ASSERT_TRUE(saved.has_value());
    EXPECT_TRUE(saved->ok) << saved->errorMessage.toStdString();
    EXPECT_EQ(readBytes(ini.fileName()), QByteArray("[Tonelark]\nSecondsToSkip=10\n\n"));
}
