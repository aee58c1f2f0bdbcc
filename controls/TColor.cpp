#include "TColor.h"

#include <iterator>

namespace tonelark {

namespace {

// Classic desktop colours by index, for the indices no palette role stands for.
constexpr QRgb kClassicColors[] = {
    0xC8C8C8, 0x000000, 0x99B4D1, 0xBFCDDB, 0xF0F0F0, 0xFFFFFF, 0x646464, 0x000000,
    0x000000, 0x000000, 0xB4B4B4, 0xF4F7FC, 0xABABAB, 0x0078D7, 0xFFFFFF, 0xF0F0F0,
    0xA0A0A0, 0x6D6D6D, 0x000000, 0x000000, 0xFFFFFF, 0x696969, 0xE3E3E3, 0x000000,
    0xFFFFE1, 0x000000, 0x0066CC, 0xB9D1EA, 0xD7E4F2, 0x0078D7, 0xF0F0F0,
};

} // namespace

QColor colorFromTColor(TColor color, const QPalette &palette)
{
    const auto value = static_cast<std::uint32_t>(color);
    if ((value & 0xFF000000u) == 0xFF000000u) {
        const unsigned index = value & 0xFFu;
        switch (index) {
        case 4: case 15: return palette.color(QPalette::Active, QPalette::Button);        // menu, button face
        case 5: return palette.color(QPalette::Active, QPalette::Base);                   // window
        case 6: case 21: return palette.color(QPalette::Active, QPalette::Shadow);        // window frame, dark shadow
        case 7: case 8: return palette.color(QPalette::Active, QPalette::Text);           // menu text, window text
        case 13: case 29: return palette.color(QPalette::Active, QPalette::Highlight);
        case 14: return palette.color(QPalette::Active, QPalette::HighlightedText);
        case 16: return palette.color(QPalette::Active, QPalette::Mid);                   // button shadow
        case 17: return palette.color(QPalette::Disabled, QPalette::Text);                // grey text
        case 18: return palette.color(QPalette::Active, QPalette::ButtonText);
        case 20: return palette.color(QPalette::Active, QPalette::Light);                 // button highlight
        case 22: return palette.color(QPalette::Active, QPalette::Midlight);
        case 23: return palette.color(QPalette::Active, QPalette::ToolTipText);
        case 24: return palette.color(QPalette::Active, QPalette::ToolTipBase);
        case 26: return palette.color(QPalette::Active, QPalette::Link);
        default:
            if (index < std::size(kClassicColors))
                return QColor(kClassicColors[index]);
            return QColor(Qt::black);
        }
    }
    // 0x00BBGGRR; a stray high byte (palette-relative colours) is ignored.
    return QColor(int(value & 0xFFu), int((value >> 8) & 0xFFu), int((value >> 16) & 0xFFu));
}

TColor tcolorFromRgb(QColor color)
{
    const QColor rgb = color.toRgb();
    return static_cast<TColor>(std::uint32_t(rgb.red()) | (std::uint32_t(rgb.green()) << 8)
                               | (std::uint32_t(rgb.blue()) << 16));
}

} // namespace tonelark
