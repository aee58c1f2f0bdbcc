#pragma once

#include <QPoint>
#include <QSize>
#include <QString>

#include <array>
#include <optional>

// Rules of the settings dialog that need no widgets: the seek bar colour presets, where the
// colour dialog goes, and what the user is told after OK about play options that take effect
// at the next play.
namespace tonelark {

struct GaugeColorPreset {
    QString caption; // menu caption with its accelerator
    QString hint;
    qint32 foreColor; // TColor values
    qint32 backColor;
    qint32 frameColor;
};

// The four rows of the seek bar page's context menu; row 0 restores the defaults (system
// colours clHighlight, clWindow, clWindowFrame).
const std::array<GaugeColorPreset, 4> &GaugeColorPresets();

// Top-left corner of the colour dialog: centred horizontally on the cursor with its bottom
// edge at the cursor, kept right of screen coordinate 0, then left of `workAreaRight` (the
// work area's right edge, exclusive, which wins when the dialog is wider than the space),
// and below screen coordinate 0.
QPoint colorDialogPosition(QSize dialog, QPoint cursor, int workAreaRight);

// A check box caption as the changed-options list names it: the text before the first "(&",
// without leading and trailing blanks and control characters.
QString playOptionListCaption(const QString &caption);
// Appends one line (line break, "・", the shortened caption) to ChangedPlayOptions.
void appendChangedPlayOption(QString &changedPlayOptions, const QString &caption);

// The information message after OK, or nothing. Shown only while the engine's last polled
// state is play or pause and something that takes effect at the next play changed: the mode
// message when the mode changed, otherwise in manual mode (SettingMode 0) the sentence and
// the changed options after a blank line.
std::optional<QString> playOptionsNotice(bool modeChanged, const QString &changedPlayOptions, qint32 settingMode,
                                         bool playingOrPaused);

} // namespace tonelark
