#include "PrefApply.h"

#include "Convex.h"
#include "Engine.h"
#include "PrefRules.h"
#include "Ui.h"

#include <QDir>

namespace tonelark {

namespace {

// The check box captions the changed-options list names.
const QString kCaptionNormalize = QStringLiteral("ボリューム バランスを自動的に調整(&N)");
const QString kCaptionDisableLoop = QStringLiteral("繰り返しを行わない(&D)");
const QString kCaptionSkipFirstBlank = QStringLiteral("冒頭の空白を省略(&S)");
const QString kCaptionIgnoreSysEx = QStringLiteral("エクスクルーシブ メッセージを送信しない(&X)");

} // namespace

QString hotKeyRefusedMessage()
{
    return QStringLiteral("ホットキーを登録できません。\n\nキーがシステムで既に使用されている場合があります。");
}

QString soundFontRefusedMessage(const QString &fileName, qint32 engineResult)
{
    const QString name = QDir::toNativeSeparators(fileName);
    const QString reason = engineResult == BRSERROR_FILENOTFOUND
                               ? QStringLiteral("SoundFont「%1」が見つかりません。").arg(name)
                               : QStringLiteral("「%1」を SoundFont として読み込めません。\n"
                                                "SF2 または SF3 形式の壊れていないファイルを選んでください。")
                                     .arg(name);
    return reason + QStringLiteral("\n\nこれまでの SoundFont をそのまま使います。");
}

QString applyPreferences(const Settings &edited, const PrefApplyContext &context)
{
    Convex &ini = context.ini;
    Settings &s = context.settings;
    const QStringView t = kSectionTonelark;
    QString changedPlayOptions;
    ini.SetModified(false);

    // 1. Mode.
    const bool modeChanged = edited.SettingMode != s.SettingMode;
    if (modeChanged) {
        s.SettingMode = edited.SettingMode;
        ini.WriteInteger(t, u"SettingMode", s.SettingMode);
    }

    // 2. Hot key: both values are stored and kept even when the grab is refused.
    if (edited.HotKey != s.HotKey || edited.CombinationWithWinKey != s.CombinationWithWinKey) {
        s.HotKey = edited.HotKey;
        ini.WriteInteger(t, u"HotKey", s.HotKey);
        s.CombinationWithWinKey = edited.CombinationWithWinKey;
        ini.WriteBool(t, u"CombinationWithWinKey", s.CombinationWithWinKey);
        if (!context.window.RegHotKey(s.HotKey))
            context.ui.showWarning(hotKeyRefusedMessage());
    }

    // 3., 8. Play options, each remembered for the notice.
    const auto playOption = [&](bool Settings::*key, QStringView name, const QString &caption) {
        if (edited.*key == s.*key)
            return;
        s.*key = edited.*key;
        ini.WriteBool(t, name, s.*key);
        appendChangedPlayOption(changedPlayOptions, caption);
    };
    const auto option = [&](bool Settings::*key, QStringView name) {
        if (edited.*key == s.*key)
            return;
        s.*key = edited.*key;
        ini.WriteBool(t, name, s.*key);
    };
    playOption(&Settings::BrsNormalizeOption, u"BrsNormalizeOption", kCaptionNormalize);
    playOption(&Settings::DisableLoop, u"DisableLoop", kCaptionDisableLoop);
    playOption(&Settings::SkipFirstBlank, u"SkipFirstBlank", kCaptionSkipFirstBlank);

    // 4.
    option(&Settings::ReloadWhenModified, u"ReloadWhenModified");
    option(&Settings::RestoreWindowPos, u"RestoreWindowPos");
    option(&Settings::HideIfWindowIsActive, u"HideIfWindowIsActive");

    // 5. Device and SoundFont: the output is reopened at once, playback goes on. A SoundFont
    // the engine refuses is not stored: the previous one stays in use.
    bool reopen = false;
    if (edited.MidiOutDeviceId != s.MidiOutDeviceId) {
        s.MidiOutDeviceId = edited.MidiOutDeviceId;
        ini.WriteInteger(t, u"MidiOutDeviceId", s.MidiOutDeviceId);
        reopen = true;
    }
    if (edited.SoundFont != s.SoundFont) {
        const std::int32_t result = context.engine.setSoundFont(edited.SoundFont);
        if (result == BRSERROR_NOERROR) {
            s.SoundFont = edited.SoundFont;
            ini.WriteString(t, u"SoundFont", s.SoundFont);
            reopen = reopen || s.MidiOutDeviceId == BRSDEVICE_BUILTIN_SYNTH;
        } else {
            context.ui.showError(soundFontRefusedMessage(edited.SoundFont, result));
        }
    }
    if (reopen)
        context.engine.openDevice(s.MidiOutDeviceId);

    // 6. Written only when the tick check box's meaning changed (another stored value that
    // still means "time" is kept).
    if ((edited.PlaybackBaseMode == 0) != (s.PlaybackBaseMode == 0)) {
        s.PlaybackBaseMode = edited.PlaybackBaseMode == 0 ? 0 : 1;
        ini.WriteInteger(t, u"PlaybackBaseMode", s.PlaybackBaseMode);
    }

    // 7., 8.
    option(&Settings::UseClassicDialogForFile, u"UseClassicDialogForFile");
    playOption(&Settings::IgnoreSysEx, u"IgnoreSysEx", kCaptionIgnoreSysEx);

    // 9. All three colours when any of them changed.
    if (!(edited.Progress == s.Progress)) {
        const QStringView p = kSectionProgress;
        ini.WriteInteger(p, u"ForeColor", edited.Progress.ForeColor);
        ini.WriteInteger(p, u"BackColor", edited.Progress.BackColor);
        ini.WriteInteger(p, u"FrameColor", edited.Progress.FrameColor);
        s.Progress = edited.Progress;
        context.window.setGaugeColors(s.Progress);
    }

    // 10.-12. Written on every OK.
    ini.WriteInteger(t, u"InfoBoxStyle", edited.InfoBoxStyle);
    s.InfoBoxStyle = edited.InfoBoxStyle;
    context.window.ApplyInfoBoxStyle(s.InfoBoxStyle);
    ini.WriteInteger(t, u"SecondsToSkip", edited.SecondsToSkip);
    s.SecondsToSkip = edited.SecondsToSkip;

    const QStringView l = kSectionLyric;
    const Settings::LyricKeys &lyric = edited.Lyric;
    ini.WriteBool(l, u"AutoLyricTab", lyric.AutoLyricTab);
    ini.WriteBool(l, u"TrimAnySpace", lyric.TrimAnySpace);
    ini.WriteBool(l, u"NoEmptyLines", lyric.NoEmptyLines);
    ini.WriteBool(l, u"FontBold", lyric.FontBold);
    ini.WriteBool(l, u"FontItalic", lyric.FontItalic);
    ini.WriteInteger(l, u"BackColor", lyric.BackColor);
    ini.WriteInteger(l, u"TextColor", lyric.TextColor);
    ini.WriteInteger(l, u"ApplyColor", lyric.ApplyColor);
    // Beyond the keys written on every OK: only a changed line rule reaches the file.
    if (lyric.LineMode != s.Lyric.LineMode)
        ini.WriteInteger(l, u"LineMode", lyric.LineMode);
    s.Lyric = lyric;

    ini.WriteInteger(t, u"SeparatorType", edited.SeparatorType);
    s.SeparatorType = edited.SeparatorType;
    ini.WriteBool(t, u"UseSystemContextMenu", edited.UseSystemContextMenu);
    s.UseSystemContextMenu = edited.UseSystemContextMenu;
    context.window.SetContextMenuMode(!s.UseSystemContextMenu);

    // 13. A file that could not be read at start is replaced only when the user agrees: the
    // store holds nothing of it but what this run wrote.
    if (ini.Modified()) {
        bool save = true;
        Convex::OverwriteUnreadable overwrite = Convex::OverwriteUnreadable::Refuse;
        if (!ini.loadError().isEmpty()) {
            save = context.ui.askYesNo(
                ini.loadError() +
                QStringLiteral("\n\n保存すると、このファイルはこの画面の設定だけで置き換えられ、"
                               "ほかの内容は失われます。保存しますか?"));
            overwrite = Convex::OverwriteUnreadable::Allow;
        }
        if (save) {
            const SaveResult saved = ini.UpdateFile(overwrite);
            if (!saved) {
                context.ui.showError(saved.errorMessage);
                return changedPlayOptions;
            }
        }
    }

    // 14.
    if (const std::optional<QString> notice =
            playOptionsNotice(modeChanged, changedPlayOptions, s.SettingMode, context.playingOrPaused))
        context.ui.showInformation(QStringLiteral("設定"), *notice);
    return changedPlayOptions;
}

} // namespace tonelark
