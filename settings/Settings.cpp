#include "Settings.h"

#include "CstmUtils.h"

#include <QUrl>

namespace tonelark {

namespace {

const QLatin1String kFileScheme("file:");

} // namespace

QString soundFontIniValue(const QString &path)
{
    const auto intact = [&] {
        if (path.startsWith(kFileScheme, Qt::CaseInsensitive) || firstNonAnsiCharacter(path) >= 0)
            return false;
        for (const QChar c : path)
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                return false;
        return path.isEmpty() || (path.front() != QLatin1Char(' ') && path.back() != QLatin1Char(' '));
    };
    if (intact())
        return path;
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

QString soundFontFromIniValue(const QString &value)
{
    if (!value.startsWith(kFileScheme, Qt::CaseInsensitive))
        return value;
    const QUrl url(value, QUrl::StrictMode);
    return url.isValid() && url.isLocalFile() ? url.toLocalFile() : value;
}

Settings Settings::load(const Convex &ini)
{
    const Settings d; // the defaults
    Settings s;
    const QStringView t = kSectionTonelark;

    s.BrsNormalizeOption = ini.ReadBool(t, u"BrsNormalizeOption", d.BrsNormalizeOption);
    s.DisableLoop = ini.ReadBool(t, u"DisableLoop", d.DisableLoop);
    s.SkipFirstBlank = ini.ReadBool(t, u"SkipFirstBlank", d.SkipFirstBlank);
    s.IgnoreSysEx = ini.ReadBool(t, u"IgnoreSysEx", d.IgnoreSysEx);
    s.SettingMode = ini.ReadInteger(t, u"SettingMode", d.SettingMode);
    s.MidiOutDeviceId = ini.ReadInteger(t, u"MidiOutDeviceId", d.MidiOutDeviceId);
    s.SoundFont = soundFontFromIniValue(ini.ReadString(t, u"SoundFont", d.SoundFont));
    s.PlaybackBaseMode = ini.ReadInteger(t, u"PlaybackBaseMode", d.PlaybackBaseMode);
    s.ReloadWhenModified = ini.ReadBool(t, u"ReloadWhenModified", d.ReloadWhenModified);
    // A shortcut uses only the low 16 bits of the stored integer.
    s.HotKey = static_cast<quint16>(ini.ReadInteger(t, u"HotKey", d.HotKey) & 0xFFFF);
    s.CombinationWithWinKey = ini.ReadBool(t, u"CombinationWithWinKey", d.CombinationWithWinKey);
    s.HideIfWindowIsActive = ini.ReadBool(t, u"HideIfWindowIsActive", d.HideIfWindowIsActive);
    s.RestoreWindowPos = ini.ReadBool(t, u"RestoreWindowPos", d.RestoreWindowPos);
    s.Left = ini.ReadInteger(t, u"Left", d.Left);
    s.Top = ini.ReadInteger(t, u"Top", d.Top);
    s.AlwaysOnTop = ini.ReadBool(t, u"AlwaysOnTop", d.AlwaysOnTop);
    s.ShowInfo = ini.ReadBool(t, u"ShowInfo", d.ShowInfo);
    s.UseClassicDialogForFile = ini.ReadBool(t, u"UseClassicDialogForFile", d.UseClassicDialogForFile);
    s.InfoBoxStyle = ini.ReadInteger(t, u"InfoBoxStyle", d.InfoBoxStyle);
    s.SeparatorType = ini.ReadInteger(t, u"SeparatorType", d.SeparatorType);
    s.UseSystemContextMenu = ini.ReadBool(t, u"UseSystemContextMenu", d.UseSystemContextMenu);
    s.SecondsToSkip = ini.ReadInteger(t, u"SecondsToSkip", d.SecondsToSkip);
    s.Keyword = ini.ReadString(t, u"Keyword", d.Keyword);
    s.CommentBackColor = ini.ReadInteger(t, u"CommentBackColor", d.CommentBackColor);
    s.CommentTextColor = ini.ReadInteger(t, u"CommentTextColor", d.CommentTextColor);
    s.CopyrightBackColor = ini.ReadInteger(t, u"CopyrightBackColor", d.CopyrightBackColor);
    s.CopyrightTextColor = ini.ReadInteger(t, u"CopyrightTextColor", d.CopyrightTextColor);
    s.TitleBackColor = ini.ReadInteger(t, u"TitleBackColor", d.TitleBackColor);
    s.TitleTextColor = ini.ReadInteger(t, u"TitleTextColor", d.TitleTextColor);
    s.UIFontType = ini.ReadInteger(t, u"UIFontType", d.UIFontType);
    s.FontName = ini.ReadString(t, u"FontName", d.FontName);
    s.FontSize = ini.ReadInteger(t, u"FontSize", d.FontSize);
    s.KeyShift = ini.ReadInteger(t, u"KeyShift", d.KeyShift);
    s.TempoRatio = ini.ReadInteger(t, u"TempoRatio", d.TempoRatio);
    s.GuideMelody = ini.ReadInteger(t, u"GuideMelody", d.GuideMelody);
    s.MasterVolume = ini.ReadInteger(t, u"MasterVolume", d.MasterVolume);
    s.MixerPerSong = ini.ReadBool(t, u"MixerPerSong", d.MixerPerSong);

    const QStringView l = kSectionLyric;
    s.Lyric.AutoLyricTab = ini.ReadBool(l, u"AutoLyricTab", d.Lyric.AutoLyricTab);
    s.Lyric.TrimAnySpace = ini.ReadBool(l, u"TrimAnySpace", d.Lyric.TrimAnySpace);
    s.Lyric.NoEmptyLines = ini.ReadBool(l, u"NoEmptyLines", d.Lyric.NoEmptyLines);
    s.Lyric.ApplyColor = ini.ReadInteger(l, u"ApplyColor", d.Lyric.ApplyColor);
    s.Lyric.FontBold = ini.ReadBool(l, u"FontBold", d.Lyric.FontBold);
    s.Lyric.FontItalic = ini.ReadBool(l, u"FontItalic", d.Lyric.FontItalic);
    s.Lyric.BackColor = ini.ReadInteger(l, u"BackColor", d.Lyric.BackColor);
    s.Lyric.TextColor = ini.ReadInteger(l, u"TextColor", d.Lyric.TextColor);
    s.Lyric.LineMode = ini.ReadInteger(l, u"LineMode", d.Lyric.LineMode);

    const QStringView p = kSectionProgress;
    s.Progress.ForeColor = ini.ReadInteger(p, u"ForeColor", d.Progress.ForeColor);
    s.Progress.BackColor = ini.ReadInteger(p, u"BackColor", d.Progress.BackColor);
    s.Progress.FrameColor = ini.ReadInteger(p, u"FrameColor", d.Progress.FrameColor);
    return s;
}

Settings loadSettingsAtStart()
{
    return Settings::load(GetIniFile());
}

bool isMuteKeyword(QStringView keyword)
{
    return keyword == kMuteKeyword;
}

bool isDebugKeyword(QStringView keyword)
{
    return keyword == kDebugKeyword;
}

bool writeCloseTimeSettings(Convex &ini, const WindowSnapshot &atStart,
                            const WindowSnapshot &atClose, bool restoreWindowPos)
{
    const QStringView t = kSectionTonelark;
    bool written = false;
    // Each key only when its value changed during the run.
    const auto writeBool = [&](QStringView key, bool before, bool after) {
        if (after != before) {
            ini.WriteBool(t, key, after);
            written = true;
        }
    };
    const auto writeInteger = [&](QStringView key, int before, int after) {
        if (after != before) {
            ini.WriteInteger(t, key, after);
            written = true;
        }
    };
    writeBool(u"AlwaysOnTop", atStart.AlwaysOnTop, atClose.AlwaysOnTop);
    writeBool(u"ShowInfo", atStart.ShowInfo, atClose.ShowInfo);
    writeInteger(u"KeyShift", atStart.KeyShift, atClose.KeyShift);
    writeInteger(u"TempoRatio", atStart.TempoRatio, atClose.TempoRatio);
    writeInteger(u"GuideMelody", atStart.GuideMelody, atClose.GuideMelody);
    writeInteger(u"MasterVolume", atStart.MasterVolume, atClose.MasterVolume);
    writeBool(u"MixerPerSong", atStart.MixerPerSong, atClose.MixerPerSong);
    if (restoreWindowPos) {
        writeInteger(u"Left", atStart.Left, atClose.Left);
        writeInteger(u"Top", atStart.Top, atClose.Top);
    }
    return written;
}

std::optional<SaveResult> saveSettingsAtClose(Convex &ini, const WindowSnapshot &atStart,
                                              const WindowSnapshot &atClose,
                                              bool restoreWindowPos)
{
    writeCloseTimeSettings(ini, atStart, atClose, restoreWindowPos);
    if (!ini.Modified())
        return std::nullopt;
    return ini.UpdateFile();
}

} // namespace tonelark
