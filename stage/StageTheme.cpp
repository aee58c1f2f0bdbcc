#include "StageTheme.h"

#include <algorithm>
#include <cmath>

namespace tonelark {

namespace {

double channel(double c)
{
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const QColor &color)
{
    const QColor rgb = color.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
}

QColor mix(const QColor &a, const QColor &b, double t)
{
    const QColor x = a.toRgb(), y = b.toRgb();
    return QColor::fromRgbF(float(x.redF() + (y.redF() - x.redF()) * t),
                            float(x.greenF() + (y.greenF() - x.greenF()) * t),
                            float(x.blueF() + (y.blueF() - x.blueF()) * t));
}

} // namespace

QColor StageTheme::unsungFor(VocalPart part) const
{
    switch (part) {
    case VocalPart::Male: return male;
    case VocalPart::Female: return female;
    case VocalPart::Chorus: return chorus;
    case VocalPart::None: break;
    }
    return unsung;
}

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableOn(const QColor &color, const QColor &background, double ratio)
{
    if (contrastRatio(color, background) >= ratio)
        return color.toRgb();
    // Towards black on a light background, towards white on a dark one; whichever end
    // reaches the ratio (black and white always give at least 4.58 against one of them).
    const QColor black(0, 0, 0), white(255, 255, 255);
    const bool darken = contrastRatio(black, background) >= contrastRatio(white, background);
    const QColor end = darken ? black : white;
    double low = 0.0, high = 1.0;
    for (int step = 0; step < 24; ++step) {
        const double t = (low + high) / 2;
        if (contrastRatio(mix(color, end, t), background) >= ratio)
            high = t;
        else
            low = t;
    }
    return mix(color, end, high);
}

StageTheme stageTheme(StageThemeKind kind, const QColor &lyricBack, const QColor &lyricText,
                      const QColor &windowText)
{
    StageTheme theme;
    if (kind == StageThemeKind::Dark) {
        theme.background = QColor(0x10, 0x10, 0x18);
        theme.unsung = QColor(0xF2, 0xF2, 0xF2);
        theme.sung = QColor(0x3F, 0xC8, 0xFF);
        theme.male = QColor(0x8F, 0xB8, 0xFF);
        theme.female = QColor(0xFF, 0x9E, 0xC4);
        theme.chorus = QColor(0x9E, 0xF0, 0x9E);
    } else {
        theme.background = lyricBack.toRgb();
        theme.unsung = windowText.toRgb();
        theme.sung = lyricText.toRgb();
        theme.male = QColor(0x1F, 0x4F, 0xC0);
        theme.female = QColor(0xC0, 0x2F, 0x6F);
        theme.chorus = QColor(0x2F, 0x80, 0x2F);
    }
    // Sung lines fade a third of the way towards the background, still readable.
    theme.dimmed = mix(theme.unsung, theme.background, 0.35);
    theme.title = theme.unsung;
    theme.countIn = theme.sung;
    for (QColor *text : {&theme.unsung, &theme.sung, &theme.dimmed, &theme.title, &theme.countIn,
                         &theme.male, &theme.female, &theme.chorus})
        *text = readableOn(*text, theme.background);
    return theme;
}

} // namespace tonelark
