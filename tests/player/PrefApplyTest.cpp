#include "FakeEngine.h"
#include "PrefApply.h"
#include "PrefRules.h"
#include "WindowTestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>

using namespace tonelark;
using namespace tonelark::test;

namespace {

class RecordingWindow final : public PrefWindow {
public:
    QStringList calls;
    bool grabSucceeds = true;
    const Settings *settings = nullptr;
    bool RegHotKey(quint16 ShortCut) override
    {
        calls << QStringLiteral("RegHotKey(%1,%2)").arg(ShortCut).arg(settings->CombinationWithWinKey);
        return grabSucceeds;
    }
    void setGaugeColors(const Settings::ProgressKeys &c) override
    {
        calls << QStringLiteral("setGaugeColors(%1,%2,%3)").arg(c.ForeColor).arg(c.BackColor).arg(c.FrameColor);
    }
    void ApplyInfoBoxStyle(qint32 Style) override { calls << QStringLiteral("ApplyInfoBoxStyle(%1)").arg(Style); }
    void SetContextMenuMode(bool compact) override { calls << QStringLiteral("SetContextMenuMode(%1)").arg(compact); }
};

// One OK of the dialog on a real settings file: the file as it was, the change the user made,
// and what was playing.
struct Applied {
    QTemporaryDir dir;
    QString path;
    Convex ini;
    Settings settings;
    FakeEngine engine;
    FakeUi ui;
    RecordingWindow window;
    QString changed;

    Applied(const QByteArray &fileText, const std::function<void(Settings &)> &change, bool playing = false,
            QString iniPath = {}, std::int32_t soundFontResult = BRSERROR_NOERROR)
    {
        engine.soundFontResult = soundFontResult;
        path = iniPath.isEmpty() ? dir.filePath(QStringLiteral("Tonelark.ini")) : iniPath;
        if (iniPath.isEmpty())
            writeFile(path, fileText);
        ini = Convex(path);
        settings = Settings::load(ini);
        window.settings = &settings;
        Settings edited = settings;
        change(edited);
        changed = applyPreferences(edited, {ini, settings, engine, ui, window, playing});
    }
    QByteArray onDisk() const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(no file)");
    }
};

} // namespace

TEST(PrefApply, OkWithoutChangesRewritesOnlyTheAlwaysWrittenKeys)
{
    Applied a("[Tonelark]\nDisableLoop=0\nPlaybackBaseMode=5\n", [](Settings &) {});
    EXPECT_EQ(a.onDisk(), QByteArray("[Tonelark]\nDisableLoop=0\nPlaybackBaseMode=5\nInfoBoxStyle=0\nSecondsToSkip=5\n"
                                     "SeparatorType=0\nUseSystemContextMenu=0\n\n"
                                     "[Lyric]\nAutoLyricTab=1\nTrimAnySpace=0\nNoEmptyLines=0\nFontBold=1\n"
                                     "FontItalic=0\nBackColor=-16777211\nTextColor=16750950\nApplyColor=0\n\n"));
    EXPECT_EQ(a.window.calls, QStringList({"ApplyInfoBoxStyle(0)", "SetContextMenuMode(1)"}));
    EXPECT_TRUE(a.engine.calls.isEmpty());
    EXPECT_TRUE(a.ui.informations.isEmpty() && a.ui.errors.isEmpty() && a.ui.warnings.isEmpty());
}

