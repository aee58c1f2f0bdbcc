#pragma once

#include "Convex.h"

#include <QString>
#include <QStringView>

#include <optional>

// Every key of the settings file as one value: read once at start with the defaults below,
// edited as a copy by the settings dialog. A member is named exactly by its key; the two
// sections that repeat key names ("Lyric", "Progress") are nested members, so the lyric
// highlight background is `Lyric.BackColor` and the seek bar's remaining part is
// `Progress.BackColor`.
namespace tonelark {

inline constexpr QStringView kSectionTonelark = u"Tonelark";
inline constexpr QStringView kSectionLyric = u"Lyric";
inline constexpr QStringView kSectionProgress = u"Progress";

// Colour values are 32-bit TColor numbers: 0x00BBGGRR for RGB, 0xFF0000nn for system colour
// nn. The settings file holds them in signed decimal (clBtnFace 0xFF00000F is -16777201).
constexpr qint32 systemColor(int index)
{
    return static_cast<qint32>(0xFF000000u | static_cast<quint32>(index));
}
inline constexpr qint32 kClWindow = systemColor(5);
inline constexpr qint32 kClWindowFrame = systemColor(6);
inline constexpr qint32 kClWindowText = systemColor(8);
inline constexpr qint32 kClHighlight = systemColor(13);
inline constexpr qint32 kClBtnFace = systemColor(15);

// Shortcut bits of a 16-bit key combination: the key code in the low byte plus these.
inline constexpr quint16 kShortcutShift = 0x2000;
inline constexpr quint16 kShortcutCtrl = 0x4000;
inline constexpr quint16 kShortcutAlt = 0x8000;

// Keyword values that switch hidden modes; matched as whole texts, exactly as written.
inline constexpr QStringView kMuteKeyword = u"静寂";
inline constexpr QStringView kDebugKeyword = u"雨の日は窓辺で本を読みたい";

struct Settings {
    // [Tonelark]
    bool BrsNormalizeOption = false;
    bool DisableLoop = false;
    bool SkipFirstBlank = true;
    bool IgnoreSysEx = false;
    qint32 SettingMode = 0;             // 0 manual play options, 1 the fixed set of the RPG mode
    qint32 MidiOutDeviceId = -1100;     // -1100 the built-in synthesizer, 0..n-1 output ports
    QString SoundFont;                  // the built-in synthesizer's SoundFont; empty: the system's
    qint32 PlaybackBaseMode = 1;        // seek bar unit: 0 ticks, 1 time
    bool ReloadWhenModified = false;
    quint16 HotKey = kShortcutCtrl | kShortcutShift | 'A';
    bool CombinationWithWinKey = true;
    bool HideIfWindowIsActive = true;
    bool RestoreWindowPos = false;
    qint32 Left = 441;                  // the window's designed position
    qint32 Top = 128;
    bool AlwaysOnTop = false;
    bool ShowInfo = false;
    bool UseClassicDialogForFile = false;
    qint32 InfoBoxStyle = 0;            // 0 default frame, 1 border only, 2 none
    qint32 SeparatorType = 0;           // 0 " - ", 1 " / "
    bool UseSystemContextMenu = false;
    qint32 SecondsToSkip = 5;
    QString Keyword;
    qint32 CommentBackColor = kClBtnFace;
    qint32 CommentTextColor = kClWindowText;
    qint32 CopyrightBackColor = kClBtnFace;
    qint32 CopyrightTextColor = kClWindowText;
    qint32 TitleBackColor = kClBtnFace;
    qint32 TitleTextColor = kClWindowText;
    qint32 UIFontType = -1;             // 0..3 a system font, anything else FontName/FontSize
    QString FontName = QStringLiteral("ＭＳ ゴシック");
    qint32 FontSize = 9;                // points
    // The singer's key and tempo as the run starts; the window keeps the live values and
    // writes them back at close.
    qint32 KeyShift = 0;                // semitones, -12..12
    qint32 TempoRatio = 100;            // per cent of the song's tempo, 50..200

    struct LyricKeys {
        bool AutoLyricTab = true;
        bool TrimAnySpace = false;
        bool NoEmptyLines = false;
        qint32 ApplyColor = 0;          // 0 current line, 1 current and played lines, 2 none
        bool FontBold = true;
        bool FontItalic = false;
        qint32 BackColor = kClWindow;
        qint32 TextColor = 0x00FF9966;  // 16750950, a light blue
        // 歌詞の行: 0 自動, 1 常に行にまとめる, 2 歌詞イベントごと (SungLineMode); others act as 0.
        qint32 LineMode = 0;
        bool operator==(const LyricKeys &) const = default;
    } Lyric;

    struct ProgressKeys {
        qint32 ForeColor = kClHighlight;
        qint32 BackColor = kClWindow;
        qint32 FrameColor = kClWindowFrame;
        bool operator==(const ProgressKeys &) const = default;
    } Progress;

    // Reads every key from `ini`; a missing key or a value that does not parse keeps the
    // default above. Out-of-range numbers are passed on as they are.
    static Settings load(const Convex &ini);

    bool operator==(const Settings &) const = default;
};

// The settings the main window starts with: every key of the program-wide store.
Settings loadSettingsAtStart();

// Mute mode: every play first turns the master volume fully down.
bool isMuteKeyword(QStringView keyword);
// Debug mode: the window caption becomes a trace line.
bool isDebugKeyword(QStringView keyword);

// The window state that the close-time keys record. At start, Left and Top are 0 unless the
// position was restored from the file.
struct WindowSnapshot {
    bool AlwaysOnTop = false;
    bool ShowInfo = false;
    qint32 Left = 0;
    qint32 Top = 0;
    qint32 KeyShift = 0;
    qint32 TempoRatio = 100;
};

// Writes the keys the window records at close: AlwaysOnTop, ShowInfo, KeyShift and
// TempoRatio when they differ from the start, and, when `restoreWindowPos` is on at close, Left and Top each when it
// moved. Returns whether anything was written.
bool writeCloseTimeSettings(Convex &ini, const WindowSnapshot &atStart,
                            const WindowSnapshot &atClose, bool restoreWindowPos);

// The whole close sequence: the writes above, then a save when the store is modified (by
// them or by anything earlier in the run that is still unsaved). Returns the save's outcome,
// or nothing when there was nothing to save. Callers ignore a failure at close.
std::optional<SaveResult> saveSettingsAtClose(Convex &ini, const WindowSnapshot &atStart,
                                              const WindowSnapshot &atClose,
                                              bool restoreWindowPos);

} // namespace tonelark
