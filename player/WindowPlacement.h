#pragma once

#include <QList>
#include <QPoint>
#include <QRect>

// Restored window geometry made usable: a position or font size stored by another screen
// setup (or edited by hand) must not give a window that is off-screen or too large to use.
namespace tonelark {

// The font sizes, in points, a stored FontSize is clamped into.
inline constexpr int kMinWindowFontSize = 6;
inline constexpr int kMaxWindowFontSize = 36;
int usableFontSize(int points);

// Where a window of `window`'s size goes when it should stand at `window.topLeft()`: there,
// when it lies wholly inside one of `screens` (available areas, taskbars excluded); otherwise
// moved the least distance into the screen nearest to that spot, its top-left corner kept
// on the screen when the window is larger than it. With no screens the spot is kept.
QPoint usableWindowPosition(const QRect &window, const QList<QRect> &screens);

} // namespace tonelark