TEST(PrefApply, ChangedKeysAreWrittenInTheirGroupsAndTakeEffect)
{
    Applied a("[Progress]\nForeColor=255\n[Tonelark]\nPlaybackBaseMode=0\n", [](Settings &s) {
        const GaugeColorPreset &defaults = GaugeColorPresets()[0];
        s.Progress = {defaults.foreColor, defaults.backColor, defaults.frameColor};
        s.PlaybackBaseMode = 1;
        s.RestoreWindowPos = true;
        s.Lyric.TextColor = 0x0000FF;
        s.Lyric.LineMode = 2;
        s.SeparatorType = 1;
        s.UseSystemContextMenu = true;
    });
    const Convex saved(a.path);
    EXPECT_EQ(saved.ReadString(kSectionProgress, u"ForeColor", {}), "-16777203");
    EXPECT_EQ(saved.ReadString(kSectionProgress, u"BackColor", {}), "-16777211");
    EXPECT_EQ(saved.ReadString(kSectionProgress, u"FrameColor", {}), "-16777210");
    EXPECT_EQ(saved.ReadString(kSectionTonelark, u"PlaybackBaseMode", {}), "1");
    EXPECT_EQ(saved.ReadString(kSectionTonelark, u"RestoreWindowPos", {}), "1");
    EXPECT_EQ(saved.ReadString(kSectionLyric, u"TextColor", {}), "255");
    EXPECT_EQ(saved.ReadString(kSectionLyric, u"LineMode", {}), "2");
    EXPECT_EQ(saved.ReadString(kSectionTonelark, u"SeparatorType", {}), "1");
    EXPECT_FALSE(saved.ValueExists(kSectionTonelark, u"HotKey"));
    EXPECT_FALSE(saved.ValueExists(kSectionTonelark, u"MidiOutDeviceId"));
    EXPECT_EQ(a.window.calls, QStringList({"setGaugeColors(-16777203,-16777211,-16777210)", "ApplyInfoBoxStyle(0)",
                                           "SetContextMenuMode(0)"}));
    EXPECT_EQ(a.settings.Lyric.TextColor, 0x0000FF);
    EXPECT_EQ(a.settings.Lyric.LineMode, 2);
    EXPECT_EQ(a.settings.PlaybackBaseMode, 1);
}

