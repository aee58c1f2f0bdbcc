#include "WindowPlacement.h"

#include <algorithm>
#include <limits>

namespace tonelark {

int usableFontSize(int points)
{
    return std::clamp(points, kMinWindowFontSize, kMaxWindowFontSize);
}

QPoint usableWindowPosition(const QRect &window, const QList<QRect> &screens)
{
    if (screens.isEmpty())
        return window.topLeft();
    const QRect *nearest = nullptr;
    qint64 best = std::numeric_limits<qint64>::max();
    for (const QRect &screen : screens) {
        if (screen.contains(window))
            return window.topLeft();
        // Distance from the window's top-left corner to the screen (0 when inside it).
        const qint64 dx = std::max({qint64(screen.left()) - window.left(), qint64(0),
                                    qint64(window.left()) - screen.right()});
        const qint64 dy = std::max({qint64(screen.top()) - window.top(), qint64(0),
                                    qint64(window.top()) - screen.bottom()});
        if (dx * dx + dy * dy < best) {
            best = dx * dx + dy * dy;
            nearest = &screen;
        }
    }
    const QRect &area = *nearest;
    const int x = std::max(area.left(), std::min(window.left(), area.right() - window.width() + 1));
    const int y = std::max(area.top(), std::min(window.top(), area.bottom() - window.height() + 1));
    return {x, y};
}

} // namespace tonelark
