#pragma once

#include "StageSong.h"

#include <QColor>
#include <QString>

// The stage's colours. Every text colour of a theme is kept readable against the theme's
// background: a colour with too little contrast is darkened or lightened (its hue kept)
// until it reaches kStageMinContrast.
namespace tonelark {

inline constexpr double kStageMinContrast = 4.5;

enum class StageThemeKind : int {
    LyricColors = 0, // the lyric highlight colours of the settings
    Dark = 1,        // light text on black, for a darkened room
};

struct StageTheme {
    QColor background;
    QColor unsung;   // text still to be sung (a line without a part mark)
    QColor sung;     // the wipe's colour
    QColor dimmed;   // lines already sung
    QColor title;    // the title and "歌詞はありません" when nothing else is shown
    QColor countIn;  // the count-in dots
    QColor male, female, chorus; // text still to be sung in a part's line

    QColor unsungFor(VocalPart part) const;
};

// The contrast ratio of two colours by their relative luminance (1 to 21).
double contrastRatio(const QColor &a, const QColor &b);
// `color` when it has at least `ratio` against `background`; otherwise the nearest colour of
// the same hue, darker or lighter, that has.
QColor readableOn(const QColor &color, const QColor &background, double ratio = kStageMinContrast);

// A theme: for LyricColors the highlight background and text colours of the settings with
// `windowText` for unsung text; Dark ignores them.
StageTheme stageTheme(StageThemeKind kind, const QColor &lyricBack, const QColor &lyricText,
                      const QColor &windowText);

} // namespace tonelark
