#pragma once

#include "StageTheme.h"

#include <QRect>
#include <QString>
#include <QStringView>

class QScreen;

// The karaoke window's keys, section "Stage" of the settings file: its place, screen,
// full-screen state, theme and face. Read when the window is made, written when it closes
// or the player does, each key only when it changed.
namespace tonelark {

class Convex;

inline constexpr QStringView kSectionStage = u"Stage";

struct StageSettings {
    QRect geometry;                 // the normal (not full-screen) frame; empty: not placed yet
    QString screen;                 // the name of the screen it was on; empty: the primary
    bool fullScreen = false;
    StageThemeKind theme = StageThemeKind::LyricColors;
    QString fontName = QStringLiteral("Noto Sans CJK JP");

    static StageSettings load(const Convex &ini);
    // Writes the keys that differ from `before`; returns whether any was written.
    bool save(Convex &ini, const StageSettings &before) const;
    bool operator==(const StageSettings &) const = default;
};

// Where a window of `wanted` goes on the screens' available areas: on the screen that holds
// its title bar, moved wholly onto it and no larger than it; otherwise centred on
// `fallback` (and never larger than it).
QRect usableStageGeometry(const QRect &wanted, const QList<QRect> &screens, const QRect &fallback);

} // namespace tonelark
