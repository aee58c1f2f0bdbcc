#include "StageSettings.h"

#include "Convex.h"

#include <algorithm>

namespace tonelark {

StageSettings StageSettings::load(const Convex &ini)
{
    const StageSettings d;
    StageSettings s;
    const QStringView t = kSectionStage;
    const int width = ini.ReadInteger(t, u"Width", 0), height = ini.ReadInteger(t, u"Height", 0);
    if (width > 0 && height > 0)
        s.geometry = QRect(ini.ReadInteger(t, u"Left", 0), ini.ReadInteger(t, u"Top", 0), width, height);
    s.screen = ini.ReadString(t, u"Screen", d.screen);
    s.fullScreen = ini.ReadBool(t, u"FullScreen", d.fullScreen);
    const int theme = ini.ReadInteger(t, u"Theme", int(d.theme));
    s.theme = theme == int(StageThemeKind::Dark) ? StageThemeKind::Dark : StageThemeKind::LyricColors;
    s.fontName = ini.ReadString(t, u"FontName", d.fontName);
    if (s.fontName.trimmed().isEmpty())
        s.fontName = d.fontName;
    return s;
}

bool StageSettings::save(Convex &ini, const StageSettings &before) const
{
    const QStringView t = kSectionStage;
    bool written = false;
    if (geometry != before.geometry && !geometry.isEmpty()) {
        ini.WriteInteger(t, u"Left", geometry.x());
        ini.WriteInteger(t, u"Top", geometry.y());
        ini.WriteInteger(t, u"Width", geometry.width());
        ini.WriteInteger(t, u"Height", geometry.height());
        written = true;
    }
    if (screen != before.screen) {
        ini.WriteString(t, u"Screen", screen);
        written = true;
    }
    if (fullScreen != before.fullScreen) {
        ini.WriteBool(t, u"FullScreen", fullScreen);
        written = true;
    }
    if (theme != before.theme) {
        ini.WriteInteger(t, u"Theme", int(theme));
        written = true;
    }
    if (fontName != before.fontName) {
        ini.WriteString(t, u"FontName", fontName);
        written = true;
    }
    return written;
}

QRect usableStageGeometry(const QRect &wanted, const QList<QRect> &screens, const QRect &fallback)
{
    for (const QRect &screen : screens) {
        // Enough of it on a screen to grab its title bar.
        const QRect shared = screen & wanted;
        if (shared.width() >= std::min(100, wanted.width()) && shared.height() >= std::min(50, wanted.height()) &&
            screen.contains(QPoint(wanted.center().x(), wanted.top() + 5))) {
            // Wholly on that screen, no larger than it.
            QRect placed(wanted.topLeft(), wanted.size().boundedTo(screen.size()));
            placed.moveLeft(std::clamp(placed.left(), screen.left(), screen.right() + 1 - placed.width()));
            placed.moveTop(std::clamp(placed.top(), screen.top(), screen.bottom() + 1 - placed.height()));
            return placed;
        }
    }
    QSize size = wanted.size().boundedTo(fallback.size());
    if (size.isEmpty())
        size = fallback.size() * 2 / 3;
    QRect placed(QPoint(0, 0), size);
    placed.moveCenter(fallback.center());
    return placed;
}

} // namespace tonelark