TEST(PrefApply, PlayOptionNoticeOnlyWhilePlayingOrPaused)
{
    const QString nextPlay = QStringLiteral("設定|変更された次の設定は次回の演奏から有効になります。\r\n"
                                            "\r\n・繰り返しを行わない\r\n・エクスクルーシブ メッセージを送信しない");
    const QString modeNotice = QStringLiteral("設定|モードの変更は次回の演奏から有効になります。");
    const auto loopAndSysEx = [](Settings &s) {
        s.DisableLoop = true;
        s.IgnoreSysEx = true;
    };
    struct Case {
        const char *name;
        QByteArray file;
        std::function<void(Settings &)> change;
        bool playing;
        QStringList informations;
    } cases[] = {
        {"manual, playing", "", loopAndSysEx, true, {nextPlay}},
        {"manual, stopped", "", loopAndSysEx, false, {}},
        {"to the other mode, playing", "",
         [&](Settings &s) {
             loopAndSysEx(s);
             s.SettingMode = 1;
         },
         true, {modeNotice}},
        {"options in the other mode", "[Tonelark]\nSettingMode=1\n", loopAndSysEx, true, {}},
        {"mode 2 kept", "[Tonelark]\nSettingMode=2\n", [](Settings &) {}, true, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Applied a(c.file, c.change, c.playing);
        EXPECT_EQ(a.ui.informations, c.informations);
        const Convex saved(a.path);
        EXPECT_EQ(saved.ReadBool(kSectionTonelark, u"DisableLoop", false), a.settings.DisableLoop);
        EXPECT_EQ(saved.ReadInteger(kSectionTonelark, u"SettingMode", 0), a.settings.SettingMode);
    }
    Applied kept("[Tonelark]\nSettingMode=2\n", [](Settings &) {});
    EXPECT_EQ(kept.settings.SettingMode, 2);
}

TEST(PrefApply, DeviceAndSoundFontReopenTheOutputOnce)
{
    struct Case {
        const char *name;
        QByteArray file;
        std::function<void(Settings &)> change;
        std::int32_t soundFontResult;
        QStringList engineCalls;
        QString storedSoundFont;
        int errors;
    } cases[] = {
        {"same device", "", [](Settings &s) { s.MidiOutDeviceId = -1100; }, 0, {}, "", 0},
        {"another device", "", [](Settings &s) { s.MidiOutDeviceId = 1; }, 0, {"openDevice(1)"}, "", 0},
        {"SoundFont of the synthesizer in use", "", [](Settings &s) { s.SoundFont = "/sf/a.sf2"; }, 0,
         {"setSoundFont(/sf/a.sf2)", "openDevice(-1100)"}, "/sf/a.sf2", 0},
        {"SoundFont while a port plays", "[Tonelark]\nMidiOutDeviceId=0\n",
         [](Settings &s) { s.SoundFont = "/sf/a.sf2"; }, 0, {"setSoundFont(/sf/a.sf2)"}, "/sf/a.sf2", 0},
        {"both at once", "[Tonelark]\nMidiOutDeviceId=0\n",
         [](Settings &s) {
             s.MidiOutDeviceId = -1100;
             s.SoundFont = "/sf/a.sf2";
         },
         0, {"setSoundFont(/sf/a.sf2)", "openDevice(-1100)"}, "/sf/a.sf2", 0},
        {"refused SoundFont", "[Tonelark]\nSoundFont=/sf/old.sf2\n", [](Settings &s) { s.SoundFont = "/sf/bad.sf2"; },
         BRSERROR_CANNOT_OPENFILE, {"setSoundFont(/sf/bad.sf2)"}, "/sf/old.sf2", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Applied a(c.file, c.change, false, {}, c.soundFontResult);
        EXPECT_EQ(a.engine.calls, c.engineCalls);
        EXPECT_EQ(a.settings.SoundFont, c.storedSoundFont);
        EXPECT_EQ(Convex(a.path).ReadString(kSectionTonelark, u"SoundFont", {}), c.storedSoundFont);
        ASSERT_EQ(a.ui.errors.size(), c.errors);
        if (c.errors) {
            EXPECT_TRUE(a.ui.errors[0].contains("/sf/bad.sf2"));
        }
    }
}

TEST(PrefApply, HotKeyRegrabbedWhenKeyOrWinBoxChangesAndKeptWhenRefused)
{
    Applied same("", [](Settings &) {});
    EXPECT_FALSE(same.window.calls.join(' ').contains("RegHotKey"));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Tonelark.ini"));
    writeFile(path, "");
    Convex ini(path);
    Settings settings = Settings::load(ini);
    FakeEngine engine;
    FakeUi ui;
    RecordingWindow window;
    window.settings = &settings;
    window.grabSucceeds = false;
    Settings edited = settings;
    edited.CombinationWithWinKey = false;
    applyPreferences(edited, {ini, settings, engine, ui, window, false});
    EXPECT_EQ(window.calls.first(), "RegHotKey(24641,0)");
    EXPECT_EQ(ui.warnings, QStringList({hotKeyRefusedMessage()}));
    const Convex saved(path);
    EXPECT_EQ(saved.ReadString(kSectionTonelark, u"HotKey", {}), "24641");
    EXPECT_EQ(saved.ReadString(kSectionTonelark, u"CombinationWithWinKey", {}), "0");
}

TEST(PrefApply, FailedSaveShowsItsMessageAndKeepsTheValuesForTheRun)
{
    // A folder that cannot be made: the settings path runs through a regular file.
    QTemporaryDir dir;
    writeFile(dir.filePath("file"), "x");
    Applied a("", [](Settings &s) { s.DisableLoop = true; }, true, dir.filePath("file/Tonelark.ini"));
    ASSERT_EQ(a.ui.errors.size(), 1);
    EXPECT_TRUE(a.ui.errors[0].startsWith(QStringLiteral("設定ファイル「"))) << a.ui.errors[0].toStdString();
    EXPECT_TRUE(a.settings.DisableLoop);
    EXPECT_TRUE(a.ui.informations.isEmpty()); // the applying ended at the save

    // A file that could not be read at start (here a FIFO) is replaced only after the user
    // agrees; declining leaves it as it is and is no error.
    QTemporaryDir other;
    const QString path = other.filePath("Tonelark.ini");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    Convex ini(path);
    ASSERT_FALSE(ini.loadError().isEmpty());
    Settings settings = Settings::load(ini);
    FakeEngine engine;
    FakeUi ui;
    RecordingWindow window;
    window.settings = &settings;
    ui.nextAnswer = false;
    applyPreferences(settings, {ini, settings, engine, ui, window, false});
    ASSERT_EQ(ui.questions.size(), 1);
    EXPECT_TRUE(ui.questions[0].startsWith(ini.loadError()));
    EXPECT_TRUE(ui.errors.isEmpty());
    EXPECT_TRUE(QFileInfo(path).exists() && !QFileInfo(path).isFile());
}
