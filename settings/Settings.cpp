#include "Settings.h"

namespace tonelark {

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
    s.SoundFont = ini.ReadString(t, u"SoundFont", d.SoundFont);
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
    if (atClose.AlwaysOnTop != atStart.AlwaysOnTop) {
        ini.WriteBool(t, u"AlwaysOnTop", atClose.AlwaysOnTop);
        written = true;
    }
    if (atClose.ShowInfo != atStart.ShowInfo) {
        ini.WriteBool(t, u"ShowInfo", atClose.ShowInfo);
        written = true;
    }
    if (atClose.KeyShift != atStart.KeyShift) {
        ini.WriteInteger(t, u"KeyShift", atClose.KeyShift);
        written = true;
    }
    if (atClose.TempoRatio != atStart.TempoRatio) {
        ini.WriteInteger(t, u"TempoRatio", atClose.TempoRatio);
        written = true;
    }
    if (restoreWindowPos) {
        if (atClose.Left != atStart.Left) {
            ini.WriteInteger(t, u"Left", atClose.Left);
            written = true;
        }
        if (atClose.Top != atStart.Top) {
            ini.WriteInteger(t, u"Top", atClose.Top);
            written = true;
        }
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
